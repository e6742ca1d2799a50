#include "Settings.h"

#include "IniFile.h"
#include "PathMacros.h"
#include "PathText.h"

#include <optional>

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

Settings ReadSettingsFile(const QString& path)
{
    const platform::IniFile ini = platform::IniFile::load(path);
    const auto db = [&ini](const QString& key, const QString& fallback = {}) {
        return ini.value(u"db"_s, key, fallback);
    };
    const auto other = [&ini](const QString& key) {
        return ini.value(u"other"_s, key);
    };

    Settings s;
    s.server = db(u"server"_s, s.server);
    s.userName = db(u"user_name"_s, s.userName);
    s.password = db(u"password"_s);
    s.windowsLogin = ParseIniFlag(db(u"is_authorization"_s));

    try {
        s.dbFileName = ExpandMacros(other(u"db_file_name"_s));
        s.verifyBackup = ParseIniFlag(other(u"verify_backup"_s));
        s.copyOnlyBackup = ParseIniFlag(other(u"copy_only_backup"_s));
        s.restoreDBName = other(u"restore_db_name"_s);

        if (const QString key = other(u"install_dir_from_reg_key"_s); !key.isEmpty())
            s.installDir = ReadRegistryValue(key);
        if (s.installDir.isEmpty())
            s.installDir = ExpandMacros(other(u"install_dir"_s));
        if (!s.installDir.isEmpty() && !pathtext::isSeparator(s.installDir.back()))
            s.installDir += pathtext::nativeSeparator();

        s.maxSizeAddDB = ParseMaxSizeAddDB(other(u"max_size_file_add_db"_s));
        s.dbNameFileAdd = other(u"db_name_file_add"_s);
        s.fileUdl = withInstallDir(ExpandMacros(db(u"file_udl"_s)), s.installDir);
        s.apprNamePathName =
            withInstallDir(ExpandMacros(other(u"appr_name_path_name"_s)), s.installDir);
    } catch (...) {
        s.failure = std::current_exception();
    }
    return s;
}

bool WriteOtherSetting(const QString& path, const QString& key, const QString& value)
{
    return platform::writeIniValue(path, u"other"_s, key, value);
}
