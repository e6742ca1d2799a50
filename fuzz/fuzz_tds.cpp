// sqlsim's wire: the bytes are what a client sends on one connection. A PacketChannel reads them
// from a socket pair and assembles the messages; each message then goes to the reader of its
// type, as the connection would hand it on: parseLogin7, NTLM, and the request readers of batches,
// RPC calls (readParam) and transaction requests, followed by what the server does with a
// parameter: convert it, log it and send it back as an output value.
#include "FuzzSupport.h"
#include "Ntlm.h"
#include "PacketChannel.h"
#include "RequestLog.h"
#include "TdsBuffer.h"
#include "TdsLogin.h"
#include "TdsTypes.h"

#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace sqlsim;
using namespace sqlsim::tds;

namespace {

// ALL_HEADERS, from TDS 7.2 on: its first u32 is its own length.
void skipAllHeaders(TdsReader& in, quint32 tdsVersion)
{
    if (tdsVersion < 0x72000000)
        return;
    const quint32 total = in.u32();
    if (total < 4)
        throw ProtocolError("ALL_HEADERS shorter than its own length");
    in.skip(static_cast<qsizetype>(total) - 4);
}

void useParam(const Param& p)
{
    (void)toInteger(p.value);
    (void)toDouble(p.value);
    (void)toText(p.value);
    (void)toBytes(p.value);
    (void)toDateTime(p.value);
    (void)toDecimalText(p.value, std::clamp(p.type.scale, 0, 38));
    // An output parameter goes back in its declared type.
    TdsWriter out;
    const ColumnType type = wireType(p.type);
    writeTypeInfo(out, type, false);
    writeValue(out, type, p.value);
    writeTypeInfo(out, legacyType(type), true, false);
    writeValue(out, legacyType(type), p.value);
}

// The framing of an RPC request, as the connection reads it.
void rpc(const QByteArray& payload, quint32 tdsVersion)
{
    TdsReader in(payload);
    skipAllHeaders(in, tdsVersion);
    const bool modern = tdsVersion >= 0x72000000;
    while (!in.atEnd()) {
        QString procedure;
        const quint16 nameLength = in.u16();
        if (nameLength == 0xFFFF)
            procedure = u"sp_id_%1"_s.arg(in.u16());
        else
            procedure = in.utf16(nameLength);
        in.u16(); // option flags
        QList<Param> params;
        while (!in.atEnd()) {
            const quint8 next = in.peekU8();
            if (modern ? (next == 0xFF || next == 0xFE) : next == 0x80) {
                in.u8();
                break;
            }
            params.append(readParam(in));
            useParam(params.back());
        }
        (void)RequestLog::rpcEntry(procedure, params);
        (void)RequestLog::rpcEntry(u"sp_addlogin"_s, params);
        (void)RequestLog::rpcEntry(u"sp_password"_s, params);
    }
}

void batch(const QByteArray& payload, quint32 tdsVersion)
{
    TdsReader in(payload);
    skipAllHeaders(in, tdsVersion);
    (void)RequestLog::batchEntry(in.utf16(in.remaining() / 2));
}

void transaction(const QByteArray& payload, quint32 tdsVersion)
{
    TdsReader in(payload);
    skipAllHeaders(in, tdsVersion);
    const quint16 request = in.u16();
    if (request == 7 || request == 8) {
        if (!in.atEnd())
            (void)in.bVarchar();
        if (!in.atEnd())
            (void)in.u8();
    }
}

void login(const QByteArray& payload, quint32* tdsVersion, PacketChannel& channel)
{
    const Login7 request = parseLogin7(payload);
    *tdsVersion = negotiatedTdsVersion(request.tdsVersion);
    channel.setPacketSize(static_cast<int>(std::clamp<quint32>(request.packetSize, 0, 32767)));
    (void)loginAckToken(*tdsVersion, 0x0F0007D0);
    if (request.integratedSecurity())
        (void)ntlm::isNegotiate(request.sspi);
}

void sspi(const QByteArray& payload)
{
    const std::optional<ntlm::Authenticate> answer = ntlm::parseAuthenticate(payload);
    if (answer)
        (void)ntlm::verify(*answer, QByteArray(8, '\x11'), u"Windows-Pass1"_s);
}

} // namespace

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        std::abort();
    // -max_len keeps inputs below the socket's buffer, so this never blocks.
    const int buffer = 1024 * 1024;
    ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    for (std::size_t written = 0; written < size;) {
        const ssize_t n = ::write(fds[1], data + written, size - written);
        if (n <= 0)
            std::abort();
        written += static_cast<std::size_t>(n);
    }
    ::shutdown(fds[1], SHUT_WR);
    {
        PacketChannel channel(fds[0]);
        quint32 tdsVersion = tds74;
        quint8 type = 0;
        QByteArray payload;
        for (;;) {
            try {
                while (channel.takeAttention()) {
                }
                if (!channel.readMessage(&type, &payload))
                    break;
            } catch (const ProtocolError&) {
                break; // the connection ends
            }
            try {
                switch (type) {
                case packet::Login7:
                    login(payload, &tdsVersion, channel);
                    break;
                case packet::Sspi:
                    sspi(payload);
                    break;
                case packet::SqlBatch:
                    batch(payload, tdsVersion);
                    break;
                case packet::Rpc:
                    rpc(payload, tdsVersion);
                    break;
                case packet::TransactionManager:
                    transaction(payload, tdsVersion);
                    break;
                default:
                    break;
                }
            } catch (const ProtocolError&) {
                // A request that cannot be read is answered; the connection goes on.
            }
        }
    }
    ::close(fds[1]);
    return 0;
}
