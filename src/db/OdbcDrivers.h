#pragma once

#include <QString>
#include <QStringList>

// Which ODBC driver a connection goes through, and which keywords that driver understands.
namespace db {

enum class OdbcDialect
{
    FreeTds,         // FreeTDS, and any driver not recognised below
    Microsoft18,     // "ODBC Driver 18 for SQL Server" and later: encrypts unless told not to
    Microsoft17,     // "ODBC Driver 11/13/17 for SQL Server", "SQL Server Native Client 10.0/11.0"
    LegacySqlServer, // "SQL Server", the driver every Windows has (SQLSRV32)
};

// The dialect of a driver named as in DRIVER= (a name the driver manager knows, or a path).
OdbcDialect odbcDialect(const QString& driver);

enum class OdbcPlatform
{
    Windows,
    Other
};

// The driver to connect with: the override (DBSETUP_ODBC_DRIVER) when set; on Windows the newest
// installed "ODBC Driver N for SQL Server" (N >= 17), else the built-in "SQL Server"; elsewhere
// "FreeTDS". installed lists the names the driver manager reports.
QString chooseOdbcDriver(const QStringList& installed, const QString& override,
                         OdbcPlatform platform);

// The drivers the ODBC driver manager knows (SQLDrivers), asked once per process.
QStringList installedOdbcDrivers();

// chooseOdbcDriver for this machine and the current DBSETUP_ODBC_DRIVER.
QString odbcDriver();

} // namespace db
