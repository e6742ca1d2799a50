#include "SessionFunctions.h"

#include "Collation.h"
#include "ServerFiles.h"
#include "SessionImpl.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStorageInfo>

using namespace Qt::StringLiterals;

namespace sqlsim {

std::optional<qint64> SessionFunctions::objectId(const QString& rawName, const QString& type)
{
    // [db.][schema.]name; #temp names live in this session.
    QStringList parts;
    QString cur;
    bool inBracket = false;
    for (const QChar c : rawName.trimmed()) {
        if (c == u'[' && !inBracket) {
            inBracket = true;
        } else if (c == u']' && inBracket) {
            inBracket = false;
        } else if (c == u'.' && !inBracket) {
            parts << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts << cur;
    const QString name = parts.last();
    if (name.isEmpty())
        return std::nullopt;
    if (name.startsWith(u'#')) {
        const auto v =
            m_session.scalarQuery(u"SELECT rowid FROM temp.sqlite_master WHERE type = 'table' "
                                  "AND name = ?1 COLLATE NOCASE"_s,
                                  {name});
        if (!v)
            return std::nullopt;
        return -qint64(qHash(name.toLower()) & 0x3FFFFFFF) - 1;
    }
    const QString database = parts.size() >= 3 && !parts[parts.size() - 3].isEmpty()
                                 ? parts[parts.size() - 3]
                                 : m_session.currentDatabase();
    const QString alias = m_session.attachedAlias(database);
    if (alias.isEmpty())
        return std::nullopt;
    QString sql = u"SELECT id FROM "_s + Translator::quote(alias) +
                  u".sysobjects WHERE name = ?1 COLLATE TSQL"_s;
    QList<Value> binds = {name};
    if (!type.isEmpty()) {
        sql += u" AND type = ?2 COLLATE TSQL"_s;
        binds << type;
    }
    try {
        const auto v = m_session.scalarQuery(sql, binds);
        if (v && std::holds_alternative<qint64>(*v))
            return std::get<qint64>(*v);
    } catch (const SqlError&) {
    }
    return std::nullopt;
}

Value SessionFunctions::objectName(qint64 id, std::optional<qint64> dbid)
{
    QString database = m_session.currentDatabase();
    if (dbid) {
        const auto e = m_server.databaseById(int(*dbid));
        if (!e)
            return {};
        database = e->files.name;
    }
    const QString alias = m_session.attachedAlias(database);
    if (alias.isEmpty())
        return {};
    try {
        const auto v = m_session.scalarQuery(u"SELECT name FROM "_s + Translator::quote(alias) +
                                                 u".sysobjects WHERE id = ?1"_s,
                                             {id});
        return v.value_or(Value());
    } catch (const SqlError&) {
        return {};
    }
}

std::optional<qint64> SessionFunctions::databaseId(const QString& name)
{
    const auto e = m_server.database(name.isEmpty() ? m_session.currentDatabase() : name);
    if (!e)
        return std::nullopt;
    return e->dbid;
}

Value SessionFunctions::databaseName(qint64 id)
{
    const auto e = m_server.databaseById(int(id));
    if (!e)
        return {};
    return e->files.name;
}

Value SessionFunctions::volumeStat(qint64 databaseId, qint64 fileId, int which)
{
    const auto e = m_server.databaseById(int(databaseId));
    if (!e || (fileId != 1 && fileId != 2))
        return {};
    const QString path = fileId == 1 ? e->files.dataFile : e->files.logFile;
    if (!QFileInfo::exists(path))
        return {};
    if (!serverfiles::hasRoot()) {
        const QStorageInfo volume(path);
        if (which == 0)
            return volume.rootPath();
        return which == 1 ? volume.bytesTotal()
                          : serverfiles::reportedFreeBytes(volume.bytesAvailable());
    }
    // Under a root the volume is the drive: "C:\" for C:\Data\x.mdf.
    const QString shown = serverfiles::shown(path);
    for (const serverfiles::Drive& d : serverfiles::drives(m_server.options().dataDir)) {
        if (!shown.startsWith(d.name + u":\\"_s, Qt::CaseInsensitive))
            continue;
        if (which == 0)
            return d.name + u":\\"_s;
        return which == 1 ? d.totalBytes : d.availableBytes;
    }
    return {};
}

Value SessionFunctions::serverProperty(const QString& raw)
{
    const QString p = raw.trimmed().toLower();
    const QString version = m_server.productVersion();
    if (p == u"productversion")
        return version;
    if (p == u"productmajorversion")
        return version.section(u'.', 0, 0);
    if (p == u"productminorversion")
        return version.section(u'.', 1, 1);
    if (p == u"productlevel")
        return u"RTM"_s;
    if (p == u"edition")
        return editionText(m_server.edition());
    if (p == u"engineedition")
        return engineEdition(m_server.edition());
    if (p == u"editionid")
        return editionId(m_server.edition());
    if (p == u"machinename" || p == u"servername")
        return m_server.serverName();
    if (p == u"instancename")
        return {};
    if (p == u"collation")
        return sqlsim::serverCollation().name;
    if (p == u"isintegratedsecurityonly" || p == u"isclustered" || p == u"isfulltextinstalled" ||
        p == u"issingleuser" || p == u"ishadrenabled")
        return qint64(0);
    if (p == u"processid")
        return qint64(QCoreApplication::applicationPid());
    // learn.microsoft.com/sql/t-sql/functions/serverproperty-transact-sql: the default folders,
    // each with a trailing separator. The data and log ones came "in updates beginning in late
    // 2015": the RTM builds played for 2014 and earlier answer NULL.
    if (p == u"instancedefaultdatapath" || p == u"instancedefaultlogpath") {
        if (m_server.options().versionYear < 2016)
            return {};
        return serverfiles::defaultDataPath(m_server.options().dataDir);
    }
    // InstanceDefaultBackupPath came with SQL Server 2019; older servers answer NULL.
    if (p == u"instancedefaultbackuppath") {
        if (m_server.options().versionYear < 2019)
            return {};
        return serverfiles::defaultBackupPath(m_server.options().dataDir);
    }
    return {};
}

Value SessionFunctions::databaseProperty(const QString& database, const QString& raw)
{
    const auto entry = m_server.database(database);
    if (!entry)
        return {};
    const QString p = raw.trimmed().toLower();
    // An offline database is "not started": the properties read from the database itself are
    // NULL (learn.microsoft.com/sql/t-sql/functions/databasepropertyex-transact-sql).
    if (p == u"status")
        return entry->restoring ? u"RESTORING"_s : entry->offline ? u"OFFLINE"_s : u"ONLINE"_s;
    if ((entry->offline || entry->restoring) && (p == u"collation" || p == u"version"))
        return {};
    if (p == u"recovery")
        return u"SIMPLE"_s;
    if (p == u"collation")
        return sqlsim::serverCollation().name;
    if (p == u"updateability")
        return u"READ_WRITE"_s;
    // DATABASEPROPERTYEX 'UserAccess': SINGLE_USER, RESTRICTED_USER or MULTI_USER
    // (learn.microsoft.com/sql/t-sql/functions/databasepropertyex-transact-sql).
    if (p == u"useraccess")
        return entry->singleUser ? u"SINGLE_USER"_s : u"MULTI_USER"_s;
    if (p == u"version")
        return qint64(m_server.databaseVersion());
    if (p == u"isautoshrink" || p == u"isautoclose")
        return qint64(0);
    return {};
}

Value SessionFunctions::identCurrent(const QString& table)
{
    const QString alias = m_session.attachedAlias(m_session.currentDatabase());
    try {
        const auto v =
            m_session.scalarQuery(u"SELECT seq FROM "_s + Translator::quote(alias) +
                                      u".sqlite_sequence WHERE name = ?1 COLLATE NOCASE"_s,
                                  {table.section(u'.', -1)});
        if (v && std::holds_alternative<qint64>(*v))
            return QString::number(std::get<qint64>(*v));
    } catch (const SqlError&) {
    }
    return {};
}

Value SessionFunctions::fileProperty(const QString& file, const QString& raw)
{
    // "FILEPROPERTY (Transact-SQL)", learn.microsoft.com/sql/t-sql/functions/
    // fileproperty-transact-sql: a file of the current database by its logical name; NULL for
    // another name or property. SpaceUsed is in 8-KB pages.
    const QString p = raw.trimmed().toLower();
    const QString current = m_session.currentDatabase();
    const auto entry = m_server.database(current);
    const auto alias = m_session.schemaFor(current);
    if (!entry || !alias)
        return {};
    const QString name = file.trimmed();
    const bool data = name.compare(entry->files.dataLogicalName, Qt::CaseInsensitive) == 0;
    const bool log = !data && !entry->files.logFile.isEmpty() &&
                     name.compare(entry->files.logLogicalName, Qt::CaseInsensitive) == 0;
    if (!data && !log)
        return {};
    if (p == u"isreadonly")
        return qint64(0);
    if (p == u"isprimaryfile")
        return qint64(data ? 1 : 0);
    if (p == u"islogfile")
        return qint64(log ? 1 : 0);
    if (p != u"spaceused")
        return {};
    if (log)
        return (QFileInfo(entry->files.logFile).size() + 8191) / 8192;
    // The pages in use: the file's less its free list. --extra-data-size is free space.
    const QString schema = Translator::quote(*alias);
    const auto pragma = [&](const QString& what) -> qint64 {
        const auto v = m_session.scalarQuery(u"PRAGMA "_s + schema + u'.' + what);
        return v && std::holds_alternative<qint64>(*v) ? std::get<qint64>(*v) : 0;
    };
    const qint64 used =
        (pragma(u"page_count"_s) - pragma(u"freelist_count"_s)) * pragma(u"page_size"_s);
    return (used + 8191) / 8192;
}

} // namespace sqlsim
