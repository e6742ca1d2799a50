#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// A plain ODBC client for the simulator's tests: FreeTDS's driver through unixODBC, the wide
// API, every result of a batch read to the end.
struct ResultSet
{
    QStringList columns;
    QList<int> sqlTypes; // SQL_INTEGER, SQL_WVARCHAR, …
    // null QVariant, qint64 (integers, bit), double (float, real), QByteArray (binary types),
    // QString (everything else: text, decimals, dates)
    QList<QList<QVariant>> rows;
};

struct OdbcResult
{
    bool ok = true;      // no call answered SQL_ERROR
    QString error;       // the first error's text
    int nativeError = 0; // its server error number
    QString sqlState;
    QList<ResultSet> resultSets;
    QList<qint64> rowCounts;   // SQLRowCount of each result without columns (-1: none)
    QStringList messages;      // every diagnostic text, in order (info and errors)
    QList<int> messageNumbers; // their native numbers
};

// Rows as "a|b|c" with NULL for null: easy to write down in a table.
QStringList flatten(const ResultSet& set);
// A server message without FreeTDS's "[FreeTDS][SQL Server]" prefix.
QString serverText(const QString& text);

class OdbcClient
{
public:
    OdbcClient();
    ~OdbcClient();
    OdbcClient(const OdbcClient&) = delete;
    OdbcClient& operator=(const OdbcClient&) = delete;

    // What the session's TEXTSIZE is once connected. Microsoft's own drivers lift it to no limit
    // when they connect; FreeTDS's driver leaves SQL Server's 4096 bytes, which cuts longer text,
    // ntext, image and (max) values in results. Like a real client, this one lifts it unless a
    // test asks for the server's default.
    enum class TextSize
    {
        Unlimited,
        ServerDefault,
    };

    bool connect(quint16 port, const QString& user, const QString& password,
                 const QString& database = {}, TextSize textSize = TextSize::Unlimited);
    // Leaves a user database before it goes (USE master), so that no other connection of the
    // test finds the database in use by a session the server has not yet ended.
    void disconnect();
    QString lastError() const { return m_lastError; }
    QStringList lastErrors() const { return m_lastErrors; } // every one, in the driver's order
    int lastNativeError() const { return m_lastNative; }
    QString lastSqlState() const { return m_lastState; }

    OdbcResult exec(const QString& sql) { return execParams(sql, {}); }
    // Parameters as "?" markers: qint64/int → BIGINT, double → DOUBLE, QString → WVARCHAR (or
    // WLONGVARCHAR past 4000 characters), QByteArray → LONGVARBINARY, QDateTime → TYPE_TIMESTAMP,
    // null QVariant → NULL.
    OdbcResult execParams(const QString& sql, const QList<QVariant>& params);

    bool setAutocommit(bool on);
    bool commit();
    bool rollback();
    QString currentCatalog();

    void* dbc() const { return m_dbc; }
    // The application name the next connect() tells the server (APP=; none by default).
    void setAppName(const QString& name) { m_appName = name; }

    // The connection string for a simulator on this port (values braced as ODBC wants).
    static QString connectionString(quint16 port, const QString& user, const QString& password,
                                    const QString& database = {});

private:
    void* m_env = nullptr;
    void* m_dbc = nullptr;
    QString m_lastError;
    QStringList m_lastErrors;
    int m_lastNative = 0;
    QString m_lastState;
    QString m_appName;
};
