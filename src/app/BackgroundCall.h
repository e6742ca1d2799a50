#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

// Runs a blocking call (a statement on the server) on a thread of its own while the GUI thread
// goes on processing events, so that the window stays painted and a stop control can be pressed.
class BackgroundCall : public QObject
{
    Q_OBJECT

public:
    explicit BackgroundCall(QObject* parent = nullptr);

    // Runs work and returns when it has ended, rethrowing what it threw. interrupt is what stop()
    // calls (from the GUI thread) to make the server give up; it is called again every 100 ms
    // until work ends, since a request that comes before the statement reached the server is
    // lost. Not reentrant.
    void run(const std::function<void()>& work, const std::function<void()>& interrupt);
    bool isRunning() const { return m_running; }
    // Whether stop() was asked during the last run.
    bool stopRequested() const { return m_stopRequested; }

public slots:
    void stop();

private:
    std::function<void()> m_interrupt;
    QTimer m_repeat;
    bool m_running = false;
    bool m_stopRequested = false;
};
