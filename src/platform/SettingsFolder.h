#pragma once

#include <QString>

// The folder that holds settings.ini, dbs.xml, the exclusion list and (on Linux) registry.reg.
// On Windows it is the application's folder, where the program is installed beside its
// settings; a program installed system-wide (/usr/bin) keeps them in the user's configuration
// folder instead. Chosen once at start, in this order:
//   1. --config DIR on the command line;
//   2. DBSETUP_CONFIG_DIR;
//   3. the program's own folder, when it holds a settings.ini;
//   4. $XDG_CONFIG_HOME/dbsetup/ (~/.config/dbsetup/), made with a commented settings.ini on
//      first start.
namespace platform {

struct SettingsFolder
{
    enum class Source
    {
        Option,
        Environment,
        ProgramFolder,
        UserFolder,
    };
    QString path; // with a trailing "/"
    Source source = Source::ProgramFolder;
};

struct SettingsFolderInputs
{
    QString option;      // the value of --config, empty when not given
    QString environment; // DBSETUP_CONFIG_DIR
    QString programDir;
    bool programDirHasSettings = false;
    QString userConfigHome; // $XDG_CONFIG_HOME or its default
};

// The rules above, without looking at the disk.
SettingsFolder chooseSettingsFolder(const SettingsFolderInputs& inputs);
// The rules above for this process: the environment, the executable's folder and the disk.
SettingsFolder chooseSettingsFolder(const QString& option);

// One line for --help: which folder and why.
QString settingsFolderText(const SettingsFolder& folder);

// Makes the folder ready for use. A folder named by the operator must exist (a typo must not
// start the program with defaults); the user's folder is created, with a settings.ini whose keys
// are all commented out, when it has none. Returns the reason it cannot be used, empty when it
// can.
QString prepareSettingsFolder(const SettingsFolder& folder);

// The commented settings.ini written into a new user folder.
QByteArray settingsTemplate();

// Each user's state between runs (the window's size and place, the last folders of file
// dialogs): state.ini in the user's own dbsetup folder, whichever folder holds the settings;
// empty when the system names no configuration folder.
QString userStateFile();

// The folder this process uses; the executable's folder until main has chosen one.
QString settingsFolder();
void setSettingsFolder(const QString& path);

} // namespace platform
