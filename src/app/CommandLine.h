#pragma once

#include <QString>
#include <QStringList>

// The batch mode's command line: "-backup_db" or "-restore_db" (any case) as the first argument,
// then options "/name" or "/name:value" (name in any case, value as written). Unknown options are
// ignored; a later option wins over an earlier one.
enum class BatchMode
{
    None,
    Backup,
    Restore
};

// arguments[0] is the program.
BatchMode batchModeOf(const QStringList& arguments);

struct BackupOptions
{
    bool showProgress = true;
    bool addFiles = true;
    bool verify = false; // read the written backup back with RESTORE VERIFYONLY
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
