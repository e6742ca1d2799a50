#include "OdbcDrivers.h"

#include "ConnectionStringTranslation.h"
#include "OdbcStatement.h"

#include <QRegularExpression>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace db {

namespace {

// N of "ODBC Driver N for SQL Server", 0 for any other name.
int microsoftDriverVersion(const QString& name)
{
    static const QRegularExpression pattern(u"^ODBC Driver (\\d{1,3}) for SQL Server$"_s,
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(name.trimmed());
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

QStringList readInstalledDrivers()
{
    QStringList names;
    try {
        odbc::Handle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
        SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                      0);
        SQLUSMALLINT direction = SQL_FETCH_FIRST;
        for (;;) {
            SQLWCHAR description[256] = {};
            SQLWCHAR attributes[1024] = {};
            SQLSMALLINT length = 0;
            SQLSMALLINT attributesLength = 0;
            const SQLRETURN rc = SQLDriversW(env.get(), direction, description, 256, &length,
                                             attributes, 1024, &attributesLength);
            if (!odbc::succeeded(rc))
                break; // SQL_NO_DATA after the last one
            names.append(odbc::fromWide(description, std::clamp<qsizetype>(length, 0, 255)));
            direction = SQL_FETCH_NEXT;
        }
    } catch (const DbError&) {
        // No environment, no list: the built-in driver is still there to try.
    }
    return names;
}

} // namespace

OdbcDialect odbcDialect(const QString& driver)
{
    const QString name = driver.trimmed();
    // Also a path to FreeTDS's library (…/libtdsodbc.so): unknown names keep FreeTDS's dialect.
    if (name.contains(u"freetds"_s, Qt::CaseInsensitive))
        return OdbcDialect::FreeTds;
    const int version = microsoftDriverVersion(name);
    if (version >= 18)
        return OdbcDialect::Microsoft18;
    if (version >= 11)
        return OdbcDialect::Microsoft17;
    // Native Client 10.0 and 11.0 take the same keywords as driver 17, ServerSPN included
    // ("Using Connection String Keywords with SQL Server Native Client").
    static const QRegularExpression nativeClient(u"^SQL Server Native Client 1[01]\\.0$"_s,
                                                 QRegularExpression::CaseInsensitiveOption);
    if (nativeClient.match(name).hasMatch())
        return OdbcDialect::Microsoft17;
    if (name.compare(u"SQL Server"_s, Qt::CaseInsensitive) == 0)
        return OdbcDialect::LegacySqlServer;
    return OdbcDialect::FreeTds;
}

QString chooseOdbcDriver(const QStringList& installed, const QString& override,
                         OdbcPlatform platform)
{
    const QString named = override.trimmed();
    if (!named.isEmpty())
        return named;
    if (platform != OdbcPlatform::Windows)
        return u"FreeTDS"_s;
    QString newest;
    int newestVersion = 0;
    for (const QString& name : installed) {
        const int version = microsoftDriverVersion(name);
        if (version >= 17 && version > newestVersion) {
            newest = name.trimmed();
            newestVersion = version;
        }
    }
    return newestVersion > 0 ? newest : u"SQL Server"_s;
}

QStringList installedOdbcDrivers()
{
    static const QStringList drivers = readInstalledDrivers();
    return drivers;
}

QString odbcDriver()
{
    const QString override = odbcDriverOverride();
#if defined(Q_OS_WIN)
    // The installed list matters only without an override.
    return chooseOdbcDriver(override.isEmpty() ? installedOdbcDrivers() : QStringList(), override,
                            OdbcPlatform::Windows);
#else
    return chooseOdbcDriver({}, override, OdbcPlatform::Other);
#endif
}

} // namespace db
