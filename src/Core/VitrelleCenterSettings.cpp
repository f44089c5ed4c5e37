#include "VitrelleCenterSettings.h"
#include "AtomicFile.h"

#include "Errors.h"
#include "Log.h"
#include "Paths.h"
#include "SettingsXml.h"
#include "XmlHelpers.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

using namespace SettingsXml;

namespace {

QString EffectiveFolder(const QString& configured, const QString& fallback)
{
    if (!configured.isEmpty() && QFileInfo(configured).isDir())
        return IncludeTrailingPathDelimiter(configured);
    return fallback;
}

QString EffectiveFile(const QString& configured, const QString& fallback)
{
    if (!configured.isEmpty() && QFileInfo(configured).isFile())
        return ForceXmlExtension(configured);
    return ForceXmlExtension(fallback);
}

} // namespace

TVitrelleCenterSettings::TVitrelleCenterSettings(QString basePath)
    : FBasePath(std::move(basePath)), FHttpSettings(std::make_unique<THttpSettings>()),
      FVitrelleUpdateTime(std::make_unique<TActionPeriodicity>(TActionPeriodicity::EveryHour, QTime(0, 0)))
{
}

TVitrelleCenterSettings::~TVitrelleCenterSettings() = default;

std::unique_ptr<TVitrelleCenterSettings> TVitrelleCenterSettings::Clone() const
{
    auto copy = std::make_unique<TVitrelleCenterSettings>(QString());
    copy->Assign(this);
    return copy;
}

void TVitrelleCenterSettings::Assign(const TVitrelleCenterSettings* source)
{
    if (source == nullptr || source == this)
        return;
    FBasePath = source->FBasePath;
    FHttpSettings->Assign(source->FHttpSettings.get());
    FRepositoryPath = source->FRepositoryPath;
    FDevicePath = source->FDevicePath;
    FTemplatePath = source->FTemplatePath;
    FTypeFilePath = source->FTypeFilePath;
    FVitrelleListFilePath = source->FVitrelleListFilePath;
    VitrelleAutoUpdate = source->VitrelleAutoUpdate;
    MetricsFile = source->MetricsFile;
    PlayJournalDays = source->PlayJournalDays;
    Fleet = source->Fleet;
    SlideAllowedOrigins = source->SlideAllowedOrigins;
    SlideVideoSound = source->SlideVideoSound;
    FVitrelleUpdateTime->Assign(source->FVitrelleUpdateTime.get());
}

bool TVitrelleCenterSettings::Equals(const TVitrelleCenterSettings* other) const
{
    return other != nullptr && SamePath(FBasePath, other->FBasePath) &&
           SamePath(FRepositoryPath, other->FRepositoryPath) && SamePath(FDevicePath, other->FDevicePath) &&
           SamePath(FTemplatePath, other->FTemplatePath) && SamePath(FTypeFilePath, other->FTypeFilePath) &&
           SamePath(FVitrelleListFilePath, other->FVitrelleListFilePath) &&
           FHttpSettings->Equals(other->FHttpSettings.get()) &&
           SlideAllowedOrigins == other->SlideAllowedOrigins && SlideVideoSound == other->SlideVideoSound &&
           MetricsFile == other->MetricsFile && PlayJournalDays == other->PlayJournalDays &&
           Fleet == other->Fleet;
}

