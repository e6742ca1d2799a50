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
#include "TdsRequest.h"
#include "TdsTypes.h"

#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace sqlsim;
using namespace sqlsim::tds;

namespace {

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

// The connection's own request readers, then what the server does with each parameter.
void rpc(const QByteArray& payload, quint32 tdsVersion)
{
    for (const RpcCall& call : readRpcRequest(payload, tdsVersion)) {
        for (const Param& p : call.params)
            useParam(p);
        (void)RequestLog::rpcEntry(call.procedure, call.params);
        (void)RequestLog::rpcEntry(u"sp_addlogin"_s, call.params);
        (void)RequestLog::rpcEntry(u"sp_password"_s, call.params);
    }
}

void batch(const QByteArray& payload, quint32 tdsVersion)
{
    (void)RequestLog::batchEntry(readSqlBatch(payload, tdsVersion));
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
                    (void)readTransactionRequest(payload, tdsVersion);
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
