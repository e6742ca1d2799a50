// Editions: the server's own words for them, and Express's database size limit with what the
// server does when a database would pass it.
#include "Editions.h"

#include "SessionImpl.h"

#include <QFileInfo>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace sqlsim {

std::optional<Edition> editionNamed(const QString& name)
{
    const QString n = name.trimmed().toLower();
    if (n == u"express")
        return Edition::Express;
    if (n == u"standard")
        return Edition::Standard;
    if (n == u"developer")
        return Edition::Developer;
    if (n == u"enterprise")
        return Edition::Enterprise;
    return std::nullopt;
}

// Edition, EngineEdition and EditionID: "SERVERPROPERTY (Transact-SQL)",
// learn.microsoft.com/sql/t-sql/functions/serverproperty-transact-sql ("64-bit versions of the
// Database Engine append (64-bit) to the version").
QString editionText(Edition edition)
{
    switch (edition) {
    case Edition::Express:
        return u"Express Edition (64-bit)"_s;
    case Edition::Standard:
        return u"Standard Edition (64-bit)"_s;
    case Edition::Developer:
        return u"Developer Edition (64-bit)"_s;
    case Edition::Enterprise:
        return u"Enterprise Edition (64-bit)"_s;
    }
    return {};
}

qint64 engineEdition(Edition edition)
{
    switch (edition) {
    case Edition::Express:
        return 4;
    case Edition::Standard:
        return 2;
    case Edition::Developer:
    case Edition::Enterprise:
        return 3;
    }
    return 0;
}

qint64 editionId(Edition edition)
{
    switch (edition) {
    case Edition::Express:
        return -1592396055;
    case Edition::Standard:
        return -1534726760;
    case Edition::Developer:
        return -2117995310;
    case Edition::Enterprise:
        return 1804890536;
    }
    return 0;
}

qint64 databaseSizeLimitMegabytes(Edition edition, int versionYear)
{
    // "Maximum relational database size: 10 GB" for Express ("Editions and supported features
    // of SQL Server 2019", learn.microsoft.com/sql/sql-server/editions-and-components-of-sql-
    // server-2019); 4 GB before SQL Server 2008 R2, 2 GB for SQL Server 2000's MSDE.
    if (edition != Edition::Express)
        return 0;
    if (versionYear <= 2000)
        return 2048;
    return versionYear < 2010 ? 4096 : 10240;
}

Edition ServerImpl::edition() const
{
    return editionNamed(m_options.edition).value_or(Edition::Express);
}

qint64 ServerImpl::extraDataBytes(const DatabaseEntry& entry) const
{
    return entry.system ? 0 : m_options.extraDataMegabytes * 1024 * 1024;
}

qint64 ServerImpl::dataFileBytes(const DatabaseEntry& entry) const
{
    return QFileInfo(entry.files.dataFile).size() + extraDataBytes(entry);
}

std::optional<Message> ServerImpl::databaseTooLarge(qint64 realDataBytes) const
{
    // The limit counts data files only; master, model and tempdb are never checked.
    const qint64 limit = databaseSizeLimitMegabytes(edition(), m_options.versionYear);
    if (limit == 0 ||
        realDataBytes + m_options.extraDataMegabytes * 1024 * 1024 <= limit * 1024 * 1024)
        return std::nullopt;
    Message m;
    m.number = 1827;
    m.text = u"CREATE DATABASE or ALTER DATABASE failed because the resulting cumulative database "
             "size would exceed your licensed limit of %1 MB per database."_s.arg(limit);
    return m;
}

void SessionImpl::checkDataSize(const QString& database, const QString& object)
{
    const auto entry = m_server.database(database);
    const qint64 limit =
        databaseSizeLimitMegabytes(m_server.edition(), m_server.options().versionYear);
    if (!entry || entry->system || limit == 0)
        return;
    const auto alias = schemaFor(entry->files.name);
    if (!alias)
        return;
    // The pages the statement has written so far, inside its transaction.
    const QString schema = Translator::quote(*alias);
    const auto pages = scalarQuery(u"PRAGMA "_s + schema + u".page_count"_s);
    const auto size = scalarQuery(u"PRAGMA "_s + schema + u".page_size"_s);
    if (!pages || !size || !std::holds_alternative<qint64>(*pages) ||
        !std::holds_alternative<qint64>(*size))
        return;
    const qint64 bytes =
        std::get<qint64>(*pages) * std::get<qint64>(*size) + m_server.extraDataBytes(*entry);
    if (bytes <= limit * 1024 * 1024)
        return;
    // What an insert meets when the data file cannot grow ("MSSQLSERVER_1105",
    // learn.microsoft.com/sql/relational-databases/errors-events/mssqlserver-1105-database-
    // engine-error); the statement is undone.
    Message m;
    m.number = 1105;
    m.severity = 17;
    m.text = u"Could not allocate space for object '%1'%2 in database '%3' because the '%4' "
             "filegroup is full. Create disk space by deleting unneeded files, dropping objects "
             "in the filegroup, adding additional files to the filegroup, or setting autogrowth "
             "on for existing files in the filegroup."_s.arg(object, QString(), entry->files.name,
                                                             u"PRIMARY"_s);
    throw SqlError(m);
}

qint64 SessionImpl::limitedWrite(const QString& target, const std::function<qint64()>& write)
{
    ensureWriteTransaction();
    if (databaseSizeLimitMegabytes(m_server.edition(), m_server.options().versionYear) == 0)
        return write();
    const qsizetype dbo = target.lastIndexOf(u".dbo."_s);
    const QString database = target.left(dbo);
    const QString object = target.mid(dbo + 1);
    // Outside a transaction the savepoint is a deferred one of its own, taking no lock before
    // the write does.
    execSql(u"SAVEPOINT sqlsim_size"_s);
    qint64 rows = 0;
    try {
        rows = write();
        checkDataSize(database, object);
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK TO sqlsim_size; RELEASE sqlsim_size", nullptr, nullptr,
                     nullptr);
        throw;
    }
    const int rc = sqlite3_exec(m_db, "RELEASE sqlsim_size", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const SqlError e = sqliteError(rc, nullptr);
        if (!m_sqliteTx)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw e;
    }
    return rows;
}

} // namespace sqlsim
