#pragma once

#include "Clock.h"
#include "DiapositiveType.h"
#include "FakeNetworkStatus.h"
#include "HttpDownloader.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleRepository.h"
#include "XmlDocument.h"

#include <QString>

#include <memory>
#include <stdexcept>

// The repository of a benchmark's show: its slide types from the templates folder and its list from the
// cache, opened the program's way over an application folder; the types and readable folders are given back
// when it goes. Main thread only.
class TBenchRepository
{
public:
    TBenchRepository(const QString& applicationFolder, const QString& templates, const QString& cache)
    {
        TDiapositiveType::SetTemplateFolder(templates);
        if (!TDiapositiveType::LoadTypes(templates + "/Types.xml"))
            throw std::runtime_error("the slide types cannot be loaded");
        SetXmlReadableFolders({templates, cache});
        Settings = std::make_unique<TVitrelleCenterSettings>(applicationFolder);
        TRepositoryServices services;
        services.Network = std::make_shared<TFakeNetworkStatus>();
        services.Downloaders = std::make_shared<THttpDownloaderFactory>(
            THttpOptions{THttpTimeouts{}, std::make_shared<TSystemClock>()});
        Repository = std::make_unique<TVitrelleRepository>(*Settings, services);
        if (Repository->LoadList() == nullptr)
            throw std::runtime_error("the vitrelle list cannot be loaded");
    }
    ~TBenchRepository()
    {
        Repository.reset();
        TDiapositiveType::FreeTypes();
        TDiapositiveType::SetTemplateFolder(QString());
        SetXmlReadableFolders({});
    }
    TBenchRepository(const TBenchRepository&) = delete;
    TBenchRepository& operator=(const TBenchRepository&) = delete;

    std::unique_ptr<TVitrelleCenterSettings> Settings;
    std::unique_ptr<TVitrelleRepository> Repository;
};
