#include "TdsReply.h"

#include "TdsTypes.h"

namespace sqlsim::tds {

namespace {

constexpr quint8 tokenDone = 0xFD;
constexpr quint8 tokenDoneProc = 0xFE;
constexpr quint8 tokenDoneInProc = 0xFF;
constexpr quint8 tokenEnvChange = 0xE3;
constexpr quint8 tokenError = 0xAA;
constexpr quint8 tokenInfo = 0xAB;
constexpr quint8 tokenReturnStatus = 0x79;
constexpr quint8 tokenReturnValue = 0xAC;
constexpr qsizetype headerSize = 8;
// Messages longer than this are cut: the token's own length field is 16 bits.
constexpr qsizetype maxMessageChars = 8000;

QByteArray doneToken(quint8 token, quint16 status, quint64 count, bool wideCount)
{
    TdsWriter out;
    out.u8(token);
    out.u16(status);
    out.u16(0); // current command
    if (wideCount)
        out.u64(count);
    else
        out.u32(static_cast<quint32>(std::min<quint64>(count, 0xFFFFFFFF)));
    return out.data();
}

QByteArray descriptorBytes(quint64 descriptor)
{
    TdsWriter out;
    out.u64(descriptor);
    return out.data();
}

} // namespace

TdsReply::TdsReply(PacketChannel& channel, QString serverName, quint32 tdsVersion)
    : m_channel(channel), m_serverName(std::move(serverName)), m_tds72(tdsVersion >= 0x72000000),
      m_tds73(tdsVersion >= 0x730B0003), m_lastPoll(std::chrono::steady_clock::now())
{}

bool TdsReply::beginToken()
{
    if (m_attention || m_channel.lost())
        return false;
    releaseHeldDone();
    return true;
}

void TdsReply::releaseHeldDone()
{
    if (m_heldDone.isEmpty())
        return;
    m_heldDone[1] = static_cast<char>(m_heldDone[1] | done::More);
    m_out.bytes(m_heldDone);
    m_heldDone.clear();
}

void TdsReply::endToken()
{
    // Streams: whole packets leave once several have gathered, so a large result never sits
    // in memory and the socket is checked for attention as it goes.
    const qsizetype room = m_channel.packetSize() - headerSize;
    if (m_out.size() >= 8 * room)
        ship(false);
}

void TdsReply::ship(bool endOfMessage, bool watch)
{
    QByteArray& data = m_out.data();
    if (endOfMessage) {
        m_channel.send(data.constData(), data.size(), true);
        data.clear();
    } else {
        const qsizetype room = m_channel.packetSize() - headerSize;
        const qsizetype whole = data.size() / room * room;
        if (whole > 0) {
            m_channel.send(data.constData(), whole, false);
            data.remove(0, whole);
        }
    }
    if (watch)
        pollAttention();
}

void TdsReply::pollAttention()
{
    m_lastPoll = std::chrono::steady_clock::now();
    if (!m_attention && m_channel.takeAttention())
        m_attention = true;
}

void TdsReply::message(const Message& given)
{
    if (!beginToken())
        return;
    const Message message = m_localize ? m_localize(given) : given;
    const bool error = message.severity > 10;
    m_out.u8(error ? tokenError : tokenInfo);
    const qsizetype lengthAt = m_out.size();
    m_out.u16(0);
    m_out.i32(message.number);
    m_out.u8(static_cast<quint8>(std::clamp(message.state, 0, 255)));
    m_out.u8(static_cast<quint8>(std::clamp(message.severity, 0, 25)));
    m_out.usVarchar(message.text.left(maxMessageChars));
    m_out.bVarchar(m_serverName);
    m_out.bVarchar(message.procedure);
    m_out.i32(message.line);
    m_out.patchU16(lengthAt, static_cast<quint16>(m_out.size() - lengthAt - 2));
    if (error)
        m_errorSinceDone = true;
    endToken();
}

void TdsReply::columns(const QList<Column>& columns)
{
    m_columns = columns;
    if (!m_tds72) {
        for (Column& column : m_columns)
            column.type = legacyType(column.type);
    }
    if (columns.isEmpty() || !beginToken())
        return;
    writeColumnMetadata(m_out, m_columns, m_tds72);
    endToken();
}

void TdsReply::row(const QList<Value>& values)
{
    if (m_columns.isEmpty() || !beginToken())
        return;
    writeRow(m_out, m_columns, values, m_tds73, m_textSize);
    if (m_dropAfterRows > 0 && ++m_rowsWritten >= m_dropAfterRows) {
        // Not the end of the message: the client has these rows and waits for more in vain.
        m_channel.send(m_out.data().constData(), m_out.size(), false);
        m_out.data().clear();
        if (m_onDrop)
            m_onDrop();
        dropConnection();
    }
    endToken();
}

void TdsReply::dropAfterRows(qint64 rows, std::function<void()> onDrop)
{
    m_dropAfterRows = rows;
    m_rowsWritten = 0;
    m_onDrop = std::move(onDrop);
}

void TdsReply::done(DoneKind kind, std::optional<qint64> rowCount, bool error)
{
    if (!beginToken())
        return;
    quint16 status = 0;
    if (rowCount)
        status |= done::Count;
    if (error)
        status |= done::Error;
    const quint8 token = kind == DoneKind::Statement ? tokenDone
                         : kind == DoneKind::InProc  ? tokenDoneInProc
                                                     : tokenDoneProc;
    // Held back until it is known whether anything follows: only then can MORE be decided.
    m_heldDone = doneToken(token, status, rowCount ? static_cast<quint64>(*rowCount) : 0, m_tds72);
    m_errorSinceDone = false;
    m_columns.clear();
    endToken();
}

void TdsReply::envChange(quint8 kind, const QString& newValue, const QString& oldValue)
{
    if (!beginToken())
        return;
    m_out.u8(tokenEnvChange);
    const qsizetype lengthAt = m_out.size();
    m_out.u16(0);
    m_out.u8(kind);
    m_out.bVarchar(newValue);
    m_out.bVarchar(oldValue);
    m_out.patchU16(lengthAt, static_cast<quint16>(m_out.size() - lengthAt - 2));
    endToken();
}

void TdsReply::databaseChanged(const QString& newName, const QString& oldName)
{
    envChange(1, newName, oldName);
}

void TdsReply::transactionBegan(quint64 descriptor)
{
    if (!beginToken())
        return;
    m_out.u8(tokenEnvChange);
    m_out.u16(1 + 1 + 8 + 1);
    m_out.u8(8);
    m_out.bVarbyte(descriptorBytes(descriptor));
    m_out.u8(0);
    endToken();
}

void TdsReply::transactionCommitted(quint64 descriptor)
{
    if (!beginToken())
        return;
    m_out.u8(tokenEnvChange);
    m_out.u16(1 + 1 + 1 + 8);
    m_out.u8(9);
    m_out.u8(0);
    m_out.bVarbyte(descriptorBytes(descriptor));
    endToken();
}

void TdsReply::transactionRolledBack(quint64 descriptor)
{
    if (!beginToken())
        return;
    m_out.u8(tokenEnvChange);
    m_out.u16(1 + 1 + 1 + 8);
    m_out.u8(10);
    m_out.u8(0);
    m_out.bVarbyte(descriptorBytes(descriptor));
    endToken();
}

void TdsReply::returnStatus(int status)
{
    if (!beginToken())
        return;
    m_out.u8(tokenReturnStatus);
    m_out.i32(status);
    endToken();
}

void TdsReply::returnValue(int ordinal, const Param& value)
{
    if (!beginToken())
        return;
    // TEXT, NTEXT and IMAGE cannot be output parameters; their (max) types carry the value.
    // Before TDS 7.2 there is no (max) either: the longest plain type does, cut to its size.
    ColumnType type = wireType(value.type);
    const int longest = m_tds72 ? ColumnType::max : 8000;
    if (type.type == SqlType::Text || (type.type == SqlType::VarChar && type.length < 0))
        type = {SqlType::VarChar, longest};
    else if (type.type == SqlType::NText || (type.type == SqlType::NVarChar && type.length < 0))
        type = {SqlType::NVarChar, m_tds72 ? ColumnType::max : 4000};
    else if (type.type == SqlType::Image || (type.type == SqlType::VarBinary && type.length < 0))
        type = {SqlType::VarBinary, longest};
    m_out.u8(tokenReturnValue);
    m_out.u16(static_cast<quint16>(ordinal));
    m_out.bVarchar(value.name);
    m_out.u8(0x01); // output parameter
    if (m_tds72)
        m_out.u32(0); // user type
    else
        m_out.u16(0);
    m_out.u16(0x0001);
    writeTypeInfo(m_out, type, false);
    writeValue(m_out, type, value.value);
    endToken();
}

void TdsReply::raw(const QByteArray& token)
{
    if (!beginToken())
        return;
    m_out.bytes(token);
    endToken();
}

bool TdsReply::cancelled()
{
    if (m_attention || m_channel.lost())
        return true;
    // A poll costs a system call; the engine may ask once a row.
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastPoll >= std::chrono::milliseconds(1))
        pollAttention();
    return m_attention || m_channel.lost();
}