bool TVitrelleCenterSettings::LoadFromFile(const QString& fileName)
{
    TXmlDocument document;
    if (!LoadXmlFile(document, fileName, QStringLiteral("Cannot find configuration file %1"), nullptr))
        return false; // an unparsable file keeps the values
    const TXmlNode root = document.DocumentElement();
    FDevicePath = GetNodeValue(root, DevicePathElement, QString());
    FRepositoryPath = GetNodeValue(root, RepositoryPathElement, QString());
    FTemplatePath = GetNodeValue(root, TemplatePathElement, QString());
    FVitrelleListFilePath = GetNodeValue(root, VitrelleListFilePathElement, QString());
    FTypeFilePath = GetNodeValue(root, TypeFilePathElement, QString());
    FHttpSettings->Load(root);
    VitrelleAutoUpdate = GetNodeBoolValue(root, VitrelleAutoUpdateElement, false);
    MetricsFile = GetNodeValue(root, MetricsFileElement, QString());
    bool daysRead = false;
    const int days = GetNodeValue(root, PlayJournalDaysElement, QString()).toInt(&daysRead);
    PlayJournalDays = daysRead && days >= 1 && days <= 36500 ? days : DefaultPlayJournalDays;
    SlideAllowedOrigins = GetNodeValue(root, SlideAllowedOriginsElement, QString());
    SlideVideoSound = GetNodeBoolValue(root, SlideVideoSoundElement, false);
    const TXmlNode updateTime = root.SelectSingleNode(VitrelleUpdateTimeElement);
    FVitrelleUpdateTime->LoadFromXML(updateTime);
    Fleet.Load(root);
    if (!updateTime.IsNull() && !TActionPeriodicity::TimeReadable(updateTime))
        WriteLog(
            LogSource, 2,
            QStringLiteral("Cannot read the time of day '%1' of the %2 element in line %3: 00:00:00 is used")
                .arg(TActionPeriodicity::TimeText(updateTime), updateTime.Name(),
                     QString::number(updateTime.Line())));
    return true;
}

bool TVitrelleCenterSettings::SaveToFile(const QString& fileName) const
{
    TXmlDocument document;
    TXmlNode root = document.CreateDocumentElement(RootElement);
    AddNodeValue(&document, root, DevicePathElement, FDevicePath);
    AddNodeValue(&document, root, RepositoryPathElement, FRepositoryPath);
    AddNodeValue(&document, root, TemplatePathElement, FTemplatePath);
    AddNodeValue(&document, root, VitrelleListFilePathElement, FVitrelleListFilePath);
    AddNodeValue(&document, root, TypeFilePathElement, FTypeFilePath);
    FHttpSettings->Save(&document, root);
    AddNodeValue(&document, root, VitrelleAutoUpdateElement, BoolToText(VitrelleAutoUpdate));
    TXmlNode updateTime = document.AppendElement(root, VitrelleUpdateTimeElement);
    FVitrelleUpdateTime->SaveToXML(&document, updateTime);
    // Written only when set, so that a file without them stays as it was.
    if (!SlideAllowedOrigins.isEmpty())
        AddNodeValue(&document, root, SlideAllowedOriginsElement, SlideAllowedOrigins);
    if (SlideVideoSound)
        AddNodeValue(&document, root, SlideVideoSoundElement, BoolToText(SlideVideoSound));
    if (!MetricsFile.isEmpty())
        AddNodeValue(&document, root, MetricsFileElement, MetricsFile);
    if (PlayJournalDays != DefaultPlayJournalDays)
        AddNodeValue(&document, root, PlayJournalDaysElement, QString::number(PlayJournalDays));
    Fleet.Save(&document, root);
    document.SaveToFile(fileName, TAtomicFileWriter::OwnerOnlyPermissions);
    return true;
}

void TVitrelleCenterSettings::RemoveLeftoverFiles() const
{
    const QString cache = AbsolutePath(GetRepositoryPath());
    int removed = RemoveLeftoverTemporaryFiles(cache, true);
    for (const QString& folder : {AbsolutePath(GetBasePath()), AbsolutePath(GetDevicePath()),
                                  QFileInfo(AbsolutePath(GetVitrelleListFilePath())).absolutePath()})
        if (!folder.startsWith(IncludeTrailingPathDelimiter(cache)) && folder != cache)
            removed += RemoveLeftoverTemporaryFiles(folder, false);
    // The repository fetches the list beside the list file before it takes it.
    if (QFile::remove(AbsolutePath(GetVitrelleListFilePath()) + QLatin1String(".download")))
        ++removed;
    if (removed > 0)
        WriteLog(LogSource, 3,
                 QStringLiteral("%1 temporary files left by an earlier run were removed").arg(removed));
}

