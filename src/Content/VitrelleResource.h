#pragma once

#include "XmlDocument.h"

#include <QString>

#include <atomic>

// A media or template file that must be present in the repository.
class TVitrelleResource
{
public:
    static constexpr quint8 NotExamined = 254;
    static constexpr quint8 Missing = 0;
    static constexpr quint8 Present = 1;
    static constexpr quint8 Failed = 255;

    TVitrelleResource(QString id, QString src, QString folder)
        : Id(std::move(id)), Src(std::move(src)), Folder(std::move(folder))
    {
    }

    // "id" of the element (empty when absent); "src" replaces Src when present and not empty.
    bool LoadFromNode(TXmlNode element);

    QString Id;     // file name in the repository, and the value put into the download URL pattern
    QString Src;    // download URL pattern, "%s" standing for Id
    QString Folder; // relative to the repository folder
    // Written by the media download worker while the main thread reads it.
    std::atomic<quint8> Status{NotExamined};
};
