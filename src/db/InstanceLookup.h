#pragma once

#include <QByteArray>
#include <QString>

// Named instances ("host\SQLEXPRESS") listen on a port that only the SQL Server Browser service of
// their host knows. The driver's own lookup waits 16 seconds when no one answers, whatever the
// login timeout; this one ends at once when the host refuses (nothing listens on UDP 1434) and
// never waits longer than it is told.
namespace db {

constexpr quint16 sqlBrowserPort = 1434;

// The TCP port of the instance, asked of the Browser on host. Repeats the request every second
// up to timeoutMs. Throws DbError with a text for the operator when there is no answer or no TCP
// port.
quint16 lookupInstancePort(const QString& host, const QString& instance, int timeoutMs,
                           quint16 browserPort = sqlBrowserPort);

// The request for one instance: 0x04 and the instance name.
QByteArray instanceRequest(const QString& instance);
// The "tcp" port of the instance in a Browser reply (0x05, length, "Key;Value;…;;"), or 0.
quint16 instancePortFromReply(const QByteArray& reply, const QString& instance);

} // namespace db
