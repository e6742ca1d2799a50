#pragma once

#include <QObject>
#include <functional>

class Session;

// Runs the window's event handlers. An error that leaves one is shown by the default error
// report, as the operator expects, and the program carries on; errors never travel through Qt's
// own frames. While a console statement runs off the GUI thread the window is busy: no other
// handler runs.
class EventGuard : public QObject
{
    Q_OBJECT

public:
    explicit EventGuard(Session& session);

    void handleEvent(const std::function<void()>& handler);
    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }
    // The window is closing once the running statement has stopped: its error needs no message.
    void setClosingWhenIdle(bool closing) { m_closingWhenIdle = closing; }

signals:
    // An error left a handler; said before the error report.
    void failed(const QString& message);
    // The outermost handler has ended.
    void idle();
    void busyChanged(bool busy);

private:
    Session& m_session;
    bool m_busy = false;
    bool m_closingWhenIdle = false;
    int m_depth = 0; // handlers running, one inside another
};