QString TVitrelleCenterSettings::GetBasePath() const
{
    return IncludeTrailingPathDelimiter(FBasePath);
}

QString TVitrelleCenterSettings::GetSettingsFileName() const
{
    return GetBasePath() + QLatin1String("VitrelleCenter.xml");
}

QString TVitrelleCenterSettings::GetScheduleFileName() const
{
    return GetBasePath() + QLatin1String("Schedule.xml");
}

QString TVitrelleCenterSettings::GetRepositoryPath() const
{
    return EffectiveFolder(FRepositoryPath, GetBasePath() + QLatin1String("Cache/"));
}

QString TVitrelleCenterSettings::GetDevicePath() const
{
    return EffectiveFolder(FDevicePath, GetBasePath() + QLatin1String("Devices/"));
}

QString TVitrelleCenterSettings::GetTemplatePath() const
{
    return EffectiveFolder(FTemplatePath, GetBasePath() + QLatin1String("Templates/"));
}

QString TVitrelleCenterSettings::GetVitrelleListFilePath() const
{
    return EffectiveFile(FVitrelleListFilePath, GetRepositoryPath() + QLatin1String("VitrelleList"));
}

QString TVitrelleCenterSettings::GetTypeFilePath() const
{
    return EffectiveFile(FTypeFilePath, GetTemplatePath() + QLatin1String("Types"));
}

QString TVitrelleCenterSettings::FolderConflict() const
{
    const auto folderText = [](const QString& path) {
        return IncludeTrailingPathDelimiter(AbsolutePath(path));
    };
    const QString cache = GetRepositoryPath();
    const QString base = GetBasePath();
    if (PathWithin(base, cache))
        return PathWithin(cache, base)
                   ? QStringLiteral(
                         "The cache folder %1 is the application folder: the cache needs a folder of "
                         "its own")
                         .arg(folderText(cache))
                   : QStringLiteral(
                         "The cache folder %1 contains the application folder %2: the cache needs a "
                         "folder of its own")
                         .arg(folderText(cache), folderText(base));
    const std::pair<QString, QString> others[] = {{GetDevicePath(), QStringLiteral("device folder")},
                                                  {GetTemplatePath(), QStringLiteral("template folder")}};
    for (const auto& [folder, what] : others) {
        const bool inside = PathWithin(cache, folder);
        const bool contains = PathWithin(folder, cache);
        if (!inside && !contains)
            continue;
        const QString relation = inside && contains ? QStringLiteral("is the %1 %2")
                                 : inside           ? QStringLiteral("lies inside the %1 %2")
                                                    : QStringLiteral("contains the %1 %2");
        return QStringLiteral("The cache folder %1 %2: the cache needs a folder of its own")
            .arg(folderText(cache), relation.arg(what, folderText(folder)));
    }
    const QString list = AbsolutePath(GetVitrelleListFilePath());
    if (SamePath(ResolvedPath(QFileInfo(list).absolutePath()), ResolvedPath(base)))
        return QStringLiteral(
                   "The vitrelle list file %1 lies in the application folder, beside the program's own "
                   "files: choose a file in another folder")
            .arg(list);
    for (const auto& [folder, what] : others)
        if (PathWithin(list, folder))
            return QStringLiteral("The vitrelle list file %1 lies inside the %2 %3: choose a file in another "
                                  "folder")
                .arg(list, what, folderText(folder));
    return {};
}

void TVitrelleCenterSettings::ExpandPaths()
{
    FBasePath = GetBasePath();
    FRepositoryPath = GetRepositoryPath();
    FDevicePath = GetDevicePath();
    FTemplatePath = GetTemplatePath();
    FTypeFilePath = GetTypeFilePath();
    FVitrelleListFilePath = GetVitrelleListFilePath();
}
