#pragma once

#include "TdsConnection.h"

#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

// The simulator's TCP listener: 127.0.0.1 only, one thread per connection.
namespace sqlsim::tds {

class TdsListener
{
public:
    explicit TdsListener(Server& server, ConnectionSettings settings = {});
    ~TdsListener();
    TdsListener(const TdsListener&) = delete;
    TdsListener& operator=(const TdsListener&) = delete;

    // Binds 127.0.0.1:port (0: any free port); false with the reason otherwise.
    bool listen(quint16 port, QString* error = nullptr);
    quint16 port() const { return m_port; }
    // Accepts connections on a thread of its own until stop().
    void start();
    // Stops accepting, ends every connection and waits for their threads.
    void stop();
    int connectionCount();

private:
    struct Worker
    {
        std::shared_ptr<TdsConnection> connection;
        std::thread thread;
        std::atomic<bool> finished = false;
    };

    void acceptLoop();
    void reapFinished();
    // Waits until every other connection whose client has closed its socket has ended.
    void awaitClosedConnections(const TdsConnection* self);

    Server& m_server;
    ConnectionSettings m_settings;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    quint16 m_port = 0;
    quint16 m_nextSpid = 51;
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::condition_variable m_workerEnded;
    std::list<std::unique_ptr<Worker>> m_workers;
    bool m_stopping = false;
};

} // namespace sqlsim::tds
