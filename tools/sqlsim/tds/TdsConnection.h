#pragma once

#include "Engine.h"
#include "PacketChannel.h"
#include "TdsLogin.h"

#include <QHash>
#include <functional>
#include <memory>
#include <optional>

// One client connection: login, then requests handed to the engine's session until the
// client leaves. Runs on a thread of its own.
namespace sqlsim::tds {

class RequestLog;
class TdsReply;
class TlsContext;

struct ConnectionSettings
{
    QString serverName = QStringLiteral("SQLSIM"); // in every ERROR and INFO token
    RequestLog* log = nullptr;                     // every batch and RPC received
    // Password of a Windows account ("OFFICE\ivanov") for integrated (NTLM) logins; none
    // refuses them. Names compare case-insensitively.
    std::function<std::optional<QString>(const QString& account)> windowsPassword;
    quint16 spid = 51;
    // The certificate clients may encrypt with; none answers every client that encryption is
    // not supported.
    std::shared_ptr<TlsContext> tls;
    // Every connection encrypted, a client that cannot encrypt refused.
    bool forceEncryption = false;
    // Called before a LOGIN7 is answered: lets sessions of clients that already closed their
    // sockets end first, so that a new client never finds a database still used by them.
    std::function<void(const class TdsConnection* self)> beforeLogin;
};

class TdsConnection
{
public:
    TdsConnection(int fd, Server& server, ConnectionSettings settings);
    ~TdsConnection();
    TdsConnection(const TdsConnection&) = delete;
    TdsConnection& operator=(const TdsConnection&) = delete;

    // Serves until the client leaves, breaks the protocol, or shutdown() is called.
    void run();
    // Safe from another thread.
    void shutdown();
    bool peerClosed() const { return m_channel.peerClosed(); }

private:
    // Answers PRELOGIN and runs the TLS handshake it settles on; false ends the connection.
    bool preLogin(const QByteArray& payload);
    bool login(const QByteArray& payload);
    bool finishLogin(const QString& user, const QString& password, const QString& database,
                     quint32 packetSize, const ClientInfo& client);
    std::optional<QString> integratedLogin(const QByteArray& negotiate, QString* user);
    void batch(const QByteArray& payload);
    void rpc(const QByteArray& payload);
    void transaction(const QByteArray& payload);
    void attention();
    void serve(const std::function<void(TdsReply&)>& work,
               const std::optional<ConnectionFault>& fault = std::nullopt);
    // The fault switch for a request about to run: nothing, a fault to arm on its reply, or
    // (after_rows 0) the connection closed at once by throwing ConnectionDropped.
    std::optional<ConnectionFault> faultFor(const QString& entry);
    void refuse(const QString& user, const QString& language);
    void log(const QString& entry);

    PacketChannel m_channel;
    Server& m_server;
    ConnectionSettings m_settings;
    std::unique_ptr<Session> m_session;
    quint32 m_tdsVersion = 0;
    Encryption m_encryption = Encryption::None;
};

} // namespace sqlsim::tds
