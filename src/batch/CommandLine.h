#pragma once

#include <QString>
#include <QStringList>

// The batch mode's command line: "-backup_db" or "-restore_db" (any case) as the first argument,
// then options "/name" or "/name:value" (name in any case, value as written); a later option wins
// over an earlier one. An option the mode does not know, or a value given to a flag, is refused
// before anything else happens (commandLineError): a typo must not let the run go on with
// defaults that act on another database.
enum class BatchMode
{
    None,
    Backup,
    Restore
};

// arguments[0] is the program.
BatchMode batchModeOf(const QStringList& arguments);

// What is wrong with a batch command line, as one line for stderr naming the argument; empty when
// nothing is (and for no batch mode at all).
QString commandLineError(const QStringList& arguments);
// A first argument that is no mode but looks like a mistyped one ("-backupdb", "/backup_db"): the
// line naming it; empty otherwise.
QString mistypedModeText(const QStringList& arguments);
// "/no_dialogs" among a batch mode's options: no window and no message box whatever the display.
bool wantsNoDialogs(const QStringList& arguments);

struct BackupOptions
{
    bool showProgress = true;
    bool addFiles = true;
    bool verify = false;   // read the written backup back with RESTORE VERIFYONLY
    bool copyOnly = false; // BACKUP ... WITH COPY_ONLY: the differential base stays as it was
    QString dbName;
    QString file;
    QString fileUdl;
    QString installDir;
    QString connectionString;
};

struct RestoreOptions
{
    bool showProgress = true;
    bool extractFiles = false;
    bool replace = true;
    bool closeConnections = false; // end other sessions of the database before restoring
    QString dbName;
    QString file;
    QString pathDb;
    QString fileUdl;
    QString connectionString;
    QString installDir;
};

BackupOptions parseBackupOptions(const QStringList& arguments);
// "/restore_file" turns extraction on, as its name says; "/not_restore_file" off.
RestoreOptions parseRestoreOptions(const QStringList& arguments);

// "--config DIR" or "--config=DIR" (any case, anywhere after the program, in either mode): the
// settings folder. It is taken out of the arguments, which then read as without it; a later one
// wins. error names what is wrong (no folder after it), empty when nothing is.
struct ConfigOption
{
    QString folder;
    QString error;
};
ConfigOption takeConfigOption(QStringList& arguments);

// Requests answered on stdout without a window or a server: the usage and the version.
enum class InfoRequest
{
    None,
    Help,    // "--help", "-help", "-h", "-?", "/?", "/help", "/h" (any case)
    Version, // "--version", "-version", "-v", "/version", "/v" (any case)
};

// Only the first argument after the program counts, as for the batch modes.
InfoRequest infoRequestOf(const QStringList& arguments);

// The usage of both batch modes: every option, the exit codes and examples.
QString usageText();
