// The agent's renames of displays: the operation itself and the finishing of one a kill interrupted.

#include "DeviceRename.h"
#include "Errors.h"
#include "Log.h"
#include "LogErrors.h"
#include "MainThread.h"
#include "Paths.h"
#include "ScheduleRunState.h"
#include "VitrelleCenterAgent.h"
#include "XmlHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

QString TVitrelleCenterAgent::RenameJournalPath() const
{
    return IncludeTrailingPathDelimiter(AbsolutePath(FSettings->GetBasePath())) + DeviceRenameJournalName;
}

void TVitrelleCenterAgent::CheckRenameIsFree(int index, const QString& displayName, const QString& fileName,
                                             const QString& ownFile) const
{
    const TVitrelleDevice& device = Devices(index);
    const IScheduleSource* player = index < PlayerCount() ? &Players(index) : nullptr;
    const QString folder = GetDeviceFolder();
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    const auto nameTaken = [&displayName]() {
        return EVitrelleError(
            QStringLiteral("The name '%1' is already used by another display; give this one another name")
                .arg(displayName));
    };
    if (!displayName.isEmpty()) {
        for (int i = 0; i < DeviceCount(); ++i)
            if (i != index && SameName(Devices(i).GetDisplayName(), displayName))
                throw nameTaken();
        // Scheduled actions belong to their source by name: the display and its player would take another
        // source's actions.
        for (const QString& sourceName : {displayName, TVitrellePlayer::SourceNameOf(displayName)}) {
            const IScheduleSource* found = FScheduler->FindSource(sourceName);
            if (found != nullptr && found != &device && found != player)
                throw nameTaken();
        }
        // The names the next start gives: those of the files, of displays present or not.
        for (const QString& file : files) {
            if (SameName(file, ownFile) || !file.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive))
                continue;
            TVitrelleDeviceSettings stored;
            try {
                if (!stored.LoadFromFile(folder + file))
                    continue; // not read at start either
            } catch (const EVitrelleError&) {
                continue; // a file that cannot be read names nobody
            }
            QString storedName = stored.Name;
            if (storedName.isEmpty()) // the display that has it shows its number
                for (int i = 0; i < DeviceCount(); ++i)
                    if (i != index && SameName(Devices(i).GetConfigFileName(), file))
                        storedName = Devices(i).GetDisplayName();
            if (SameName(storedName, displayName))
                throw EVitrelleError(QStringLiteral("The name '%1' is already used by another display (its "
                                                    "settings file %2); give this one another name")
                                         .arg(displayName, file));
        }
    }
    if (fileName.isEmpty())
        return;
    for (int i = 0; i < DeviceCount(); ++i)
        if (i != index && SameName(Devices(i).GetConfigFileName(), fileName))
            throw EVitrelleError(QStringLiteral("The settings file name '%1' is already used by another "
                                                "display; give this one another file name")
                                     .arg(fileName));
    for (const QString& file : files)
        if (SameName(file, fileName) && !SameName(file, ownFile))
            throw EVitrelleError(
                QStringLiteral("The devices folder has a file '%1' already; give this display "
                               "another file name")
                    .arg(fileName));
}

