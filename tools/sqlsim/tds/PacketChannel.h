#pragma once

#include <QByteArray>
#include <atomic>
#include <memory>

// TDS packets over one blocking TCP socket: whole client messages in, replies out split at the
// negotiated packet size, and a look at the socket without blocking for the client's attention.
namespace sqlsim::tds {

class TlsSession;

namespace packet {
constexpr quint8 SqlBatch = 0x01;
constexpr quint8 Rpc = 0x03;
constexpr quint8 Reply = 0x04;
constexpr quint8 Attention = 0x06;
constexpr quint8 TransactionManager = 0x0E;
constexpr quint8 Login7 = 0x10;
constexpr quint8 Sspi = 0x11;
constexpr quint8 PreLogin = 0x12;
} // namespace packet

class PacketChannel
{
public:
    // Takes ownership of the connected socket.
    explicit PacketChannel(int fd);
    ~PacketChannel();
    PacketChannel(const PacketChannel&) = delete;
    PacketChannel& operator=(const PacketChannel&) = delete;

    // A request carries a whole file of an installation as one value; the largest the
    // benchmarks send is 200 MiB.
    static constexpr qsizetype maxMessageBytes = qsizetype(1024) * 1024 * 1024 + 64 * 1024;
    static constexpr int defaultPacketSize = 4096;

    // Blocks for the next whole client message. False when the client has gone. Throws
    // ProtocolError on a malformed packet or a message larger than maxMessageBytes.
    bool readMessage(quint8* type, QByteArray* payload);
    // Without blocking: consumes an attention packet that has arrived and returns true. Any
    // other data stays for readMessage().
    bool takeAttention();
    // The client closed its end or a write failed: nothing more can be sent.
    bool lost() const { return m_lost || m_shutdown; }

    // Sends `size` bytes of a reply as packets; the last one carries the end-of-message bit
    // when endOfMessage is set. False (and lost()) once the client has gone.
    bool send(const char* data, qsizetype size, bool endOfMessage, quint8 type = packet::Reply);

    // From now on packets travel inside TLS records, with a session whose handshake is done.
    // Bytes the client sent after its last handshake message are its first records.
    void startTls(std::unique_ptr<TlsSession> session);
    // Back to clear packets (after a login encrypted on its own).
    void stopTls();
    bool encrypted() const { return m_tls != nullptr; }
    int packetSize() const { return m_packetSize; }
    void setPacketSize(int size);
    void setSpid(quint16 spid) { m_spid = spid; }

    // Safe from another thread: wakes a blocked read and makes every later call fail.
    void shutdown();
    // Safe from another thread: the client has closed its end (or reset it) and nothing it
    // sent before is still unread in the socket.
    bool peerClosed() const;

private:
    qsizetype available() const { return m_in.size() - m_inPos; }
    bool fill();
    // One read from the socket, its clear bytes appended to m_in: 1 read, 0 nothing there
    // (MSG_DONTWAIT only), -1 the client has gone or its TLS broke.
    int receive(int flags);
    void consume(qsizetype count);
    bool writeAll(const char* data, qsizetype size);

    int m_fd;
    QByteArray m_in;
    qsizetype m_inPos = 0;
    bool m_lost = false;
    std::atomic<bool> m_shutdown = false;
    int m_packetSize = defaultPacketSize;
    quint16 m_spid = 51;
    quint8 m_packetId = 1;
    std::unique_ptr<TlsSession> m_tls;
};

} // namespace sqlsim::tds
