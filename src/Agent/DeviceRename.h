#pragma once

#include "VitrelleDeviceSettings.h"
#include "VitrelleScheduler.h"

#include <QString>

#include <functional>
#include <memory>

// A display's rename as it is carried out on disk. The schedule names its actions by source and the next
// start finds a display by its settings file, so the display's file, the schedule file and the run state
// must all change or none: the rename is written to a small journal first, and its steps can be done again
// and again with the same outcome. A start that finds the journal (the program was killed half-way) does
// them again to the end.
struct TDeviceRename
{
    // Display names: the device's schedule source is named after it, its player's after "Player <name>".
    QString OldName;
    QString NewName;
    // File names in the device folder. OldFile empty: the display had no file. NewFile empty: none is
    // written (a rename taken back for a display that had no file).
    QString OldFile;
    QString NewFile;
    // What NewFile is to hold; null when NewFile is empty.
    std::unique_ptr<TVitrelleDeviceSettings> Settings;

    // The schedule's renames: the display's own actions and its player's.
    TVitrelleScheduler::TRenames SourceRenames() const;
    // The same rename the other way: back to the old name and file, which gets oldSettings (null when the
    // display had no file).
    TDeviceRename Reversed(std::unique_ptr<TVitrelleDeviceSettings> oldSettings) const;
};

// Where a rename's steps act.
struct TDeviceRenamePlaces
{
    QString DeviceFolder; // with a trailing separator
    QString ScheduleFile;
    // Renames the run state's records (the live scheduler's, or the state file's at start-up).
    std::function<void(const TVitrelleScheduler::TRenames&)> RenameRunRecords;
};

// The journal's file name; in the application folder. Not an .xml name: nothing that reads a folder's XML
// files takes it for one of its own.
inline const QString DeviceRenameJournalName = QStringLiteral("DeviceRename.pending");

// Atomic; raises the file layer's errors.
void WriteDeviceRenameJournal(const QString& path, const TDeviceRename& rename);
// Raises EVitrelleError for a journal that cannot be read or is not one (the file layer's errors for a
// missing one).
TDeviceRename ReadDeviceRenameJournal(const QString& path);
// The steps, in order: the settings file under its new name, the schedule file's sources, the run state's
// records (an error there is logged, not raised), the old file removed (when the name changed). Each may be
// done again with the same outcome. stepsDone counts the steps that ended; the first error is raised.
void CarryOutDeviceRename(const TDeviceRename& rename, const TDeviceRenamePlaces& places, int& stepsDone);
