// What a statement tells the client: its errors and messages, its DONE with the row count
// unless NOCOUNT is on, and whether the client has asked it to stop.
#include "SessionImpl.h"

namespace sqlsim {

void SessionImpl::checkCancel()
{
    if ((m_reply && m_reply->cancelled()) || m_killed)
        throw Cancelled();
}

void SessionImpl::sendError(const Message& message, const Stmt* s, const Frame& frame)
{
    Message m = message;
    if (s && m.line <= 1)
        m.line = s->line;
    if (m.procedure.isEmpty())
        m.procedure = frame.procedure;
    if (m.severity <= 10)
        m.severity = 16;
    m_reply->message(m);
}

void SessionImpl::sendInfo(int number, const QString& text, int severity)
{
    Message m;
    m.number = number;
    m.severity = severity;
    m.state = 1;
    m.text = text;
    if (m_frame)
        m.procedure = m_frame->procedure;
    m_reply->message(m);
}

void SessionImpl::done(const Frame& frame, std::optional<qint64> count, bool error)
{
    m_reply->done(frame.doneKind, count, error);
}

std::optional<qint64> SessionImpl::countOf(qint64 rows) const
{
    if (m_nocount)
        return std::nullopt;
    return rows;
}

} // namespace sqlsim