void TVitrelleCenterAgent::RenameDevice(int index, const QString& name, const QString& fileName)
{
    VC_ASSERT_MAIN_THREAD();
    TVitrelleDevice& device = Devices(index);
    // The agent reads the settings files of the device folder only: a name that leads elsewhere would be
    // written where it is never read again.
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('/')) || fileName == QLatin1String(".") ||
        fileName == QLatin1String(".."))
        throw EVitrelleError(
            QStringLiteral("The settings file name '%1' is not a file name of the devices folder")
                .arg(fileName));
    const QString newFile = ForceXmlExtension(fileName);
    const QString oldName = device.GetDisplayName();
    const QString newName = device.DisplayNameOf(name);
    const QString ownFile = device.GetConfigFileName();
    if (newName.isEmpty())
        throw EVitrelleError(QStringLiteral("A display without a monitor cannot be renamed"));
    if (newName == oldName && newFile == ownFile)
        return;
    CheckRenameIsFree(index, SameName(newName, oldName) ? QString() : newName,
                      SameName(newFile, ownFile) ? QString() : newFile, ownFile);

    const QString folder = GetDeviceFolder();
    const QString ownPath = folder + ownFile;
    // What the file holds now: the rename changes the names in it and nothing else.
    std::unique_ptr<TVitrelleDeviceSettings> old;
    if (QFileInfo(ownPath).isFile()) {
        old = std::make_unique<TVitrelleDeviceSettings>();
        if (!old->LoadFromFile(ownPath)) // a broken file is replaced by the defaults
            old = std::make_unique<TVitrelleDeviceSettings>();
    }
    TDeviceRename rename;
    rename.OldName = oldName;
    rename.NewName = newName;
    rename.OldFile = old ? ownFile : QString();
    rename.NewFile = newFile;
    rename.Settings =
        old ? std::make_unique<TVitrelleDeviceSettings>(*old) : std::make_unique<TVitrelleDeviceSettings>();
    rename.Settings->Name = name;
    rename.Settings->FileName = newFile;
    // The display actually present, so that the next start gives it this file.
    rename.Settings->DeviceInfo() = device.Settings().DeviceInfo();

    TDeviceRenamePlaces places;
    places.DeviceFolder = folder;
    places.ScheduleFile = FSettings->GetScheduleFileName();
    places.RenameRunRecords = [this](const TVitrelleScheduler::TRenames& renames) {
        FScheduler->RenameRunRecords(renames);
    };
    const QString journal = RenameJournalPath();
    WriteDeviceRenameJournal(journal, rename); // from here on the rename is made, now or at the next start
    int stepsDone = 0;
    try {
        CarryOutDeviceRename(rename, places, stepsDone);
    } catch (const std::exception&) {
        // The operator sees the error and the display keeps its name: what was done is taken back, the same
        // way. When even that fails the journal stays, and the next start finishes whichever it holds.
        const bool undone = LogErrors(LogSource, [&] {
            if (stepsDone > 0) {
                const TDeviceRename back = rename.Reversed(std::move(old));
                WriteDeviceRenameJournal(journal, back);
                int backSteps = 0;
                CarryOutDeviceRename(back, places, backSteps);
            }
            QFile::remove(journal);
        });
        if (!undone)
            WriteLog(
                LogSource, 1,
                QStringLiteral("The rename of display '%1' to '%2' failed half-way; the next start finishes "
                               "it as %3 says")
                    .arg(oldName, newName, journal));
        throw;
    }
    if (!QFile::remove(journal) && QFileInfo::exists(journal))
        WriteLog(LogSource, 2,
                 QStringLiteral("Cannot remove %1; the next start does the rename again").arg(journal));

    TVitrelleDeviceSettings& live = device.Settings();
    // Moved in: the assignment is then compiled here, where ThreadSanitizer sees a reader on another thread,
    // rather than inside the toolkit's uninstrumented library.
    live.Name = QString(name);
    live.FileName = newFile;
    device.PublishName();
    WriteLog(
        LogSource, 3,
        QStringLiteral("Display device '%1' is now '%2', its settings in %3, its scheduled actions with it")
            .arg(oldName, newName, newFile));
    Q_EMIT FNotifier.DeviceRenamed(index, oldName);
}

void TVitrelleCenterAgent::FinishInterruptedRename()
{
    const QString journal = RenameJournalPath();
    if (!QFileInfo::exists(journal))
        return;
    TDeviceRename rename;
    try {
        rename = ReadDeviceRenameJournal(journal);
    } catch (const EVitrelleError& error) {
        // Written atomically by the program: only a hand can have broken it. There is nothing to finish.
        WriteLog(LogSource, 1, QStringLiteral("%1; it is removed").arg(error.Message()));
        QFile::remove(journal);
        return;
    }
    const QString scheduleFile = FSettings->GetScheduleFileName();
    TDeviceRenamePlaces places;
    places.DeviceFolder = GetDeviceFolder();
    places.ScheduleFile = scheduleFile;
    places.RenameRunRecords = [&scheduleFile](const TVitrelleScheduler::TRenames& renames) {
        TScheduleRunState state;
        state.Open(TScheduleRunState::PathBeside(scheduleFile));
        state.RenameSources(renames);
    };
    int stepsDone = 0;
    CarryOutDeviceRename(rename, places, stepsDone); // an error keeps the journal for the next start
    QFile::remove(journal);
    WriteLog(
        LogSource, 2,
        QStringLiteral("The rename of display '%1' to '%2' was interrupted by the end of the program; it "
                       "is finished now")
            .arg(rename.OldName, rename.NewName));
}
