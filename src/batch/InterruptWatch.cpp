#include "InterruptWatch.h"

#include "Connection.h"

#include <QtGlobal>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

#if defined(Q_OS_UNIX)

namespace {

constexpr int watchedSignals[] = {SIGINT, SIGTERM, SIGHUP};
// A signal handler may only write to a file descriptor: the watching thread reads the other end.
int signalPipe[2] = {-1, -1};

extern "C" void onSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void handleSignals(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Calls the program makes meanwhile go on rather than fail with EINTR.
    action.sa_flags = SA_RESTART;
    for (const int signal : watchedSignals)
        sigaction(signal, &action, nullptr);
}

} // namespace

InterruptWatch::InterruptWatch(db::Connection& connection) : m_connection(connection)
{
    if (::pipe2(signalPipe, O_CLOEXEC) != 0)
        return; // without the pipe the signals keep their default: the run simply ends
    m_thread = std::thread([this] { watch(); });
    handleSignals(onSignal);
}

InterruptWatch::~InterruptWatch()
{
    if (!m_thread.joinable())
        return;
    handleSignals(SIG_DFL);
    const unsigned char stop = 0;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &stop, 1);
    m_thread.join();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void InterruptWatch::watch()
{
    for (;;) {
        unsigned char byte = 0;
        const ssize_t got = ::read(signalPipe[0], &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || byte == 0)
            return;
        int expected = 0;
        // A statement the main thread waits for is stopped from here; an asynchronous one is
        // cancelled by the flow, which polls stopRequested().
        if (m_signal.compare_exchange_strong(expected, byte))
            m_connection.interrupt();
    }
}

QString InterruptWatch::signalName(int signal)
{
    switch (signal) {
    case SIGINT:
        return u"SIGINT"_s;
    case SIGTERM:
        return u"SIGTERM"_s;
    case SIGHUP:
        return u"SIGHUP"_s;
    default:
        return u"сигнал %1"_s.arg(signal);
    }
}

#else

InterruptWatch::InterruptWatch(db::Connection& connection) : m_connection(connection) {}
InterruptWatch::~InterruptWatch() = default;
void InterruptWatch::watch() {}
QString InterruptWatch::signalName(int signal)
{
    return u"сигнал %1"_s.arg(signal);
}

#endif
