#include "EventGuard.h"

#include "MyException.h"
#include "OperatorUi.h"
#include "Session.h"

EventGuard::EventGuard(Session& session) : m_session(session) {}

void EventGuard::handleEvent(const std::function<void()>& handler)
{
    // The connections belong to the running statement; the window's controls are unavailable,
    // so only a timer or a focus change could get here.
    if (m_busy)
        return;
    ++m_depth;
    try {
        handler();
    } catch (const CancelledByOperator&) {
        // The operator went back; nothing to report.
    } catch (const StoppedByOperator& stopped) {
        // Asked for, so no failure: said as information, unless the window is closing.
        if (!m_closingWhenIdle)
            ShowErrorReport(m_session.operatorUi(), stopped);
    } catch (const std::exception& error) {
        // A statement stopped because the operator closes the window needs no message.
        if (!m_closingWhenIdle) {
            emit failed(errorMessage(error));
            ShowErrorReport(m_session.operatorUi(), error);
        }
    }
    if (--m_depth > 0)
        return;
    // Idle, the window holds no database: an operation makes the database it needs current
    // while it runs, and afterwards another program may restore over it or detach it.
    m_session.leaveDatabaseWhenIdle();
    emit idle();
}

void EventGuard::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    emit busyChanged(busy);
}
