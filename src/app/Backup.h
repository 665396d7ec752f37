#pragma once

#include "app/Command.h"

#include <QDateTime>
#include <QString>
#include <vector>

class AppCore;

// Configuration backups: the configuration of every selected device read in one operation
// into a folder, one MAC.cfg a device (the device's own file, which the configuration
// window's Load reads and write-config --file writes back), and an index.json that lists
// each device's model, MAC, IP address, name, firmware version, the time of its file, the
// file's SHA-256 and the device's final Status.

// Backups/yyyy-MM-dd_HHmmss of the data folder; a folder of that name that exists already
// gets "-2", "-3", ... after it.
QString DefaultBackupFolder(const AppCore& core, const QDateTime& now);

// The read list for the selected rows: each row in the running, one try, its configuration
// put to folder/MAC.cfg. Rows whose MAC cannot name a file end "Unsuccess!" and are left out.
std::vector<Command> CompileBackup(AppCore& core, const QString& folder);

struct BackupOutcome
{
    QString folder;
    QString indexFile;
    int ok = 0;
    int failed = 0;
    bool indexWritten = false;
    QString indexError; // the log line naming the index and why it was not written
};

// Backs up the selected rows into folder (created when missing), with the progress display;
// runs the event loop until every read has ended. A row ends "OK" only when its file arrived
// and write-config would take it back;
// the index is written last, before the operation's summary line. Raises a VxError before
// anything is sent when the folder cannot be made.
BackupOutcome BackUpConfigurations(AppCore& core, const QString& folder);

namespace BackupText {
inline const QString Caption = QStringLiteral("Back Up Configurations");
inline const QString Prompt = QStringLiteral("Reading configurations...");
inline const QString AllQuestion =
    QStringLiteral("Do you want to back up the configurations of all devices?");
inline const QString AllCaption = QStringLiteral("Back up all devices");
// Logged before the summary line, followed by the folder.
inline const QString FolderLine = QStringLiteral("Configurations saved in ");
// Logged after the MAC when the device answered but its file did not arrive.
inline const QString FileMissing = QStringLiteral(" Backup file missing!");
// The reason of a device whose file arrived but write-config would refuse to restore it,
// followed by why.
inline const QString NotRestorable =
    QStringLiteral("its backup could not be restored by write-config: ");
// Logged before the path when index.json cannot be written.
inline const QString IndexFail = QStringLiteral("Cannot write the backup index ");
inline const QString IndexName = QStringLiteral("index.json");
} // namespace BackupText

inline constexpr int AppErrorBackupFolder = -2021;
