// Requests and the statement loop: a batch, the transaction manager's requests, each
// statement with its errors and DONE, control of flow, PRINT and RAISERROR.
#include "Parser.h"
#include "SessionImpl.h"

#include <QRegularExpression>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

// Watches what goes to the client: the wire needs a DONE after anything else, and the engine
// needs to know whether a called operation reported an error.
class ReplyProxy : public ReplySink
{
public:
    explicit ReplyProxy(ReplySink& inner) : m_inner(inner) {}

    void message(const Message& m) override
    {
        m_pending = true;
        m_inner.message(m);
    }
    void columns(const QList<Column>& c) override
    {
        m_pending = true;
        m_inner.columns(c);
    }
    void row(const QList<Value>& v) override { m_inner.row(v); }
    void setTextSize(qint64 bytes) override { m_inner.setTextSize(bytes); }
    void done(DoneKind kind, std::optional<qint64> rowCount, bool error) override
    {
        m_pending = false;
        ++m_dones;
        m_inner.done(kind, rowCount, error);
    }
    void databaseChanged(const QString& n, const QString& o) override
    {
        m_pending = true;
        m_inner.databaseChanged(n, o);
    }
    void transactionBegan(quint64 d) override
    {
        m_pending = true;
        m_inner.transactionBegan(d);
    }
    void transactionCommitted(quint64 d) override
    {
        m_pending = true;
        m_inner.transactionCommitted(d);
    }
    void transactionRolledBack(quint64 d) override
    {
        m_pending = true;
        m_inner.transactionRolledBack(d);
    }
    void returnStatus(int s) override
    {
        m_pending = true;
        m_inner.returnStatus(s);
    }
    void returnValue(int o, const Param& p) override
    {
        m_pending = true;
        m_inner.returnValue(o, p);
    }
    bool cancelled() override { return m_inner.cancelled(); }
    void flush() override { m_inner.flush(); }
    [[noreturn]] void dropConnection() override
    {
        m_inner.dropConnection();
        std::abort();
    }

    int dones() const { return m_dones; }
    bool pending() const { return m_pending; }

private:
    ReplySink& m_inner;
    int m_dones = 0;
    bool m_pending = false;
};

} // namespace

void SessionImpl::beginRequest(ReplySink& reply)
{
    m_running = true;
    {
        std::lock_guard lock(m_published);
        m_lastBatch = QDateTime::currentDateTime();
    }
    m_reply = &reply;
    setThreadDateFormat(m_dateFormat);
    setTextSize(m_textSize);
}

void SessionImpl::endRequest()
{
    detachIdle();
    m_reply = nullptr;
    m_frame = nullptr;
    m_openTransactions = m_trancount;
    m_running = false;
}

void SessionImpl::executeBatch(const QString& sql, ReplySink& reply)
{
    std::lock_guard busy(m_busy);
    ReplyProxy out(reply);
    beginRequest(out);
    std::vector<StmtPtr> statements;
    bool parsed = false;
    try {
        statements = parseBatch(sql);
        parsed = true;
    } catch (const SqlError& e) {
        Message m = e.message;
        m_error = m.number;
        out.message(m);
        out.done(DoneKind::Statement, std::nullopt, true);
    }
    if (parsed) {
        Frame frame;
        m_frame = &frame;
        try {
            for (const StmtPtr& s : statements) {
                const Flow flow = runStatement(*s, frame);
                if (flow == Flow::Return)
                    break;
            }
        } catch (const BatchAborted&) {
        } catch (const Cancelled&) {
            endRequest();
            return;
        }
        if (out.dones() == 0 || out.pending())
            out.done(DoneKind::Statement, std::nullopt, false);
    }
    endRequest();
}

void SessionImpl::beginTransaction(ReplySink& reply)
{
    std::lock_guard busy(m_busy);
    ReplyProxy out(reply);
    beginRequest(out);
    if (++m_trancount == 1) {
        m_txDescriptor = m_server.nextTransactionDescriptor();
        out.transactionBegan(m_txDescriptor);
    }
    out.done(DoneKind::Statement, std::nullopt, false);
    endRequest();
}

void SessionImpl::commitTransaction(bool beginNew, ReplySink& reply)
{
    endTransaction(true, beginNew, reply);
}

void SessionImpl::rollbackTransaction(bool beginNew, ReplySink& reply)
{
    endTransaction(false, beginNew, reply);
}

