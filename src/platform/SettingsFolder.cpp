#include "SettingsFolder.h"

#include "SpecialFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace platform {

namespace {

QString asFolder(const QString& path)
{
    QString folder = QDir::toNativeSeparators(QDir::cleanPath(QDir(path).absolutePath()));
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

QString& chosenFolder()
{
    static QString folder;
    return folder;
}

} // namespace

SettingsFolder chooseSettingsFolder(const SettingsFolderInputs& inputs)
{
    using Source = SettingsFolder::Source;
    if (!inputs.option.isEmpty())
        return {asFolder(inputs.option), Source::Option};
    if (!inputs.environment.isEmpty())
        return {asFolder(inputs.environment), Source::Environment};
    if (inputs.programDirHasSettings || inputs.userConfigHome.isEmpty())
        return {asFolder(inputs.programDir), Source::ProgramFolder};
    return {asFolder(inputs.userConfigHome + u"/dbsetup"_s), Source::UserFolder};
}

SettingsFolder chooseSettingsFolder(const QString& option)
{
    SettingsFolderInputs inputs;
    inputs.option = option;
    inputs.environment = qEnvironmentVariable("DBSETUP_CONFIG_DIR");
    inputs.programDir = executableDir();
    inputs.programDirHasSettings = QFileInfo(inputs.programDir + u"/settings.ini"_s).isFile();
    inputs.userConfigHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return chooseSettingsFolder(inputs);
}

QString settingsFolderText(const SettingsFolder& folder)
{
    using Source = SettingsFolder::Source;
    switch (folder.source) {
    case Source::Option:
        return u"Папка настроек: %1 (задана параметром --config)."_s.arg(folder.path);
    case Source::Environment:
        return u"Папка настроек: %1 (задана переменной DBSETUP_CONFIG_DIR)."_s.arg(folder.path);
    case Source::ProgramFolder:
        return u"Папка настроек: %1 (папка программы: в ней есть settings.ini)."_s.arg(folder.path);
    case Source::UserFolder:
        break;
    }
    return u"Папка настроек: %1 (папка пользователя: рядом с программой нет settings.ini)."_s.arg(
        folder.path);
}

QString prepareSettingsFolder(const SettingsFolder& folder)
{
    using Source = SettingsFolder::Source;
    if (folder.source == Source::Option || folder.source == Source::Environment) {
        if (QFileInfo(folder.path).isDir())
            return {};
        return u"Папка настроек \"%1\" (%2) не найдена."_s.arg(
            QDir::toNativeSeparators(QDir::cleanPath(folder.path)),
            folder.source == Source::Option ? u"--config"_s : u"DBSETUP_CONFIG_DIR"_s);
    }
    if (folder.source == Source::ProgramFolder)
        return {};
    const QString settings = folder.path + u"settings.ini"_s;
    if (QFileInfo::exists(settings))
        return {};
    if (!QDir().mkpath(folder.path))
        return u"Не удалось создать папку настроек \"%1\"."_s.arg(folder.path);
    QSaveFile file(settings);
    if (!file.open(QIODevice::WriteOnly) || file.write(settingsTemplate()) < 0 || !file.commit())
        return u"Не удалось записать \"%1\": %2."_s.arg(settings, file.errorString());
    return {};
}

QByteArray settingsTemplate()
{
    return u"; Настройки dbsetup. Строка, которая начинается с \";\", не действует: чтобы задать\n"
           u"; значение, уберите \";\" и впишите его после \"=\". Без значения действует то, что\n"
           u"; показано после \"=\".\n"
           u"\n"
           u"[db]\n"
           u"; Сервер SQL Server: компьютер, компьютер\\экземпляр или адрес,порт.\n"
           u";server=.\\sqlexpress\n"
           u"; Имя пользователя SQL Server и его пароль. Пароль можно здесь не хранить: его\n"
           u"; спросит окно, а пакетному режиму его передаёт переменная DBSETUP_PASSWORD.\n"
           u";user_name=sa\n"
           u";password=\n"
           u"; 1 — входить с учётной записью Windows вместо имени и пароля.\n"
           u";is_authorization=0\n"
           u"; UDL-файл с подключением; %install_dir% в нём — папка программы (install_dir).\n"
           u";file_udl=\n"
           u"\n"
           u"[other]\n"
           u"; Папка программы, файлы которой сохраняются в базе при резервном копировании.\n"
           u";install_dir=\n"
           u"; Или значение реестра, в котором записана эта папка (КЛЮЧ\\ЗНАЧЕНИЕ).\n"
           u";install_dir_from_reg_key=\n"
           u"; Файл данных для вкладки \"Подключить/отключить базу\".\n"
           u";db_file_name=\n"
           u"; Файлы больше этого (в байтах) в базе не сохраняются; 0 — без ограничения.\n"
           u";max_size_file_add_db=10485760\n"
           u"; Имя базы в таблице DB_PROPERTY, по которому узнаётся база программы.\n"
           u";db_name_file_add=\n"
           u"; Исполняемый файл приложения: его версия сохраняется в базе вместе с его файлами.\n"
           u";appr_name_path_name=\n"
           u"; 1 — проверять записанную резервную копию (RESTORE VERIFYONLY).\n"
           u";verify_backup=0\n"
           u"; 1 — копия в стороне от плана резервного копирования (COPY_ONLY).\n"
           u";copy_only_backup=0\n"_s.toUtf8();
}

QString userStateFile()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config.isEmpty() ? QString() : config + u"/dbsetup/state.ini"_s;
}

QString settingsFolder()
{
    const QString& folder = chosenFolder();
    return folder.isEmpty() ? asFolder(executableDir()) : folder;
}

void setSettingsFolder(const QString& path)
{
    chosenFolder() = path;
}

} // namespace platform
