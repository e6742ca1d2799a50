#include "TdsListener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace sqlsim::tds {

TdsListener::TdsListener(Server& server, ConnectionSettings settings)
    : m_server(server), m_settings(std::move(settings))
{
    m_settings.beforeLogin = [this](const TdsConnection* self) {
        awaitClosedConnections(self);
    };
}

TdsListener::~TdsListener()
{
    stop();
}

bool TdsListener::listen(quint16 port, QString* error)
{
    const auto fail = [&](const QString& what) {
        if (error != nullptr)
            *error = u"%1: %2"_s.arg(what, QString::fromLocal8Bit(std::strerror(errno)));
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        m_listenFd = -1;
        return false;
    };
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return fail(u"socket"_s);
    const int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // a test peer: never beyond this machine
    if (::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return fail(u"cannot bind 127.0.0.1:%1"_s.arg(port));
    if (::listen(m_listenFd, 64) != 0)
        return fail(u"listen"_s);
    socklen_t length = sizeof address;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    if (::pipe2(m_wakeFds, O_CLOEXEC) != 0)
        return fail(u"pipe"_s);
    return true;
}

void TdsListener::start()
{
    if (m_listenFd < 0 || m_acceptThread.joinable())
        return;
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

void TdsListener::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: give the connections a moment to end instead of spinning.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        const int on = 1;
        // Replies are often a single small packet; waiting to coalesce them costs 40 ms each.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::lock_guard lock(m_mutex);
        reapFinished();
        if (m_stopping) {
            ::close(fd);
            return;
        }
        ConnectionSettings settings = m_settings;
        settings.spid = m_nextSpid;
        m_nextSpid = m_nextSpid >= 32000 ? 51 : static_cast<quint16>(m_nextSpid + 1);
        auto worker = std::make_unique<Worker>();
        worker->connection = std::make_shared<TdsConnection>(fd, m_server, settings);
        Worker* raw = worker.get();
        worker->thread = std::thread([this, raw] {
            raw->connection->run();
            {
                std::lock_guard ended(m_mutex);
                raw->finished = true;
            }
            m_workerEnded.notify_all();
        });
        m_workers.push_back(std::move(worker));
    }
}

void TdsListener::reapFinished()
{
    for (auto it = m_workers.begin(); it != m_workers.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = m_workers.erase(it);
        } else {
            ++it;
        }
    }
}

void TdsListener::awaitClosedConnections(const TdsConnection* self)
{
    // A client that closed its socket before another one logs in has left the server by then,
    // as it has for SQL Server; its thread may simply not have read the end yet.
    std::unique_lock lock(m_mutex);
    m_workerEnded.wait(lock, [&] {
        return m_stopping || std::none_of(m_workers.begin(), m_workers.end(), [&](const auto& w) {
                   return !w->finished && w->connection.get() != self &&
                          w->connection->peerClosed();
               });
    });
}

int TdsListener::connectionCount()
{
    std::lock_guard lock(m_mutex);
    reapFinished();
    return static_cast<int>(m_workers.size());
}

void TdsListener::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    if (m_acceptThread.joinable()) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFds[1], &byte, 1);
        m_acceptThread.join();
    }
    std::list<std::unique_ptr<Worker>> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (const auto& worker : workers)
        worker->connection->shutdown();
    for (const auto& worker : workers)
        worker->thread.join();
    const auto closeFd = [](int& fd) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    };
    closeFd(m_listenFd);
    closeFd(m_wakeFds[0]);
    closeFd(m_wakeFds[1]);
}

} // namespace sqlsim::tds
