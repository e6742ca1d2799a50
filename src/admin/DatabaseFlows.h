#pragma once

#include "MyMSSQL.h" // ServerProgress; the window's tabs still take the operations from here

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace db {
class Connection;
}
class OperatorUi;
class QIODevice;
class ServerDisk;

// What the backup and restore flows work with, handed over by the window or the batch mode.
struct FlowContext
{
    db::Connection& connection;
    OperatorUi& ui;
    QString settingsDir;      // holds the exclusion list
    QString apprNamePathName; // the executable whose version travels with the files
    qint64 maxSizeAddDB = 0;
    ServerProgress progress; // pump every 10 ms; percent < 0 clears the display
    // Free bytes where a file would be written; nothing when unknown. Tests replace it.
    std::function<std::optional<quint64>(const QString& path)> freeBytes;
    // Wraps each file the restore writes into the installation folder; tests make the disk fill.
    std::function<std::unique_ptr<QIODevice>(QIODevice& file)> wrapOutput = {};
    // A batch run: application files that could not be written fail the restore.
    bool failOnUnwrittenFiles = false;
    // Where the server's files are; the window keeps one for its connection. Without one, the
    // flow asks the server itself.
    ServerDisk* disk = nullptr;
    // Other sessions in a database about to be restored over: ended (true), left to make the
    // restore fail and be named in its error (false), or the operator asked (empty).
    std::optional<bool> closeSessions = std::nullopt;
    // The success message box: a run without a display says the same in its summary line.
    bool successMessage = true;
    // Called once the database is restored, before the application files are written: a script
    // learns what succeeded before an error that may follow.
    std::function<void()> restored = {};
};

// What a backup did, for a script's summary line.
struct BackupOutcome
{
    bool made = false;
    QString filesNotStored;  // why the application files are not (all) in the backup
    QString previousNotKept; // why the backup the file held before was written over
};

// Ends a flow between its steps with MyException "Работа прервана." when the context's progress
// says a stop was asked for.
void ThrowIfStopped(const ServerProgress& progress);

// A full backup, the application's files stored in the database first when addFiles is set,
// the file read back by the server (RESTORE VERIFYONLY) when verify is set, COPY_ONLY when
// copyOnly is. Returns normally after a backup, after the operator declined to go on without the
// files (made is false), and at once for an empty name; every other failure throws, after the
// progress window is closed.
BackupOutcome BackupDB(FlowContext& context, const QString& databaseName, const QString& installDir,
                       const QString& backupFile, bool addFiles, bool showProgress,
                       bool verify = false, bool copyOnly = false);

// Whether the operator lets the application files stored in a database replace the installed
// ones of a newer version; the versions are their digits ("7520").
bool AcceptOlderFiles(OperatorUi& ui, const QString& installedVersion,
                      const QString& storedVersion);

// Restores under a name into a folder, then writes the stored application files back into the
// installation folder when extractFiles is set, asking AcceptOlderFiles first when askVersion is
// set and the stored files are older.
void RestoreDB(FlowContext& context, const QString& databaseName, const QString& backupFile,
               const QString& restoreFolder, const QString& installDir, bool replace,
               bool extractFiles, bool showProgress, bool askVersion);