void SessionImpl::endTransaction(bool commit, bool beginNew, ReplySink& reply)
{
    std::lock_guard busy(m_busy);
    ReplyProxy out(reply);
    beginRequest(out);
    bool failed = false;
    if (m_trancount == 0) {
        Message m;
        m.number = commit ? 3902 : 3903;
        m.text = u"The %1 TRANSACTION request has no corresponding BEGIN TRANSACTION."_s.arg(
            commit ? u"COMMIT"_s : u"ROLLBACK"_s);
        out.message(m);
        failed = true;
    } else if (commit) {
        const quint64 d = m_txDescriptor;
        try {
            commitAll();
            out.transactionCommitted(d);
        } catch (const SqlError& e) {
            out.message(e.message);
            out.transactionRolledBack(d);
            failed = true;
        }
    } else {
        const quint64 d = m_txDescriptor;
        rollbackAll();
        out.transactionRolledBack(d);
    }
    if (beginNew) {
        m_trancount = 1;
        m_txDescriptor = m_server.nextTransactionDescriptor();
        out.transactionBegan(m_txDescriptor);
    }
    out.done(DoneKind::Statement, std::nullopt, failed);
    endRequest();
}

SessionImpl::Flow SessionImpl::runStatement(const Stmt& s, Frame& frame)
{
    checkCancel();
    m_statementLine = s.line;
    try {
        const Flow flow = runStatementInner(s, frame);
        if (s.kind != Stmt::If && s.kind != Stmt::While && s.kind != Stmt::Block &&
            s.kind != Stmt::Declare && s.kind != Stmt::Exec)
            m_error = 0;
        return flow;
    } catch (const SqlError& e) {
        m_error = e.message.number;
        sendError(e.message, &s, frame);
        done(frame, std::nullopt, true);
        if (e.abortBatch)
            throw BatchAborted();
        return Flow::Next;
    }
}

SessionImpl::Flow SessionImpl::runStatementInner(const Stmt& s, Frame& frame)
{
    switch (s.kind) {
    case Stmt::Select:
        runSelect(s, frame);
        return Flow::Next;
    case Stmt::Insert:
        runInsert(s, frame);
        return Flow::Next;
    case Stmt::Update:
    case Stmt::Delete:
        runUpdateDelete(s, frame);
        return Flow::Next;
    case Stmt::CreateTable:
        runCreateTable(s, frame);
        return Flow::Next;
    case Stmt::DropTable:
        runDropTable(s, frame);
        return Flow::Next;
    case Stmt::AlterTable:
        runAlterTable(s, frame);
        return Flow::Next;
    case Stmt::CreateIndex:
        runCreateIndex(s, frame);
        return Flow::Next;
    case Stmt::DropIndex:
        runDropIndex(s, frame);
        return Flow::Next;
    case Stmt::Truncate:
        runTruncate(s, frame);
        return Flow::Next;
    case Stmt::Use:
        m_rowcount = 0;
        runUse(s, frame);
        return Flow::Next;
    case Stmt::Declare:
        runDeclare(s, frame);
        return Flow::Next;
    case Stmt::SetVariable: {
        std::optional<TypeInfo> type;
        const Value v = evaluate(s.expr, &type);
        assign(frame, s.variable, v, type, s.op);
        m_rowcount = 1;
        return Flow::Next;
    }
    case Stmt::SetOption:
        runSetOption(s, frame);
        m_rowcount = 0;
        return Flow::Next;
    case Stmt::If: {
        if (evaluateCondition(s.expr))
            return runStatement(*s.thenStmt, frame);
        if (s.elseStmt)
            return runStatement(*s.elseStmt, frame);
        return Flow::Next;
    }
    case Stmt::While: {
        while (evaluateCondition(s.expr)) {
            checkCancel();
            const Flow f = runStatement(*s.thenStmt, frame);
            if (f == Flow::Break)
                break;
            if (f == Flow::Return)
                return f;
        }
        return Flow::Next;
    }
    case Stmt::Block:
        for (const StmtPtr& inner : s.body) {
            const Flow f = runStatement(*inner, frame);
            if (f != Flow::Next)
                return f;
        }
        return Flow::Next;
    case Stmt::Break:
        return Flow::Break;
    case Stmt::Continue:
        return Flow::Continue;
    case Stmt::Return:
        if (s.expr) {
            if (frame.nestLevel == 0)
                throw SqlError(178, u"A RETURN statement with a return value cannot be used in "
                                    "this context."_s);
            std::optional<TypeInfo> type;
            const Value v = convertValue(evaluate(s.expr, &type), type, TypeInfo::of(BaseType::Int),
                                         ConversionMode::Variable);
            frame.returnStatus = isNull(v) ? 0 : int(std::get<qint64>(v));
        }
        return Flow::Return;
    case Stmt::Print:
        m_rowcount = 0;
        runPrint(s, frame);
        return Flow::Next;
    case Stmt::Raiserror:
        m_rowcount = 0;
        runRaiserror(s, frame);
        return Flow::Next;
    case Stmt::Exec:
        runExec(s, frame);
        return Flow::Next;
    case Stmt::BeginTran:
        m_rowcount = 0;
        runBeginTran(s, frame);
        return Flow::Next;
    case Stmt::CommitTran:
        m_rowcount = 0;
        runCommit(s, frame);
        return Flow::Next;
    case Stmt::RollbackTran:
        runRollback(s, frame);
        return Flow::Next;
    case Stmt::SaveTran:
        runSave(s, frame);
        return Flow::Next;
    case Stmt::CreateProc:
        runCreateProc(s, frame);
        return Flow::Next;
    case Stmt::DropProc:
        runDropProc(s, frame);
        return Flow::Next;
    case Stmt::CreateDatabase:
        runCreateDatabase(s, frame);
        return Flow::Next;
    case Stmt::DropDatabase:
        runDropDatabase(s, frame);
        return Flow::Next;
    case Stmt::Backup:
        runBackup(s, frame);
        return Flow::Next;
    case Stmt::Restore:
        runRestore(s, frame);
        return Flow::Next;
    case Stmt::AlterDatabase:
        runAlterDatabase(s, frame);
        return Flow::Next;
    case Stmt::Security:
        runSecurity(s, frame);
        return Flow::Next;
    case Stmt::Unsupported:
        throw SqlError(40000, u"sqlsim does not support '%1'."_s.arg(s.name));
    }
    return Flow::Next;
}

