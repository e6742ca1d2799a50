#include "RawTdsClient.h"

#include <QtEndian>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int guardMs = 30'000; // only a broken server makes a read wait this long
constexpr quint8 typeBatch = 0x01;
constexpr quint8 typeRpc = 0x03;
constexpr quint8 typeLogin7 = 0x10;
constexpr quint8 typePreLogin = 0x12;
constexpr int packetSize = 4096;

void putU8(QByteArray& out, quint8 v)
{
    out.append(static_cast<char>(v));
}
void putU16(QByteArray& out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
void putU32(QByteArray& out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
void putUtf16(QByteArray& out, const QString& s)
{
    for (const QChar c : s)
        putU16(out, c.unicode());
}

// The transaction descriptor header every batch and RPC starts with (autocommit).
QByteArray allHeaders()
{
    QByteArray h;
    putU32(h, 22);
    putU32(h, 18);
    putU16(h, 2);
    h.append(8, '\0');
    putU32(h, 1);
    return h;
}

const char collation[5] = {0x09, 0x04, char(0xD0), 0x00, 0x34};

class Reader
{
public:
    explicit Reader(const QByteArray& data) : m_data(data) {}
    bool has(qsizetype n) const { return m_pos + n <= m_data.size(); }
    bool atEnd() const { return m_pos >= m_data.size(); }
    quint8 u8() { return static_cast<quint8>(m_data[m_pos++]); }
    quint16 u16()
    {
        const auto v = qFromLittleEndian<quint16>(m_data.constData() + m_pos);
        m_pos += 2;
        return v;
    }
    qint32 i32()
    {
        const auto v = qFromLittleEndian<qint32>(m_data.constData() + m_pos);
        m_pos += 4;
        return v;
    }
    QString utf16(qsizetype chars)
    {
        QString s(reinterpret_cast<const QChar*>(m_data.constData() + m_pos), chars);
        m_pos += chars * 2;
        return s;
    }
    void skip(qsizetype n) { m_pos += n; }
    qsizetype pos() const { return m_pos; }

private:
    const QByteArray& m_data;
    qsizetype m_pos = 0;
};

RawTdsClient::Reply notSent()
{
    RawTdsClient::Reply reply;
    reply.problem = u"not sent"_s;
    return reply;
}

} // namespace

RawTdsClient::~RawTdsClient()
{
    close();
}

void RawTdsClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RawTdsClient::sendMessage(quint8 type, const QByteArray& payload)
{
    constexpr qsizetype room = packetSize - 8;
    qsizetype at = 0;
    quint8 id = 1;
    do {
        const qsizetype n = std::min(room, payload.size() - at);
        const bool last = at + n >= payload.size();
        QByteArray packet;
        putU8(packet, type);
        putU8(packet, last ? 1 : 0);
        char length[2];
        qToBigEndian(static_cast<quint16>(n + 8), length);
        packet.append(length, 2);
        packet.append(2, '\0');
        putU8(packet, id++);
        putU8(packet, 0);
        packet.append(payload.constData() + at, n);
        if (::send(m_fd, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL) !=
            ssize_t(packet.size()))
            return false;
        at += n;
    } while (at < payload.size());
    return true;
}

bool RawTdsClient::readMessage(QByteArray* payload)
{
    payload->clear();
    const auto readExactly = [&](char* to, qsizetype n) {
        qsizetype got = 0;
        while (got < n) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, guardMs) != 1)
                return false;
            const ssize_t r = ::recv(m_fd, to + got, size_t(n - got), 0);
            if (r <= 0)
                return false;
            got += r;
        }
        return true;
    };
    for (;;) {
        char header[8];
        if (!readExactly(header, 8))
            return false;
        const quint16 length = qFromBigEndian<quint16>(header + 2);
        if (length < 8)
            return false;
        QByteArray body(length - 8, Qt::Uninitialized);
        if (!readExactly(body.data(), body.size()))
            return false;
        payload->append(body);
        if (header[1] & 0x01)
            return true;
    }
}

RawTdsClient::Reply RawTdsClient::readReply()
{
    Reply reply;
    QByteArray data;
    if (!readMessage(&data)) {
        reply.problem = u"no reply"_s;
        return reply;
    }
    Reader in(data);
    while (!in.atEnd()) {
        const quint8 token = in.u8();
        switch (token) {
        case 0xAA: // ERROR
        case 0xAB: // INFO
        {
            if (!in.has(2))
                break;
            const quint16 length = in.u16();
            if (!in.has(length))
                break;
            const qsizetype end = in.pos() + length;
            Message m;
            m.number = in.i32();
            in.u8(); // state
            m.severity = in.u8();
            m.text = in.utf16(in.u16());
            in.skip(end - in.pos());
            (token == 0xAA ? reply.errors : reply.infos).append(m);
            continue;
        }
        case 0xE3: // ENVCHANGE
        case 0xAD: // LOGINACK
        case 0xAE: // FEATUREEXTACK-like length-prefixed tokens
            if (!in.has(2))
                break;
            in.skip(in.u16());
            continue;
        case 0x79: // RETURNSTATUS
            if (!in.has(4))
                break;
            reply.returnStatus.append(in.i32());
            continue;
        case 0xAC: // RETURNVALUE: an int parameter only
        {
            if (!in.has(3))
                break;
            in.u16(); // ordinal
            const quint8 nameChars = in.u8();
            if (!in.has(nameChars * 2 + 1 + 4 + 2 + 2 + 1))
                break;
            in.skip(nameChars * 2 + 1 + 4 + 2);
            if (in.u8() != 0x26) {
                reply.problem = u"an output parameter that is not an int"_s;
                return reply;
            }
            in.u8(); // its size
            const quint8 length = in.u8();
            if (!in.has(length))
                break;
            reply.outputs.append(length == 4 ? QVariant(in.i32()) : QVariant());
            in.skip(length == 4 ? 0 : length);
            continue;
        }
        case 0xFD: // DONE
        case 0xFE: // DONEPROC
        case 0xFF: // DONEINPROC
            if (!in.has(12))
                break;
            in.skip(12);
            continue;
        default:
            reply.problem = u"unexpected token 0x%1"_s.arg(token, 2, 16, QChar(u'0'));
            return reply;
        }
        reply.problem = u"truncated token 0x%1"_s.arg(token, 2, 16, QChar(u'0'));
        return reply;
    }
    reply.received = true;
    return reply;
}

