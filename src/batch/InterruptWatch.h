#pragma once

#include <QString>
#include <atomic>
#include <thread>

namespace db {
class Connection;
}

// SIGINT, SIGTERM and SIGHUP sent to a batch run do not end it where it stands: the statement
// the connection is running is cancelled and the flow takes its way out as after a failure (the
// previous backup back under its name, the database open to all again, temporary files gone).
// The caller then ends the program with 128 + the signal's number. Only the first signal counts;
// later ones wait for the recovery to finish. On Windows the console's Ctrl+C, Ctrl+Break and
// close count as SIGINT, SIGBREAK and SIGTERM.
class InterruptWatch
{
public:
    explicit InterruptWatch(db::Connection& connection);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool stopRequested() const { return m_signal.load() != 0; }
    // The signal received, 0 when none.
    int signalNumber() const { return m_signal.load(); }
    // What a signal does, from whichever thread learnt of it.
    void stop(int signal);
    // "SIGTERM" and the like.
    static QString signalName(int signal);

private:
    void watch();

    db::Connection& m_connection;
    std::atomic<int> m_signal{0};
    std::thread m_thread;
};
