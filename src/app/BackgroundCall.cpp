#include "BackgroundCall.h"

#include <QEventLoop>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

namespace {
constexpr int repeatIntervalMs = 100;
}

BackgroundCall::BackgroundCall(QObject* parent) : QObject(parent)
{
    m_repeat.setInterval(repeatIntervalMs);
    connect(&m_repeat, &QTimer::timeout, this, [this] {
        if (m_interrupt)
            m_interrupt();
    });
}

void BackgroundCall::run(const std::function<void()>& work, const std::function<void()>& interrupt)
{
    Q_ASSERT(!m_running);
    m_interrupt = interrupt;
    m_running = true;
    m_stopRequested = false;
    QEventLoop loop;
    std::exception_ptr failure;
    std::atomic<bool> done = false;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        // Queued: the loop may not have started yet, and it is the GUI thread's to quit.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    // The loop also ends when the application quits: the statement is stopped then, not waited
    // for.
    if (!done)
        m_stopRequested = true;
    while (!done) {
        if (m_interrupt)
            m_interrupt();
        std::this_thread::sleep_for(std::chrono::milliseconds(repeatIntervalMs));
    }
    worker.join();
    m_repeat.stop();
    m_running = false;
    m_interrupt = nullptr;
    if (failure)
        std::rethrow_exception(failure);
}

void BackgroundCall::stop()
{
    if (!m_running || m_stopRequested)
        return;
    m_stopRequested = true;
    if (m_interrupt)
        m_interrupt();
    m_repeat.start();
}
