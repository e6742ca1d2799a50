#pragma once

#include "PacketChannel.h"
#include "ReplySink.h"
#include "TdsBuffer.h"

#include <chrono>
#include <functional>

// The answer to one client request: ReplySink calls become TDS tokens that stream out as
// packets fill, with the MORE rule kept (every DONE but the last carries it) and the socket
// watched for the client's attention.
namespace sqlsim::tds {

// Thrown by dropConnection() through the engine to the connection loop. Deliberately not a
// std::exception, so that handlers for engine errors let it pass.
struct ConnectionDropped
{};

namespace done {
constexpr quint16 More = 0x01;
constexpr quint16 Error = 0x02;
constexpr quint16 InTransaction = 0x04;
constexpr quint16 Count = 0x10;
constexpr quint16 Attention = 0x20;
} // namespace done

class TdsReply final : public ReplySink
{
public:
    // tdsVersion: the negotiated one, which decides the forms of some tokens.
    TdsReply(PacketChannel& channel, QString serverName, quint32 tdsVersion);

    void message(const Message& message) override;
    void columns(const QList<Column>& columns) override;
    void row(const QList<Value>& values) override;
    void setTextSize(qint64 bytes) override { m_textSize = bytes; }
    void done(DoneKind kind, std::optional<qint64> rowCount, bool error) override;
    void databaseChanged(const QString& newName, const QString& oldName) override;
    void transactionBegan(quint64 descriptor) override;
    void transactionCommitted(quint64 descriptor) override;
    void transactionRolledBack(quint64 descriptor) override;
    void returnStatus(int status) override;
    void returnValue(int ordinal, const Param& value) override;
    bool cancelled() override;
    void flush() override;
    [[noreturn]] void dropConnection() override;

    // The fault switch: once `rows` rows of this reply have been written, everything written so
    // far goes out (the message left open), onDrop runs and the connection is closed.
    void dropAfterRows(qint64 rows, std::function<void()> onDrop);

    // Ends the reply: the held DONE goes out as the last token (one is added when the engine
    // wrote none), or, after an attention, a DONE with the ATTN bit.
    void finish();
    bool attentionReceived() const { return m_attention; }

    // Every message goes out as this words it: the session's language. None: as it comes.
    void setLocalizer(std::function<Message(const Message&)> localize)
    {
        m_localize = std::move(localize);
    }

    // ENVCHANGE of a string-valued kind (1 database, 2 language, 4 packet size).
    void envChange(quint8 kind, const QString& newValue, const QString& oldValue);
    // Token bytes built elsewhere (LOGINACK).
    void raw(const QByteArray& token);

private:
    // False while the reply is being dropped (after an attention or with the client gone);
    // otherwise puts a held DONE out first, now that something follows it.
    bool beginToken();
    void endToken();
    void releaseHeldDone();
    void ship(bool endOfMessage, bool watch = true);
    void pollAttention();

    PacketChannel& m_channel;
    QString m_serverName;
    bool m_tds72; // (max) types, 8-byte row counts, table names in parts
    bool m_tds73; // NBCROW
    TdsWriter m_out;
    QByteArray m_heldDone;
    bool m_errorSinceDone = false;
    QList<Column> m_columns;
    qint64 m_textSize = -1; // none until the session says
    bool m_attention = false;
    std::chrono::steady_clock::time_point m_lastPoll;
    qint64 m_dropAfterRows = 0; // 0: no fault armed
    qint64 m_rowsWritten = 0;
    std::function<void()> m_onDrop;
    std::function<Message(const Message&)> m_localize;
};

} // namespace sqlsim::tds
