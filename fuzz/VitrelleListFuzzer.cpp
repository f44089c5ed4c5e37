// The vitrelle list as the repository reads it from its cache: loaded, a downloader prepared for each listed
// vitrelle whose id may name a file, and every listed id looked up again. No server is configured, so
// nothing is fetched.
#include "FuzzSupport.h"

#include "Errors.h"
#include "HttpDownloader.h"
#include "VitrelleCenterSettings.h"
#include "VitrelleDownloader.h"
#include "VitrelleRepository.h"

#include <QFileInfo>

namespace {

class TOffline : public INetworkStatus
{
public:
    bool IsConnectedToInternet() const override { return false; }
};

class TNoServer : public TDownloader
{
public:
    bool Download(const QString&, const QString&) override { return false; }
    bool DownloadVitrelle(const QString&, const QString&) override { return false; }
    bool DownloadResource(const TVitrelleResource*, const QString&) override { return false; }
    bool DownloadVitrelleList(const QString&) override { return false; }
    void SetCancelCheck(std::function<bool()>) override {}
};

class TNoServers : public IDownloaderFactory
{
public:
    std::unique_ptr<TDownloader> CreateDownloader(const THttpSettings&) const override
    {
        return std::make_unique<TNoServer>();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInitialize();
    TVitrelleCenterSettings settings(FuzzFolder());
    settings.SetRepositoryPath(FuzzFolder() + QStringLiteral("/Cache"));
    FuzzWriteFile(QStringLiteral("Cache/VitrelleList.xml"),
                  QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    {
        TVitrelleRepository repository(
            settings, {[] { return nullptr; }, std::make_shared<TOffline>(), std::make_shared<TNoServers>()});
        try {
            if (const TVitrelleList* list = repository.LoadList()) {
                for (const auto& vitrelle : *list) {
                    FUZZ_CHECK(repository.FindById(vitrelle->Id) != nullptr,
                               QStringLiteral("listed id %1 is not found").arg(vitrelle->Id));
                    const QString file = repository.VitrelleFilePath(vitrelle->Id);
                    // A listed id names a file inside the cache folder, or none at all.
                    FUZZ_CHECK(file.isEmpty() || QFileInfo(file).absolutePath() + QLatin1Char('/') ==
                                                     repository.RepositoryFolder(),
                               QStringLiteral("id %1 gives the file %2").arg(vitrelle->Id, file));
                    (void)repository.FindByName(vitrelle->Name);
                }
                FUZZ_CHECK(repository.DownloaderCount() <= list->Count(),
                           QStringLiteral("more downloaders than listed vitrelles"));
            }
        } catch (const EVitrelleError&) {
            // A list that does not parse is raised after it was logged.
        }
    }
    FuzzResetGlobalState();
    return 0;
}
