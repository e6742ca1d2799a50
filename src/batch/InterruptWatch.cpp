#include "InterruptWatch.h"

#include "Connection.h"

#include <QtGlobal>
#include <vector>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <csignal>
#include <windows.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// The signals a run stops on, as its messages name them.
struct SignalName
{
    int number;
    const char16_t* name;
};

} // namespace

void InterruptWatch::stop(int signal)
{
    int expected = 0;
    // A statement the main thread waits for is stopped from here; an asynchronous one is
    // cancelled by the flow, which polls stopRequested().
    if (m_signal.compare_exchange_strong(expected, signal))
        m_connection.interrupt();
}

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
        stop(byte);
    }
}

const std::vector<SignalName> signalNames = {
    {SIGINT, u"SIGINT"}, {SIGTERM, u"SIGTERM"}, {SIGHUP, u"SIGHUP"}};

#elif defined(Q_OS_WIN)

namespace {

// What a console sends is told as the signal the C runtime names for it, so that the exit code
// (128 + number) reads the same on every system.
constexpr int ctrlBreakSignal = 21; // SIGBREAK

std::atomic<InterruptWatch*> watching{nullptr};
HANDLE recoveryDone = nullptr;

int signalOf(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        return SIGINT;
    case CTRL_BREAK_EVENT:
        return ctrlBreakSignal;
    default: // the console closes, the user logs off, the system shuts down
        return SIGTERM;
    }
}

// The console calls this on a thread of its own.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    InterruptWatch* watch = watching.load();
    if (watch == nullptr)
        return FALSE;
    watch->stop(signalOf(event));
    // The system ends the process once this returns from a close, log-off or shut-down event
    // (and after 5 s in any case): the flow's way out gets that long to finish.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        WaitForSingleObject(recoveryDone, 4500);
    return TRUE;
}

} // namespace

InterruptWatch::InterruptWatch(db::Connection& connection) : m_connection(connection)
{
    recoveryDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watching.store(this);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptWatch::~InterruptWatch()
{
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    watching.store(nullptr);
    SetEvent(recoveryDone);
}

void InterruptWatch::watch() {}

const std::vector<SignalName> signalNames = {{SIGINT, u"SIGINT (Ctrl+C)"},
                                             {ctrlBreakSignal, u"SIGBREAK (Ctrl+Break)"},
                                             {SIGTERM, u"SIGTERM (консоль закрывается)"}};

#else

InterruptWatch::InterruptWatch(db::Connection& connection) : m_connection(connection) {}
InterruptWatch::~InterruptWatch() = default;
void InterruptWatch::watch() {}

const std::vector<SignalName> signalNames;

#endif

QString InterruptWatch::signalName(int signal)
{
    for (const auto& [number, name] : signalNames)
        if (number == signal)
            return QString::fromUtf16(name);
    return u"сигнал %1"_s.arg(signal);
}