void TdsReply::flush()
{
    if (m_attention || m_channel.lost() || (m_out.size() == 0 && m_heldDone.isEmpty()))
        return;
    // The reply is not over, so a DONE held now certainly has something after it.
    releaseHeldDone();
    // A short packet without the end-of-message bit, as SQL Server sends RAISERROR ... WITH
    // NOWAIT: the bit marks the last packet of the reply only (MS-TDS 2.2.3.1.2, Status).
    QByteArray& data = m_out.data();
    m_channel.send(data.constData(), data.size(), false);
    data.clear();
    pollAttention();
}

void TdsReply::dropConnection()
{
    m_channel.shutdown();
    throw ConnectionDropped{};
}

void TdsReply::finish()
{
    if (m_channel.lost())
        return;
    if (m_attention) {
        // What is buffered holds whole tokens only and goes out as it is: the client drops
        // everything up to the DONE with the ATTN bit.
        releaseHeldDone();
        m_out.bytes(doneToken(tokenDone, done::Attention, 0, m_tds72));
    } else if (!m_heldDone.isEmpty()) {
        m_out.bytes(m_heldDone);
        m_heldDone.clear();
    } else {
        m_out.bytes(doneToken(tokenDone, m_errorSinceDone ? done::Error : 0, 0, m_tds72));
    }
    // No look for attention now: one that comes after the end is answered on its own.
    ship(true, false);
}

} // namespace sqlsim::tds
