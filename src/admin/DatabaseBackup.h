#pragma once

#include "ServerProgress.h"

#include <QDateTime>
#include <QString>

namespace db {
class Connection;
}
class ServerDisk;

// Backing a database up to a file, and reading the file back.

// The newest backup file of a database in the server's backup history, or "" when it has none.
// Errors pass on.
QString LastBackupFile(db::Connection& connection, const QString& databaseName);

// "<name>_ddmmyy.bak".
QString DefaultBackupFileName(const QString& databaseName, const QDate& today);

// The BACKUP statement for a database, file and description at the given local time; copyOnly
// adds COPY_ONLY (a copy taken aside leaves the differential base of the regular backups alone).
QString BackupStatement(const QString& databaseName, const QString& backupFile,
                        const QString& description, const QDateTime& now, bool copyOnly = false);
// Creates the backup file's folder, here or through the server when the file is the server's.
// Throws MyException with the folder error.
void MakeBackupFolder(const QString& backupFile, ServerDisk& disk);
// Creates the backup file's folder, then backs up asynchronously and, when verify is set, has the
// server read the file back (RESTORE VERIFYONLY). A backup file already at a local path is kept
// aside until then and put back when either fails. Throws MyException with the folder, backup or
// verification error (the server's error attached, and whose disk or rights are at fault when the
// server says). Returns why an existing backup could not be kept aside (the server wrote over it),
// or an empty text.
QString MSSQLBackupDB(const QString& databaseName, const QString& backupFile,
                      const QString& description, db::Connection& connection, ServerDisk& disk,
                      const ServerProgress& progress, bool verify = false, bool copyOnly = false);

// Has the server read the backup file whole and check it (RESTORE VERIFYONLY). Throws
// MyException naming the file, with the server's error, when the backup is not sound.
void MSSQLVerifyBackup(const QString& backupFile, db::Connection& connection,
                       const ServerProgress& progress);
