#include "PacketChannel.h"

#include "TdsBuffer.h"
#include "TlsSession.h"

#include <QtEndian>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sqlsim::tds {

namespace {

constexpr qsizetype headerSize = 8;
constexpr int maxPacketSize = 32767;
constexpr qsizetype readChunk = 64 * 1024;

bool knownClientType(quint8 type)
{
    switch (type) {
    case packet::SqlBatch:
    case packet::Rpc:
    case packet::Attention:
    case packet::TransactionManager:
    case packet::Login7:
    case packet::Sspi:
    case packet::PreLogin:
        return true;
    default:
        return false;
    }
}

} // namespace

PacketChannel::PacketChannel(int fd) : m_fd(fd) {}

PacketChannel::~PacketChannel()
{
    ::close(m_fd);
}

void PacketChannel::setPacketSize(int size)
{
    m_packetSize = std::clamp(size, 512, maxPacketSize);
}

void PacketChannel::shutdown()
{
    m_shutdown = true;
    ::shutdown(m_fd, SHUT_RDWR);
}

bool PacketChannel::peerClosed() const
{
    char byte = 0;
    const ssize_t n = ::recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

bool PacketChannel::fill()
{
    if (m_lost || m_shutdown)
        return false;
    if (m_inPos > 0 && (m_inPos == m_in.size() || m_inPos >= 1024 * 1024)) {
        m_in.remove(0, m_inPos);
        m_inPos = 0;
    }
    // A TLS read may end inside a record and bring no clear byte yet.
    const qsizetype old = m_in.size();
    while (m_in.size() == old) {
        if (receive(0) < 0)
            return false;
    }
    return true;
}

int PacketChannel::receive(int flags)
{
    const qsizetype old = m_in.size();
    QByteArray raw;
    char* target = nullptr;
    if (m_tls) {
        raw.resize(readChunk);
        target = raw.data();
    } else {
        m_in.resize(old + readChunk);
        target = m_in.data() + old;
    }
    ssize_t n = 0;
    do {
        n = ::recv(m_fd, target, readChunk, flags);
    } while (n < 0 && errno == EINTR);
    const int error = errno; // before the resize, which may allocate
    if (!m_tls)
        m_in.resize(old + std::max<qsizetype>(n, 0));
    if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK))
        return 0;
    if (n <= 0) {
        m_lost = true;
        return -1;
    }
    if (m_tls) {
        m_tls->feed(raw.constData(), n);
        if (!m_tls->decrypt(&m_in)) {
            m_lost = true;
            return -1;
        }
    }
    return 1;
}

void PacketChannel::startTls(std::unique_ptr<TlsSession> session)
{
    m_tls = std::move(session);
    const QByteArray early = m_in.mid(m_inPos);
    m_in.clear();
    m_inPos = 0;
    m_tls->feed(early.constData(), early.size());
    if (!m_tls->decrypt(&m_in))
        m_lost = true;
}

void PacketChannel::stopTls()
{
    if (!m_tls)
        return;
    m_in.append(m_tls->takeUnread());
    m_tls.reset();
}

void PacketChannel::consume(qsizetype count)
{
    m_inPos += count;
    if (m_inPos == m_in.size()) {
        m_in.clear();
        m_inPos = 0;
    }
}

bool PacketChannel::readMessage(quint8* type, QByteArray* payload)
{
    payload->clear();
    bool first = true;
    for (;;) {
        while (available() < headerSize) {
            if (!fill())
                return false;
        }
        const char* header = m_in.constData() + m_inPos;
        const auto packetType = static_cast<quint8>(header[0]);
        const auto status = static_cast<quint8>(header[1]);
        const qsizetype length = qFromBigEndian<quint16>(header + 2);
        if (!knownClientType(packetType) || length < headerSize || length > maxPacketSize + 1 ||
            (status & ~0x1B) != 0)
            throw ProtocolError("malformed packet header");
        if (first) {
            *type = packetType;
            first = false;
        } else if (packetType != *type) {
            throw ProtocolError("packet of another type inside a message");
        }
        while (available() < length) {
            if (!fill())
                return false;
        }
        if (payload->size() + length - headerSize > maxMessageBytes)
            throw ProtocolError("message too large");
        payload->append(m_in.constData() + m_inPos + headerSize, length - headerSize);
        consume(length);
        if ((status & 0x01) != 0) {
            if ((status & 0x02) == 0)
                return true;
            // The client gave up on this message half way: forget it.
            payload->clear();
            first = true;
        }
    }
}

bool PacketChannel::takeAttention()
{
    if (m_lost || m_shutdown)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    // Whatever else a client sends while its request runs waits in m_in; a flood of it is
    // left in the socket rather than in memory.
    if (available() < readChunk * 16 && ::poll(&p, 1, 0) > 0)
        receive(MSG_DONTWAIT);
    if (available() >= headerSize && static_cast<quint8>(m_in[m_inPos]) == packet::Attention) {
        const qsizetype length = qFromBigEndian<quint16>(m_in.constData() + m_inPos + 2);
        if (length >= headerSize && available() >= length) {
            consume(length);
            return true;
        }
    }
    return false;
}

bool PacketChannel::writeAll(const char* data, qsizetype size)
{
    QByteArray records;
    if (m_tls) {
        if (!m_tls->encrypt(data, size)) {
            m_lost = true;
            return false;
        }
        records = m_tls->takeOutput();
        data = records.constData();
        size = records.size();
    }
    while (size > 0) {
        const ssize_t n = ::send(m_fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_lost = true;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool PacketChannel::send(const char* data, qsizetype size, bool endOfMessage, quint8 type)
{
    if (m_lost || m_shutdown)
        return false;
    const qsizetype room = m_packetSize - headerSize;
    // Several packets go out in one write; a write of a few dozen kilobytes keeps the
    // system calls few without holding much.
    QByteArray wire;
    wire.reserve(std::min<qsizetype>(size + (size / room + 1) * headerSize, 16 * m_packetSize));
    qsizetype offset = 0;
    do {
        const qsizetype chunk = std::min(room, size - offset);
        const bool last = offset + chunk == size;
        char header[headerSize];
        header[0] = static_cast<char>(type);
        header[1] = static_cast<char>(last && endOfMessage ? 0x01 : 0x00);
        qToBigEndian(static_cast<quint16>(chunk + headerSize), header + 2);
        qToBigEndian(m_spid, header + 4);
        header[6] = static_cast<char>(m_packetId++);
        header[7] = 0;
        wire.append(header, headerSize);
        wire.append(data + offset, chunk);
        offset += chunk;
        if (wire.size() >= 16 * m_packetSize || last) {
            if (!writeAll(wire.constData(), wire.size()))
                return false;
            wire.clear();
        }
    } while (offset < size);
    return true;
}

} // namespace sqlsim::tds