void SessionImpl::runPrint(const Stmt& s, Frame&)
{
    sendInfo(0, evaluateText(s.expr), 0);
}

void SessionImpl::runRaiserror(const Stmt& s, Frame&)
{
    if (s.exprs.size() < 3)
        throw SqlError(102, u"Incorrect syntax near ')'."_s);
    std::optional<TypeInfo> msgType;
    const Value msg = evaluate(s.exprs[0], &msgType);
    const Value sevValue = convertValue(evaluate(s.exprs[1]), std::nullopt,
                                        TypeInfo::of(BaseType::Int), ConversionMode::Cast);
    const Value stateValue = convertValue(evaluate(s.exprs[2]), std::nullopt,
                                          TypeInfo::of(BaseType::Int), ConversionMode::Cast);
    const int severity =
        isNull(sevValue) ? 16 : int(std::clamp<qint64>(std::get<qint64>(sevValue), 0, 25));
    const int state =
        isNull(stateValue) ? 1 : int(std::clamp<qint64>(std::get<qint64>(stateValue), 0, 255));
    Message m;
    m.severity = severity > 18 ? 16 : severity;
    m.state = state;
    if (const auto* id = std::get_if<qint64>(&msg)) {
        if (*id < 13000 || *id == 50000)
            throw SqlError(2732, u"Error number %1 is invalid. The number must be from 13000 "
                                 "through 2147483647 and it cannot be 50000."_s.arg(*id));
        m.number = 18054;
        m.text = u"Error %1, severity %2, state %3 was raised, but no message with that error "
                 "number was found in sys.messages. If error is larger than 50000, make sure the "
                 "user-defined message is added using sp_addmessage."_s.arg(
                     QString::number(*id), QString::number(severity), QString::number(state));
    } else {
        m.number = 50000;
        // printf-style substitution of the remaining arguments
        const QString format = valueToText(msg);
        QString out;
        size_t arg = 3;
        static const QRegularExpression placeholder(
            u"%([-+ 0#]*)(\\d*|\\*)(?:\\.(\\d+|\\*))?(h|l|I64)?([diosuxX])"_s);
        qsizetype pos = 0;
        while (pos < format.size()) {
            if (format[pos] == u'%' && pos + 1 < format.size() && format[pos + 1] == u'%') {
                out += u'%';
                pos += 2;
                continue;
            }
            if (format[pos] == u'%') {
                const auto mm = placeholder.match(format, pos, QRegularExpression::NormalMatch,
                                                  QRegularExpression::AnchorAtOffsetMatchOption);
                if (mm.hasMatch()) {
                    QString value;
                    if (arg < s.exprs.size()) {
                        const Value a = evaluate(s.exprs[arg++]);
                        value = isNull(a) ? u"(null)"_s : valueToText(a);
                        const QChar conv = mm.captured(5)[0];
                        if ((conv == u'x' || conv == u'X') && std::holds_alternative<qint64>(a))
                            value = QString::number(std::get<qint64>(a), 16);
                        if (conv == u'X')
                            value = value.toUpper();
                    } else {
                        value = u"(null)"_s;
                    }
                    const int width = mm.captured(2).toInt();
                    if (width > 0 && value.size() < width)
                        value = mm.captured(1).contains(u'-') ? value.leftJustified(width)
                                                              : value.rightJustified(width);
                    out += value;
                    pos += mm.capturedLength();
                    continue;
                }
            }
            out += format[pos++];
        }
        m.text = out.left(2047);
    }
    if (severity <= 10) {
        m.severity = severity;
        if (m_frame)
            m.procedure = m_frame->procedure;
        m_reply->message(m);
        return;
    }
    throw SqlError(m);
}

} // namespace sqlsim
