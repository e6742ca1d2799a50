#pragma once

#include <QByteArray>
#include <QString>

// The start of a connection: PRELOGIN and LOGIN7.
namespace sqlsim::tds {

constexpr quint32 tds74 = 0x74000004;
constexpr quint32 tds73b = 0x730B0003;
constexpr quint32 tds72 = 0x72090002;

struct Login7
{
    quint32 tdsVersion = 0;
    quint32 packetSize = 0;
    quint8 optionFlags2 = 0;
    QString hostName;
    QString userName;
    QString password;
    QString appName;
    QString serverName;
    QString libraryName;
    QString language;
    QString database;
    QByteArray sspi; // the first security token of an integrated (NTLM) login

    bool integratedSecurity() const { return (optionFlags2 & 0x80) != 0; }
};

// Throws ProtocolError when the record is truncated or points outside itself.
Login7 parseLogin7(const QByteArray& payload);

// The PRELOGIN answer: this version, no encryption (the client then logs in in clear text),
// no MARS.
QByteArray preLoginReply(quint32 programVersion);

// The TDS version both sides speak: the client's own when it asks for 7.1 to 7.3, 7.1 for a
// 7.0 client, else 7.4.
quint32 negotiatedTdsVersion(quint32 clientVersion);

// LOGINACK: the version as SQL Server reports it (15.0.2000 = 0x0F0007D0).
QByteArray loginAckToken(quint32 tdsVersion, quint32 programVersion);

} // namespace sqlsim::tds
