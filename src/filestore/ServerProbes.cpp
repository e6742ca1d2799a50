#include "ServerProbes.h"

#include "Connection.h"
#include "FileHelpers.h"

#include <QStringList>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr int probeTimeoutSeconds = 3600;

// A question the server would not answer leaves the fallback; a lost connection passes on. Only
// inside a catch handler: it rethrows the error being handled.
void passOnLoss(const db::Connection& connection, const std::exception& error)
{
    if (filestore::connectionLost(connection, error))
        throw;
}

// Whether the server can be asked at all. One that cannot be reached gives each probe's fallback:
// the statements that follow say why.
bool reachable(db::Connection& connection)
{
    try {
        filestore::ensureOpen(connection);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Pages in use, from the files themselves; nullopt where the server cannot say.
std::optional<qint64> usedPagesBytes(db::Connection& connection, bool dataOnly)
{
    try {
        const auto result = connection.openRecordSet(
            u"SELECT SUM(CAST(FILEPROPERTY(name, 'SpaceUsed') AS bigint)) * 8192 AS used "
            u"FROM sys.database_files"_s +
                (dataOnly ? u" WHERE type = 0"_s : QString()),
            probeTimeoutSeconds);
        bool ok = false;
        const qint64 used = result->isEmpty() ? 0 : result->fieldText(u"used"_s).toLongLong(&ok);
        if (ok && used >= 0)
            return used;
    } catch (const db::DbError& error) {
        // A server without sys.database_files: sp_spaceused tells instead.
        if (error.isConnectionLoss())
            throw;
    }
    return std::nullopt;
}

} // namespace

namespace filestore {

void ensureOpen(db::Connection& connection)
{
    if (!connection.isOpen())
        connection.open();
}

bool connectionLost(const db::Connection& connection, const std::exception& error)
{
    const auto* dbError = dynamic_cast<const db::DbError*>(&error);
    return !connection.isOpen() || (dbError != nullptr && dbError->isConnectionLoss());
}

} // namespace filestore

QString GetServerVersion(db::Connection& connection)
{
    if (!reachable(connection))
        return {};
    QString text;
    try {
        const auto result =
            connection.openRecordSet(u"select @@version as Version"_s, probeTimeoutSeconds);
        if (result->isEmpty())
            return {};
        text = result->fieldText(u"Version"_s);
    } catch (const std::exception& error) {
        passOnLoss(connection, error);
        return {}; // a product without @@version is none of those whose version matters
    }
    if (!text.toLower().startsWith(u"microsoft sql server"_s))
        return {};
    return text.left(25);
}

int GetServerVersionYear(db::Connection& connection)
{
    const QString version = GetServerVersion(connection);
    if (version.size() < 4)
        return 0;
    bool ok = false;
    const int year = version.right(4).toInt(&ok);
    return ok ? year : 0;
}

std::optional<qint64> DatabaseSizeCeiling(int engineEdition, const QString& productVersion,
                                          int versionYear)
{
    // SERVERPROPERTY: EngineEdition 4 is Express. Its ceiling grew from 4 to 10 GB with
    // 2008 R2, version 10.50.
    constexpr int express = 4;
    if (engineEdition != express)
        return std::nullopt;
    constexpr qint64 gib = 1024LL * 1024 * 1024;
    const QStringList parts = productVersion.split(u'.');
    bool majorOk = false;
    bool minorOk = false;
    const int major = parts.value(0).toInt(&majorOk);
    const int minor = parts.value(1).toInt(&minorOk);
    const bool since2008R2 =
        majorOk && minorOk ? major > 10 || (major == 10 && minor >= 50) : versionYear > 2008;
    return since2008R2 ? 10 * gib : 4 * gib;
}

std::optional<qint64> GetMaxDBSize(db::Connection& connection)
{
    if (!reachable(connection))
        return std::nullopt;
    int engineEdition = 0;
    QString productVersion;
    try {
        const auto result = connection.openRecordSet(
            u"SELECT CAST(SERVERPROPERTY('EngineEdition') AS int) AS engine_edition, "
            u"CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(128)) AS product_version"_s,
            probeTimeoutSeconds);
        if (result->isEmpty())
            return std::nullopt;
        engineEdition = result->fieldText(u"engine_edition"_s).toInt();
        productVersion = result->fieldText(u"product_version"_s);
    } catch (const std::exception& error) {
        passOnLoss(connection, error);
        // Servers without these properties are older than every Express with a ceiling that
        // matters here; the insert fails on its own when the database is full.
        return std::nullopt;
    }
    return DatabaseSizeCeiling(engineEdition, productVersion,
                               productVersion.isEmpty() ? GetServerVersionYear(connection) : 0);
}

qint64 GetDBSpaceUsed(db::Connection& connection, bool dataOnly)
{
    if (!reachable(connection))
        return 0;
    QString size;
    try {
        if (const std::optional<qint64> used = usedPagesBytes(connection, dataOnly))
            return *used;
        const auto result = connection.openRecordSet(u"exec sp_spaceused"_s, probeTimeoutSeconds);
        if (result->isEmpty())
            return 0;
        size = result->fieldText(u"database_size"_s);
    } catch (const db::DbError& error) {
        if (error.isConnectionLoss())
            throw;
        // Neither way open to this login: the room checks pass, and the server refuses what
        // does not fit when it comes to it.
        return 0;
    }
    return DatabaseSizeBytes(size);
}

qint64 DatabaseSizeBytes(const QString& spaceUsedText)
{
    const QString unit = spaceUsedText.right(2);
    const long double number = StrToFloatAny(
        spaceUsedText.chopped(std::min<qsizetype>(3, spaceUsedText.size())), u"."_s, 0);
    long double bytes = 0;
    if (unit == u"MB"_s)
        bytes = number * 1024 * 1024;
    else if (unit == u"KB"_s)
        bytes = number * 1024;
    return static_cast<qint64>(std::llround(bytes));
}

int DatabaseCodePage(db::Connection& connection)
{
    filestore::ensureOpen(connection);
    try {
        const auto result = connection.openRecordSet(
            u"SELECT COLLATIONPROPERTY(CONVERT(nvarchar(128), DATABASEPROPERTYEX(DB_NAME(), "
            u"'Collation')), 'CodePage') AS CodePage"_s,
            probeTimeoutSeconds);
        if (result->isEmpty())
            return 0;
        bool ok = false;
        const int codePage = result->fieldText(u"CodePage"_s).toInt(&ok);
        return ok ? codePage : 0;
    } catch (const std::exception& error) {
        passOnLoss(connection, error);
        return 0; // names are then stored as they come, and the server decides
    }
}
