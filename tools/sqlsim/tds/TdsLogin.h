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
    quint32 clientPid = 0; // the client's process, shown as hostprocess / host_process_id
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

// Values of PRELOGIN's ENCRYPTION option (MS-TDS 2.2.6.5).
namespace encrypt {
constexpr quint8 Off = 0x00;          // a certificate is there; the login is encrypted at least
constexpr quint8 On = 0x01;           // everything is encrypted
constexpr quint8 NotSupported = 0x02; // nothing is
constexpr quint8 Required = 0x03;     // the server encrypts everything and nothing less
} // namespace encrypt

enum class Encryption
{
    None,
    LoginOnly, // the LOGIN7 message; the connection then goes on in clear text
    All,
};

// The ENCRYPTION value of a client's PRELOGIN, NotSupported when it sends none. Throws
// ProtocolError when the option table points outside the message.
quint8 preLoginEncryption(const QByteArray& payload);

struct EncryptionChoice
{
    quint8 answer = encrypt::NotSupported; // the server's ENCRYPTION value
    Encryption mode = Encryption::None;
    bool refuse = false; // answer, then close the connection
};

// The server's side of the client/server encryption table (MS-TDS 2.2.6.5): with a
// certificate it answers OFF, ON or NOT_SUP after the client; forced, it answers REQ and
// refuses a client that cannot encrypt.
EncryptionChoice chooseEncryption(quint8 client, bool certificate, bool force);

// The PRELOGIN answer: this version, the encryption chosen, no MARS.
QByteArray preLoginReply(quint32 programVersion, quint8 encryption = encrypt::NotSupported);

// The TDS version both sides speak: the client's own when it asks for 7.1 to 7.3, 7.1 for a
// 7.0 client, else 7.4.
quint32 negotiatedTdsVersion(quint32 clientVersion);

// LOGINACK: the version as SQL Server reports it (15.0.2000 = 0x0F0007D0).
QByteArray loginAckToken(quint32 tdsVersion, quint32 programVersion);

} // namespace sqlsim::tds
