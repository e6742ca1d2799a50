// The settings step of start-up: settings.ini applied key by key, in a fixed order, to the panel,
// the tabs and the window's state.
#include "StartupSettings.h"

#include "AttachTab.h"
#include "DBWorkU.h"
#include "IniFile.h"
#include "PathMacros.h"
#include "PathText.h"
#include "RestoreTab.h"
#include "ui_AttachTab.h"
#include "ui_DBWorkU.h"
#include "ui_RestoreTab.h"

using namespace Qt::StringLiterals;

namespace {

std::optional<qint64> parseInteger(const QString& text)
{
    bool ok = false;
    qint64 value = 0;
    if (text.startsWith(u"0x"_s, Qt::CaseInsensitive))
        value = text.mid(2).toLongLong(&ok, 16);
    else
        value = text.toLongLong(&ok, 10);
    return ok ? std::optional(value) : std::nullopt;
}

// "%install_dir%" in a value stands for the installation folder; only its first occurrence.
QString withInstallDir(const QString& text, const QString& installDir)
{
    return ReplaceText(installDir, u"%install_dir%"_s, text);
}

} // namespace

bool ParseIniFlag(const QString& text)
{
    return parseInteger(text).value_or(0) != 0;
}

qint64 ParseMaxSizeAddDB(const QString& text)
{
    return parseInteger(text).value_or(defaultMaxSizeAddDB);
}

void TFormDB::ReadSettings(const QString& path)
{
    const platform::IniFile ini = platform::IniFile::load(path);
    Ui::TAttachTab& attach = *attachTab()->ui;
    Ui::TRestoreTab& restore = *restoreTab()->ui;

    ui->Server->setText(ini.value(u"db"_s, u"server"_s, u".\\sqlexpress"_s));
    ui->UserName->setText(ini.value(u"db"_s, u"user_name"_s, u"sa"_s));
    ui->Password->setText(ini.value(u"db"_s, u"password"_s));
    // Like the operator's click: the change handler runs (and connects) when the tick changes.
    ui->isAuthorization->setChecked(ParseIniFlag(ini.value(u"db"_s, u"is_authorization"_s)));

    attach.DBFileName->setText(ExpandMacros(ini.value(u"other"_s, u"db_file_name"_s)));
    attach.isVerifyBackup->setChecked(ParseIniFlag(ini.value(u"other"_s, u"verify_backup"_s)));
    attach.isCopyOnly->setChecked(ParseIniFlag(ini.value(u"other"_s, u"copy_only_backup"_s)));
    const QString restoreDBName = ini.value(u"other"_s, u"restore_db_name"_s);

    if (const QString key = ini.value(u"other"_s, u"install_dir_from_reg_key"_s); !key.isEmpty())
        _InstallDir = ReadRegistryValue(key);
    if (_InstallDir.isEmpty())
        _InstallDir = ExpandMacros(ini.value(u"other"_s, u"install_dir"_s));
    if (!_InstallDir.isEmpty() && !pathtext::isSeparator(_InstallDir.back()))
        _InstallDir += pathtext::nativeSeparator();

    _MaxSizeAddDB = ParseMaxSizeAddDB(ini.value(u"other"_s, u"max_size_file_add_db"_s));
    _DBNameFileAdd = ini.value(u"other"_s, u"db_name_file_add"_s);

    const QString udl =
        withInstallDir(ExpandMacros(ini.value(u"db"_s, u"file_udl"_s)), _InstallDir);
    if (!udl.isEmpty())
        m_server.LoadConnectString(udl);

    if (_CurrentDBName.isEmpty())
        _CurrentDBName = u"ostrel_ts"_s;
    // A restore name of its own wins; without one the restore goes to the current database.
    restore.RestoreDBName->setText(restoreDBName.isEmpty() ? _CurrentDBName : restoreDBName);
    attach.DBName->setEditText(_CurrentDBName);
    restore.RestoreToDirectory->setText(_InstallDir + u"Data"_s);

    _ApprNamePathName =
        withInstallDir(ExpandMacros(ini.value(u"other"_s, u"appr_name_path_name"_s)), _InstallDir);
}
