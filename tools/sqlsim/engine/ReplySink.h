#pragma once

#include "Values.h"

// Where the engine writes the answer to one request. The wire layer implements it: it turns each
// call into TDS tokens, sets the MORE bit on every DONE that is not the last token of the reply,
// and watches the socket for the client's attention while the engine works.
namespace sqlsim {

enum class DoneKind
{
    Statement, // DONE: one statement of a batch
    InProc,    // DONEINPROC: one statement inside a procedure
    Proc,      // DONEPROC: the end of a procedure called by RPC
};

class ReplySink
{
public:
    virtual ~ReplySink() = default;

    // INFO for severity 10 or lower, ERROR above.
    virtual void message(const Message& message) = 0;
    // Starts a result set; rows follow, then done().
    virtual void columns(const QList<Column>& columns) = 0;
    virtual void row(const QList<Value>& values) = 0;
    // The session's TEXTSIZE: rows written from now on carry at most this many bytes of each
    // text, ntext, image, varchar(max), nvarchar(max) and varbinary(max) value, as encoded on
    // the wire; negative: no limit. Output parameters and return values are never cut.
    virtual void setTextSize(qint64 bytes) = 0;
    // Ends one statement. rowCount: the count to report (none: no COUNT bit, as under SET NOCOUNT
    // ON or for DDL); error: the statement failed.
    virtual void done(DoneKind kind, std::optional<qint64> rowCount, bool error) = 0;
    // The current database changed (USE): ENVCHANGE 1, which is how clients learn it.
    virtual void databaseChanged(const QString& newName, const QString& oldName) = 0;
    // Transaction state changes (ENVCHANGE 8, 9, 10) with the 8-byte descriptor.
    virtual void transactionBegan(quint64 descriptor) = 0;
    virtual void transactionCommitted(quint64 descriptor) = 0;
    virtual void transactionRolledBack(quint64 descriptor) = 0;
    virtual void returnStatus(int status) = 0;
    virtual void returnValue(int ordinal, const Param& value) = 0;

    // True once the client has sent an attention: the engine stops as soon as it can and
    // returns; the wire layer then ends the reply with DONE ATTN.
    virtual bool cancelled() = 0;
    // Sends everything written so far now (a DONE among it carries MORE), so that progress
    // messages reach the client while a long statement still runs.
    virtual void flush() = 0;
    // Closes the connection at once without a reply: the fault switch for transfer tests.
    [[noreturn]] virtual void dropConnection() = 0;
};

} // namespace sqlsim
