#include "TdsLogin.h"

#include "TdsBuffer.h"

using namespace Qt::StringLiterals;

namespace sqlsim::tds {

namespace {

constexpr qsizetype fixedLoginSize = 94;
constexpr qsizetype fixedLoginSize70 = 86; // TDS 7.0: no change-password field, no long SSPI

QString loginString(const QByteArray& payload, quint16 offset, quint16 chars)
{
    if (chars == 0)
        return {};
    if (qsizetype(offset) + qsizetype(chars) * 2 > payload.size())
        throw ProtocolError("LOGIN7 string outside the record");
    TdsReader in(payload, offset);
    return in.utf16(chars);
}

QString password(const QByteArray& payload, quint16 offset, quint16 chars)
{
    if (qsizetype(offset) + qsizetype(chars) * 2 > payload.size())
        throw ProtocolError("LOGIN7 password outside the record");
    QByteArray bytes = payload.mid(offset, chars * 2);
    for (char& c : bytes) {
        auto b = static_cast<quint8>(static_cast<quint8>(c) ^ 0xA5);
        c = static_cast<char>(((b << 4) | (b >> 4)) & 0xFF);
    }
    TdsReader in(bytes);
    return in.utf16(chars);
}

} // namespace

Login7 parseLogin7(const QByteArray& payload)
{
    TdsReader in(payload);
    const quint32 length = in.u32();
    if (length > quint32(payload.size()) || payload.size() < fixedLoginSize70)
        throw ProtocolError("LOGIN7 record too short");
    Login7 login;
    login.tdsVersion = in.u32();
    login.packetSize = in.u32();
    in.skip(4); // client program version
    login.clientPid = in.u32();
    in.skip(4); // connection id
    in.u8();    // option flags 1
    login.optionFlags2 = in.u8();
    in.skip(1 + 1 + 4 + 4); // type flags, option flags 3, time zone, LCID
    struct Field
    {
        quint16 offset;
        quint16 length;
    };
    const auto field = [&] {
        const quint16 offset = in.u16();
        return Field{offset, in.u16()};
    };
    const Field host = field();
    const Field user = field();
    const Field pass = field();
    const Field app = field();
    const Field server = field();
    field(); // extension
    const Field library = field();
    const Field language = field();
    const Field database = field();
    in.skip(6); // client id
    const Field sspi = field();
    login.hostName = loginString(payload, host.offset, host.length);
    login.userName = loginString(payload, user.offset, user.length);
    login.password = password(payload, pass.offset, pass.length);
    login.appName = loginString(payload, app.offset, app.length);
    login.serverName = loginString(payload, server.offset, server.length);
    login.libraryName = loginString(payload, library.offset, library.length);
    login.language = loginString(payload, language.offset, language.length);
    login.database = loginString(payload, database.offset, database.length);
    qsizetype sspiLength = sspi.length;
    if (sspiLength == 0xFFFF && payload.size() >= fixedLoginSize) {
        TdsReader longLength(payload, 90);
        sspiLength = longLength.u32();
    }
    if (sspiLength > 0) {
        if (qsizetype(sspi.offset) + sspiLength > payload.size())
            throw ProtocolError("LOGIN7 security token outside the record");
        login.sspi = payload.mid(sspi.offset, sspiLength);
    }
    return login;
}

quint8 preLoginEncryption(const QByteArray& payload)
{
    TdsReader in(payload);
    for (;;) {
        const quint8 token = in.u8();
        if (token == 0xFF)
            return encrypt::NotSupported;
        const quint16 offset = in.u16be();
        const quint16 length = in.u16be();
        if (qsizetype(offset) + length > payload.size())
            throw ProtocolError("PRELOGIN option outside the message");
        if (token == 0x01 && length >= 1)
            return static_cast<quint8>(payload[offset]);
    }
}

EncryptionChoice chooseEncryption(quint8 client, bool certificate, bool force)
{
    // The high bit asks for a client certificate, which only changes how the login is
    // checked; the low bits are the encryption the client wants.
    client &= 0x7F;
    if (!certificate)
        return {encrypt::NotSupported, Encryption::None, false};
    if (force) {
        // ENCRYPT_REQ: the whole connection, and a client that cannot follow is turned away.
        return {encrypt::Required, Encryption::All, client == encrypt::NotSupported};
    }
    switch (client) {
    case encrypt::Off:
        return {encrypt::Off, Encryption::LoginOnly, false};
    case encrypt::NotSupported:
        return {encrypt::NotSupported, Encryption::None, false};
    default: // ON, and REQ which a client has no business sending
        return {encrypt::On, Encryption::All, false};
    }
}

QByteArray preLoginReply(quint32 programVersion, quint8 encryption)
{
    // Option table (token, offset, length), 0xFF, then the data the offsets point at.
    const QByteArray data = [&] {
        TdsWriter d;
        d.u16be(static_cast<quint16>(programVersion >> 16)); // major, minor
        d.u16be(static_cast<quint16>(programVersion));       // build
        d.u16be(0);                                          // sub-build
        d.u8(encryption);                                    // as chosen
        d.u8(0x00);                                          // instance: the default one
        d.u8(0x00);                                          // no MARS
        return d.data();
    }();
    TdsWriter out;
    const quint16 start = 5 * 5 + 1;
    const auto option = [&](quint8 token, quint16 offset, quint16 length) {
        out.u8(token);
        out.u16be(start + offset);
        out.u16be(length);
    };
    option(0x00, 0, 6); // VERSION
    option(0x01, 6, 1); // ENCRYPTION
    option(0x02, 7, 1); // INSTOPT
    option(0x03, 8, 0); // THREADID
    option(0x04, 8, 1); // MARS
    out.u8(0xFF);
    out.bytes(data);
    return out.data();
}

quint32 negotiatedTdsVersion(quint32 clientVersion)
{
    // TDS 7.0 knows no collations; like SQL Server since 2012, answer such a client with 7.1.
    if (clientVersion >= 0x70000000 && clientVersion < 0x71000001)
        return 0x71000001;
    if (clientVersion < tds74)
        return clientVersion;
    return tds74;
}

QByteArray loginAckToken(quint32 tdsVersion, quint32 programVersion)
{
    TdsWriter body;
    body.u8(1); // interface: T-SQL
    body.u16be(static_cast<quint16>(tdsVersion >> 16));
    body.u16be(static_cast<quint16>(tdsVersion));
    body.bVarchar(u"Microsoft SQL Server"_s);
    body.u16be(static_cast<quint16>(programVersion >> 16));
    body.u16be(static_cast<quint16>(programVersion));
    TdsWriter out;
    out.u8(0xAD);
    out.u16(static_cast<quint16>(body.size()));
    out.bytes(body.data());
    return out.data();
}

} // namespace sqlsim::tds
