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

// The request for one instance: 0x04, the name (at most 32 bytes) and a zero byte. Throws
// DbError for a longer name or one with characters outside Latin-1.
QByteArray instanceRequest(const QString& instance);

// What a Browser reply (0x05, u16 little-endian size, then "ServerName;X;InstanceName;Y;…;;" for
// each instance) says about one instance.
struct InstanceReply
{
    enum Status
    {
        Malformed,      // not a reply, or its size does not match its data
        NoSuchInstance, // the reply names other instances only
        NoTcp,          // the instance does not listen on TCP/IP
        Found,
    };
    Status status = Malformed;
    quint16 port = 0;
};
// Instance names are compared without regard to case.
InstanceReply parseInstanceReply(const QByteArray& reply, const QString& instance);

} // namespace db
