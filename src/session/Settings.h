#pragma once

#include <QString>
#include <exception>

// settings.ini beside the program: what the operator's installation says about the server, the
// installation folder and the backup's defaults. Read once at start; only the operator's own
// choices are written back.
struct Settings
{
    // [db]
    QString server = QStringLiteral(".\\sqlexpress");
    QString userName = QStringLiteral("sa");
    QString password;
    bool windowsLogin = false; // is_authorization
    QString fileUdl;           // macros and "%install_dir%" expanded

    // [other]
    QString dbFileName; // the attach tab's data file, macros expanded
    bool verifyBackup = false;
    bool copyOnlyBackup = false;
    QString restoreDBName;
    QString installDir; // with its trailing separator; from the registry key when that names one
    qint64 maxSizeAddDB = 0;
    QString dbNameFileAdd;
    QString apprNamePathName; // macros and "%install_dir%" expanded

    // Why reading stopped (a registry value of another type behind a macro or the install
    // folder's key): the keys from there on keep their defaults, and start-up ends with it.
    std::exception_ptr failure;
};

// An integer used as a flag: decimal or "0x" hexadecimal, not zero means on; anything else is
// off.
bool ParseIniFlag(const QString& text);

// The size limit of one stored file in bytes; 10485760 (10 MiB) unless a valid 64-bit integer.
constexpr qint64 defaultMaxSizeAddDB = 10485760;
qint64 ParseMaxSizeAddDB(const QString& text);

// The file's settings; a missing file or key gives the defaults. Never throws: see failure.
Settings ReadSettingsFile(const QString& path);

// Keeps one of the operator's choices in section [other]; false when the file cannot be written.
bool WriteOtherSetting(const QString& path, const QString& key, const QString& value);
