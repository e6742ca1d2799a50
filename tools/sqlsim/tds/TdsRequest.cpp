#include "TdsRequest.h"

#include "TdsBuffer.h"
#include "TdsTypes.h"

#include <iterator>

namespace sqlsim::tds {

namespace {

constexpr quint32 tds72 = 0x72000000;

QString wellKnownProcedure(quint16 id)
{
    static const char* const names[] = {nullptr,
                                        "sp_cursor",
                                        "sp_cursoropen",
                                        "sp_cursorprepare",
                                        "sp_cursorexecute",
                                        "sp_cursorprepexec",
                                        "sp_cursorunprepare",
                                        "sp_cursorfetch",
                                        "sp_cursoroption",
                                        "sp_cursorclose",
                                        "sp_executesql",
                                        "sp_prepare",
                                        "sp_execute",
                                        "sp_prepexec",
                                        "sp_prepexecrpc",
                                        "sp_unprepare"};
    if (id == 0 || id >= std::size(names))
        return {};
    return QString::fromLatin1(names[id]);
}

// ALL_HEADERS: its first u32 is its own length; nothing in it matters here.
void skipAllHeaders(TdsReader& in, quint32 tdsVersion)
{
    if (tdsVersion < tds72)
        return;
    const quint32 total = in.u32();
    if (total < 4)
        throw ProtocolError("ALL_HEADERS shorter than its own length");
    in.skip(static_cast<qsizetype>(total) - 4);
}

} // namespace

QString readSqlBatch(const QByteArray& payload, quint32 tdsVersion)
{
    TdsReader in(payload);
    skipAllHeaders(in, tdsVersion);
    return in.utf16(in.remaining() / 2);
}

QList<RpcCall> readRpcRequest(const QByteArray& payload, quint32 tdsVersion)
{
    QList<RpcCall> calls;
    TdsReader in(payload);
    skipAllHeaders(in, tdsVersion);
    const bool modern = tdsVersion >= tds72;
    while (!in.atEnd()) {
        RpcCall call;
        const quint16 nameLength = in.u16();
        if (nameLength == 0xFFFF) {
            const quint16 id = in.u16();
            call.procedure = wellKnownProcedure(id);
            if (call.procedure.isEmpty())
                throw ProtocolError("unknown procedure id");
        } else {
            call.procedure = in.utf16(nameLength);
        }
        in.u16(); // option flags: recompile, no metadata; nothing here depends on them
        while (!in.atEnd()) {
            const quint8 next = in.peekU8();
            if (modern ? (next == 0xFF || next == 0xFE) : next == 0x80) {
                in.u8();
                break;
            }
            call.params.append(readParam(in));
        }
        calls.append(std::move(call));
    }
    return calls;
}

TransactionRequest readTransactionRequest(const QByteArray& payload, quint32 tdsVersion)
{
    TransactionRequest result;
    TdsReader in(payload);
    skipAllHeaders(in, tdsVersion);
    const quint16 request = in.u16();
    if (request == 5) {
        result.kind = TransactionRequest::Kind::Begin;
    } else if (request == 7 || request == 8) {
        result.kind =
            request == 7 ? TransactionRequest::Kind::Commit : TransactionRequest::Kind::Rollback;
        if (!in.atEnd())
            in.bVarchar(); // transaction name
        if (!in.atEnd())
            result.beginNew = (in.u8() & 0x01) != 0;
    }
    return result;
}

} // namespace sqlsim::tds
