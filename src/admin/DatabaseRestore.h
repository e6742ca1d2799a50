#pragma once

#include "ServerProgress.h"

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>

namespace db {
class Connection;
}
class ServerDisk;

// Restoring a database from a backup file: the plan, checked before anything changes, then the
// restore itself.

// The RESTORE statement: every file of the backup moved into the restore folder, under the
// file name it had where the backup was taken, or under targetName when one is given.
struct BackupFileEntry
{
    QString logicalName;
    QString physicalName;
    QChar type = u'D'; // "D" data, "L" log, as RESTORE FILELISTONLY says
    QString targetName;
};
// The names a copy's files get beside its original: "<name>.mdf", "<name>_log.ldf", further
// data files "<name>_<n>.ndf" and logs "<name>_log_<n>.ldf"; characters no file name may hold
// become "_".
QStringList CopyFileNames(const QString& databaseName, const QList<BackupFileEntry>& files);
QString RestoreStatement(const QString& databaseName, const QString& backupFile,
                         const QString& restoreFolder, const QList<BackupFileEntry>& files,
                         bool replace);
// A restore checked and ready to send.
struct RestorePlan
{
    QString databaseName;
    QString backupFile; // macros expanded
    QString folder;     // macros expanded, with its trailing separator
    QList<BackupFileEntry> files;
    bool replace = false;
};
// Asks everything that can refuse a restore before anything changes: the backup file and the
// folder where they are (here, or through the server; the folder is made), the backup's file
// list, and where each file goes. A file goes over an existing one only when that is the
// replaced database's own (the server's file list says); otherwise the files are named after the
// new database, and when those names are taken too the restore is refused naming the file.
// Throws MyException with the backup-file, folder or refusal text; the file list's error
// unchanged unless it says whose disk or rights are at fault.
RestorePlan PrepareRestore(const QString& databaseName, const QString& backupFile,
                           const QString& restoreFolder, bool replace, db::Connection& connection,
                           ServerDisk& disk, const ServerProgress& progress);
// Sends the restore, after prefix in the same batch, and waits for it. Throws MyException with
// the restore error.
void RunRestore(const RestorePlan& plan, db::Connection& connection, ServerDisk& disk,
                const ServerProgress& progress, const QString& prefix = {});
// Both of the above.
void MSSQLRestoreDB(const QString& databaseName, const QString& backupFile,
                    const QString& restoreFolder, bool replace, db::Connection& connection,
                    ServerDisk& disk, const ServerProgress& progress);