RawTdsClient::Reply RawTdsClient::connect(quint16 port, const QString& user,
                                          const QString& password, const QString& database)
{
    close();
    Reply failed;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        failed.problem = u"cannot connect"_s;
        return failed;
    }

    // PRELOGIN: VERSION and ENCRYPTION (not supported: the login travels in clear text).
    QByteArray pre;
    const char table[] = {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00, 0x01, char(0xFF)};
    pre.append(table, sizeof table);
    const char version[] = {0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02};
    pre.append(version, sizeof version);
    QByteArray answer;
    if (!sendMessage(typePreLogin, pre) || !readMessage(&answer)) {
        failed.problem = u"no PRELOGIN answer"_s;
        return failed;
    }

    // LOGIN7: the fixed part, then the strings it points to.
    const QStringList strings = {u"rawhost"_s, user,     password,  u"rawtest"_s, u"127.0.0.1"_s,
                                 QString(),    u"raw"_s, QString(), database};
    constexpr int fixedSize = 94;
    QByteArray fixed;
    putU32(fixed, 0); // length, set below
    putU32(fixed, 0x74000004);
    putU32(fixed, packetSize);
    putU32(fixed, 7);
    putU32(fixed, quint32(::getpid()));
    putU32(fixed, 0);
    putU8(fixed, 0xE0);
    putU8(fixed, 0x03);
    putU8(fixed, 0);
    putU8(fixed, 0);
    putU32(fixed, 0);
    putU32(fixed, 0x0409);
    QByteArray variable;
    for (qsizetype i = 0; i < strings.size(); ++i) {
        putU16(fixed, quint16(fixedSize + variable.size()));
        putU16(fixed, quint16(strings[i].size()));
        QByteArray bytes;
        putUtf16(bytes, strings[i]);
        if (i == 2) {
            for (char& c : bytes) {
                const auto b = static_cast<quint8>(c);
                c = static_cast<char>((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5);
            }
        }
        variable.append(bytes);
    }
    fixed.append(6, '\0');        // client id
    for (int i = 0; i < 3; ++i) { // SSPI, attach file, change password
        putU16(fixed, quint16(fixedSize + variable.size()));
        putU16(fixed, 0);
    }
    putU32(fixed, 0);
    QByteArray login = fixed + variable;
    qToLittleEndian(quint32(login.size()), login.data());
    if (!sendMessage(typeLogin7, login)) {
        failed.problem = u"LOGIN7 not sent"_s;
        return failed;
    }
    return readReply();
}

RawTdsClient::Reply RawTdsClient::batch(const QString& sql)
{
    QByteArray payload = allHeaders();
    putUtf16(payload, sql);
    if (!sendMessage(typeBatch, payload))
        return notSent();
    return readReply();
}

RawTdsClient::Reply RawTdsClient::rpc(const QString& procedure, const QList<Param>& params)
{
    QByteArray payload = allHeaders();
    putU16(payload, quint16(procedure.size()));
    putUtf16(payload, procedure);
    putU16(payload, 0); // options
    for (const Param& p : params) {
        putU8(payload, quint8(p.name.size()));
        putUtf16(payload, p.name);
        putU8(payload, p.output ? 1 : 0);
        if (p.value.typeId() == QMetaType::LongLong || p.value.typeId() == QMetaType::Int) {
            putU8(payload, 0x26);
            putU8(payload, 4);
            putU8(payload, 4);
            putU32(payload, quint32(p.value.toInt()));
            continue;
        }
        if (p.output) { // an int output parameter, NULL on the way in
            putU8(payload, 0x26);
            putU8(payload, 4);
            putU8(payload, 0);
            continue;
        }
        putU8(payload, 0xE7);
        putU16(payload, 8000);
        payload.append(collation, sizeof collation);
        if (p.value.isNull()) {
            putU16(payload, 0xFFFF);
            continue;
        }
        const QString text = p.value.toString();
        putU16(payload, quint16(text.size() * 2));
        putUtf16(payload, text);
    }
    if (!sendMessage(typeRpc, payload))
        return notSent();
    return readReply();
}
