#pragma once

// An application that will not let go of its database: logged into it, and logged in again a
// millisecond after every time it is thrown out, until stop(). The program's closing of other
// sessions must leave such a database usable by everyone.
#include "OdbcClient.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <thread>

class ReconnectingClient
{
public:
    ReconnectingClient(quint16 port, QString password, QString database)
        : m_port(port), m_password(std::move(password)), m_database(std::move(database))
    {}
    ~ReconnectingClient() { stop(); }
    ReconnectingClient(const ReconnectingClient&) = delete;
    ReconnectingClient& operator=(const ReconnectingClient&) = delete;

    // Returns once the first session is in the database.
    bool start()
    {
        m_thread = std::thread([this] { run(); });
        while (m_logins.load() == 0 && !m_failed.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return m_logins.load() > 0;
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int logins() const { return m_logins.load(); }

private:
    void run()
    {
        while (!m_stop.load()) {
            OdbcClient client;
            client.setAppName(QStringLiteral("reconnecting-app"));
            if (!client.connect(m_port, QStringLiteral("sa"), m_password, m_database)) {
                // Refused (single-user, restoring, detached): tried again at once.
                if (m_logins.load() == 0 && ++m_refusals > 2000)
                    m_failed = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            ++m_logins;
            // Working in the database until thrown out, then back 1 ms later.
            while (!m_stop.load() && client.exec(QStringLiteral("SELECT 1")).ok)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    quint16 m_port;
    QString m_password;
    QString m_database;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_failed{false};
    std::atomic<int> m_logins{0};
    int m_refusals = 0;
};
