#include "DeviceRename.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "LogErrors.h"
#include "ScheduleRunState.h"
#include "VitrellePlayer.h"
#include "XmlDocument.h"
#include "XmlHelpers.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString RootElement = QStringLiteral("DeviceRename");
const QString OldNameElement = QStringLiteral("OldName");
const QString NewNameElement = QStringLiteral("NewName");
const QString OldFileElement = QStringLiteral("OldFile");
const QString NewFileElement = QStringLiteral("NewFile");
const QString SettingsElement = QStringLiteral("Settings");

// A name taken from the journal must not lead out of the device folder, whatever wrote the file.
QString PlainFileName(const QString& name, const QString& journal)
{
    if (name.contains(QLatin1Char('/')) || name == QLatin1String(".") || name == QLatin1String(".."))
        throw EVitrelleError(
            QStringLiteral("The display rename in %1 names the file '%2', which is not a file "
                           "name of the devices folder")
                .arg(journal, name));
    return name;
}

} // namespace

TVitrelleScheduler::TRenames TDeviceRename::SourceRenames() const
{
    return {{OldName, NewName},
            {TVitrellePlayer::SourceNameOf(OldName), TVitrellePlayer::SourceNameOf(NewName)}};
}

TDeviceRename TDeviceRename::Reversed(std::unique_ptr<TVitrelleDeviceSettings> oldSettings) const
{
    TDeviceRename back;
    back.OldName = NewName;
    back.NewName = OldName;
    back.OldFile = NewFile;
    back.NewFile = oldSettings ? OldFile : QString();
    back.Settings = std::move(oldSettings);
    return back;
}

void WriteDeviceRenameJournal(const QString& path, const TDeviceRename& rename)
{
    TXmlDocument document;
    const TXmlNode root = document.CreateDocumentElement(RootElement);
    AddNodeValue(&document, root, OldNameElement, rename.OldName);
    AddNodeValue(&document, root, NewNameElement, rename.NewName);
    AddNodeValue(&document, root, OldFileElement, rename.OldFile);
    AddNodeValue(&document, root, NewFileElement, rename.NewFile);
    if (rename.Settings)
        rename.Settings->SaveToXML(&document, document.AppendElement(root, SettingsElement));
    document.SaveToFile(path); // atomic
}

TDeviceRename ReadDeviceRenameJournal(const QString& path)
{
    TXmlDocument document;
    if (!LoadXmlFile(document, path, QStringLiteral("Cannot find %1"), nullptr))
        throw EVitrelleError(QStringLiteral("The display rename in %1 cannot be read").arg(path));
    const TXmlNode root = document.DocumentElement();
    if (root.IsNull() || root.Name() != RootElement)
        throw EVitrelleError(QStringLiteral("%1 holds no display rename").arg(path));
    TDeviceRename rename;
    rename.OldName = GetNodeValue(root, OldNameElement, QString());
    rename.NewName = GetNodeValue(root, NewNameElement, QString());
    rename.OldFile = PlainFileName(GetNodeValue(root, OldFileElement, QString()), path);
    rename.NewFile = PlainFileName(GetNodeValue(root, NewFileElement, QString()), path);
    if (rename.OldName.isEmpty() || rename.NewName.isEmpty())
        throw EVitrelleError(QStringLiteral("The display rename in %1 has no names").arg(path));
    const TXmlNode settings = root.SelectSingleNode(SettingsElement);
    if (!rename.NewFile.isEmpty()) {
        if (settings.IsNull())
            throw EVitrelleError(QStringLiteral("The display rename in %1 has no settings").arg(path));
        rename.Settings = std::make_unique<TVitrelleDeviceSettings>();
        rename.Settings->LoadFromXML(settings, path);
        rename.Settings->FileName = rename.NewFile;
    }
    return rename;
}

void CarryOutDeviceRename(const TDeviceRename& rename, const TDeviceRenamePlaces& places, int& stepsDone)
{
    stepsDone = 0;
    if (rename.Settings && !rename.NewFile.isEmpty())
        rename.Settings->SaveToFile(places.DeviceFolder + rename.NewFile);
    ++stepsDone;
    const TVitrelleScheduler::TRenames renames = rename.SourceRenames();
    TVitrelleScheduler::RenameSourcesInFile(places.ScheduleFile, renames); // false: nothing of it named
    ++stepsDone;
    // As for a run recorded: a state file that cannot be written costs at most a second run of today's
    // actions, not the rename (the records in memory are renamed).
    if (places.RenameRunRecords)
        LogErrors(TScheduleRunState::LogSource, [&] { places.RenameRunRecords(renames); });
    ++stepsDone;
    // Last: until the new file is there, the old one is what the next start would find.
    if (!rename.OldFile.isEmpty() && rename.OldFile != rename.NewFile) {
        const QString old = places.DeviceFolder + rename.OldFile;
        if (QFileInfo::exists(old) && !QFile::remove(old))
            throw EFileError(QStringLiteral("Cannot remove the display settings file %1").arg(old));
        // The removal reaches the disk before the journal goes.
        SystemFileSink().FlushFolder(places.DeviceFolder);
    }
    ++stepsDone;
}
