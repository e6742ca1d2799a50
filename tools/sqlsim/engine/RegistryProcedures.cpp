// xp_instance_regread: the instance's own registry values that tools read for its default
// folders when SERVERPROPERTY has none to give.
#include "SessionImpl.h"

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

QString withoutTrailingSeparator(QString folder)
{
    while (folder.size() > 1 && (folder.endsWith(u'\\') || folder.endsWith(u'/')) &&
           !(folder.size() == 3 && folder[1] == u':'))
        folder.chop(1);
    return folder;
}

} // namespace

std::optional<QString> SessionImpl::xpInstanceRegRead(QList<CallArg>& args, Frame& frame,
                                                      bool toOutput)
{
    // Not documented: the procedure is SQL Server's own. Its form as tools use it:
    // xp_instance_regread N'HKEY_LOCAL_MACHINE',
    // N'Software\Microsoft\MSSQLServer\MSSQLServer', N'BackupDirectory' [, @value OUTPUT]. The key
    // is read under the instance's own key; without the OUTPUT argument the answer is one row of
    // Value and Data, none for a value that is not there.
    const auto text = [&](int position) -> QString {
        int index = 0;
        for (const CallArg& a : args) {
            if (index++ == position)
                return isNull(a.value) ? QString() : valueToText(a.value);
        }
        return {};
    };
    if (args.size() < 3)
        throw SqlError(22027, u"Usage:  EXECUTE xp_instance_regread <rootkey>, <key>, "
                              "<value_name> [, <value> OUTPUT]"_s);
    const QString root = text(0).trimmed();
    QString key = text(1).trimmed();
    key.replace(u'/', u'\\');
    const QString name = text(2).trimmed();
    const bool machine = root.compare(u"HKEY_LOCAL_MACHINE"_s, Qt::CaseInsensitive) == 0 ||
                         root.compare(u"HKLM"_s, Qt::CaseInsensitive) == 0;
    const auto is = [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) == 0;
    };
    const QString dataDir = m_server.options().dataDir;
    std::optional<QString> data;
    if (machine && is(key, u"Software\\Microsoft\\MSSQLServer\\MSSQLServer"_s)) {
        // The folders setup writes there; the server's own defaults are the same folders.
        if (is(name, u"BackupDirectory"_s))
            data = withoutTrailingSeparator(serverfiles::defaultBackupPath(dataDir));
        else if (is(name, u"DefaultData"_s) || is(name, u"DefaultLog"_s))
            data = withoutTrailingSeparator(serverfiles::defaultDataPath(dataDir));
    } else if (machine && is(key, u"Software\\Microsoft\\MSSQLServer\\Setup"_s) &&
               is(name, u"SQLDataRoot"_s)) {
        // The folder setup made DATA in: the instance's MSSQL folder on Windows.
        QString folder = withoutTrailingSeparator(serverfiles::defaultDataPath(dataDir));
        if (folder.endsWith(u"\\DATA"_s, Qt::CaseInsensitive))
            folder.chop(5);
        data = folder;
    }
    if (toOutput)
        return data;
    QList<QList<Value>> rows;
    if (data)
        rows << QList<Value>{name, *data};
    sendRows({{u"Value"_s, {SqlType::NVarChar, 128, 0, 0}, true},
              {u"Data"_s, {SqlType::NVarChar, 1024, 0, 0}, true}},
             rows, frame);
    return std::nullopt;
}

} // namespace sqlsim
