#include "TdsConnection.h"

#include "Ntlm.h"
#include "RequestLog.h"
#include "TdsBuffer.h"
#include "TdsLogin.h"
#include "TdsReply.h"
#include "TdsRequest.h"
#include "TdsTypes.h"
#include "TlsSession.h"

using namespace Qt::StringLiterals;

namespace sqlsim::tds {

namespace {

// A request that cannot be read to its end: answered, and the connection goes on.
Message malformedRequest(const char* detail)
{
    return {4002,
            1,
            16,
            u"The incoming tabular data stream (TDS) protocol stream is incorrect. %1"_s.arg(
                QString::fromUtf8(detail)),
            {},
            1};
}

QByteArray collationEnvChange()
{
    TdsWriter out;
    out.u8(0xE3);
    out.u16(static_cast<quint16>(1 + 1 + serverCollation().size() + 1));
    out.u8(7);
    out.bVarbyte(serverCollation());
    out.u8(0);
    return out.data();
}

QByteArray attentionDone(bool wideCount)
{
    TdsWriter out;
    out.u8(0xFD);
    out.u16(done::Attention);
    out.u16(0);
    if (wideCount)
        out.u64(0);
    else
        out.u32(0);
    return out.data();
}

} // namespace

TdsConnection::TdsConnection(int fd, Server& server, ConnectionSettings settings)
    : m_channel(fd), m_server(server), m_settings(std::move(settings))
{
    m_channel.setSpid(m_settings.spid);
}

TdsConnection::~TdsConnection() = default;

void TdsConnection::shutdown()
{
    m_channel.shutdown();
}

void TdsConnection::log(const QString& entry)
{
    if (m_settings.log != nullptr)
        m_settings.log->write(entry);
}

void TdsConnection::run()
{
    try {
        quint8 type = 0;
        QByteArray payload;
        while (m_channel.readMessage(&type, &payload)) {
            if (!m_session) {
                if (type == packet::PreLogin) {
                    if (!preLogin(payload))
                        break;
                } else if (type == packet::Login7) {
                    // Encrypted on its own: the answer and all after it go in clear text
                    // (MS-TDS 2.2.6.5, ENCRYPTION).
                    if (m_encryption == Encryption::LoginOnly)
                        m_channel.stopTls();
                    if (m_server.takeLoginFault()) {
                        log(u"fault: connection closed instead of answering a login"_s);
                        break;
                    }
                    if (m_settings.beforeLogin)
                        m_settings.beforeLogin(this);
                    if (!login(payload))
                        break;
                } else if (type != packet::Attention) {
                    break; // nothing but a login is allowed before one
                }
                continue;
            }
            switch (type) {
            case packet::SqlBatch:
                batch(payload);
                break;
            case packet::Rpc:
                rpc(payload);
                break;
            case packet::TransactionManager:
                transaction(payload);
                break;
            case packet::Attention:
                attention();
                break;
            default:
                throw ProtocolError("login packet on a logged-in connection");
            }
        }
    } catch (const ConnectionDropped&) {
    } catch (...) {
        // A protocol error or a failure outside a request: this connection ends, no other.
    }
    m_channel.shutdown();
    m_session.reset();
}

bool TdsConnection::preLogin(const QByteArray& payload)
{
    const EncryptionChoice choice = chooseEncryption(
        preLoginEncryption(payload), m_settings.tls != nullptr, m_settings.forceEncryption);
    const QByteArray reply = preLoginReply(m_server.programVersion(), choice.answer);
    if (!m_channel.send(reply.constData(), reply.size(), true))
        return false;
    if (choice.refuse) {
        // The server closes the connection of a client that cannot encrypt (MS-TDS 2.2.6.5).
        log(u"login refused: the client cannot encrypt and the server requires it"_s);
        return false;
    }
    if (choice.mode == Encryption::None)
        return true;
    // The handshake travels as the payload of PRELOGIN packets both ways (MS-TDS 2.2.6.5).
    auto session = std::make_unique<TlsSession>(m_settings.tls);
    for (;;) {
        quint8 type = 0;
        QByteArray handshake;
        if (!m_channel.readMessage(&type, &handshake) || type != packet::PreLogin)
            return false;
        session->feed(handshake.constData(), handshake.size());
        const TlsSession::Step step = session->handshake();
        const QByteArray answer = session->takeOutput();
        if (!answer.isEmpty() &&
            !m_channel.send(answer.constData(), answer.size(), true, packet::PreLogin))
            return false;
        if (step == TlsSession::Step::Failed)
            return false;
        if (step == TlsSession::Step::Done)
            break;
    }
    m_channel.startTls(std::move(session));
    m_encryption = choice.mode;
    return !m_channel.lost();
}

void TdsConnection::refuse(const QString& user, const QString& language)
{
    TdsReply reply(m_channel, m_settings.serverName, m_tdsVersion);
    reply.setLocalizer([this, user, language](const Message& m) {
        return m_server.localizedForLogin(m, user, language);
    });
    reply.message({18456, 1, 14, u"Login failed for user '%1'."_s.arg(user), {}, 1});
    reply.done(DoneKind::Statement, std::nullopt, true);
    reply.finish();
}

bool TdsConnection::login(const QByteArray& payload)
{
    const Login7 request = parseLogin7(payload);
    m_tdsVersion = negotiatedTdsVersion(request.tdsVersion);
    const ClientInfo client{request.hostName, request.appName, request.libraryName,
                            request.clientPid, request.language};
    if (!request.integratedSecurity())
        return finishLogin(request.userName, request.password, request.database, request.packetSize,
                           client);
    QString account;
    const std::optional<QString> password = integratedLogin(request.sspi, &account);
    if (!password) {
        log(u"login refused: %1 (integrated)"_s.arg(account));
        if (account.isEmpty()) {
            // Not NTLM (Kerberos, say): there is no domain to ask.
            TdsReply reply(m_channel, m_settings.serverName, m_tdsVersion);
            reply.message({18452,
                           1,
                           14,
                           u"Login failed. The login is from an untrusted domain and cannot be "
                           u"used with Integrated authentication."_s,
                           {},
                           1});
            reply.done(DoneKind::Statement, std::nullopt, true);
            reply.finish();
        } else {
            refuse(account, request.language);
        }
        return false;
    }
    return finishLogin(account, *password, request.database, request.packetSize, client);
}

std::optional<QString> TdsConnection::integratedLogin(const QByteArray& negotiate, QString* user)
{
    if (!ntlm::isNegotiate(negotiate))
        return std::nullopt;
    const ntlm::Challenge challenge = ntlm::makeChallenge(m_settings.serverName);
    TdsWriter token;
    token.u8(0xED); // SSPI
    token.u16(static_cast<quint16>(challenge.message.size()));
    token.bytes(challenge.message);
    if (!m_channel.send(token.data().constData(), token.size(), true))
        return std::nullopt;
    quint8 type = 0;
    QByteArray answer;
    if (!m_channel.readMessage(&type, &answer) || type != packet::Sspi)
        return std::nullopt;
    const std::optional<ntlm::Authenticate> auth = ntlm::parseAuthenticate(answer);
    if (!auth)
        return std::nullopt;
    *user = auth->domain.isEmpty() ? auth->user : auth->domain + u'\\' + auth->user;
    const std::optional<QString> password =
        m_settings.windowsPassword ? m_settings.windowsPassword(*user) : std::nullopt;
    if (!password || !ntlm::verify(*auth, challenge.serverChallenge, *password))
        return std::nullopt;
    return password;
}

bool TdsConnection::finishLogin(const QString& user, const QString& password,
                                const QString& database, quint32 packetSize,
                                const ClientInfo& client)
{
    static const char* const encryptionNames[] = {"none", "login", "all"};
    log(u"login: %1%2 encryption=%3"_s.arg(
        user, database.isEmpty() ? QString() : u" database="_s + database,
        QString::fromLatin1(encryptionNames[static_cast<int>(m_encryption)])));
    std::variant<std::unique_ptr<Session>, Message> result;
    try {
        result = m_server.login(user, password, database, client);
    } catch (const std::exception& e) {
        result = Message{18456, 1, 14, QString::fromUtf8(e.what()), {}, 1};
    }
    if (auto* refusal = std::get_if<Message>(&result)) {
        TdsReply reply(m_channel, m_settings.serverName, m_tdsVersion);
        reply.setLocalizer([this, &user, &client](const Message& m) {
            return m_server.localizedForLogin(m, user, client.language);
        });
        reply.message(*refusal);
        // A database that cannot be opened (missing, offline) fails the login too: 4060, then
        // 18456 (learn.microsoft.com/troubleshoot/sql/database-engine/connect/
        // consistent-authentication-connectivity-issues).
        if (refusal->number == 4060 || refusal->number == 4064)
            reply.message({18456, 1, 14, u"Login failed for user '%1'."_s.arg(user), {}, 1});
        reply.done(DoneKind::Statement, std::nullopt, true);
        reply.finish();
        return false;
    }
    m_session = std::move(std::get<std::unique_ptr<Session>>(result));
    if (!m_session)
        return false;
    // A session ended by the server loses its connection at once; the client learns it on its
    // next request.
    m_session->setTerminator([this] { m_channel.shutdown(); });
    const int size = packetSize == 0
                         ? PacketChannel::defaultPacketSize
                         : static_cast<int>(std::clamp<quint32>(packetSize, 512, 32767));
    const QString databaseName = m_session->currentDatabase();
    // In the order SQL Server sends it; the client reads up to the DONE.
    TdsReply reply(m_channel, m_settings.serverName, m_tdsVersion);
    Session* session = m_session.get();
    reply.setLocalizer([session](const Message& m) { return session->localized(m); });
    const QString language = m_session->languageName();
    reply.envChange(1, databaseName, u"master"_s);
    reply.message({5701, 2, 0, u"Changed database context to '%1'."_s.arg(databaseName), {}, 1});
    reply.raw(collationEnvChange());
    reply.envChange(2, language, {});
    reply.message({5703, 1, 0, u"Changed language setting to %1."_s.arg(language), {}, 1});
    reply.raw(loginAckToken(m_tdsVersion, m_server.programVersion()));
    reply.envChange(4, QString::number(size), QString::number(PacketChannel::defaultPacketSize));
    reply.done(DoneKind::Statement, std::nullopt, false);
    reply.finish();
    m_channel.setPacketSize(size);
    return !m_channel.lost();
}

std::optional<ConnectionFault> TdsConnection::faultFor(const QString& entry)
{
    std::optional<ConnectionFault> fault = m_server.takeConnectionFault(entry);
    if (fault && fault->afterRows == 0) {
        log(u"fault: connection closed before the reply to the request matching '%1'"_s.arg(
            fault->match));
        m_channel.shutdown();
        throw ConnectionDropped{};
    }
    return fault;
}

void TdsConnection::serve(const std::function<void(TdsReply&)>& work,
                          const std::optional<ConnectionFault>& fault)
{
    TdsReply reply(m_channel, m_settings.serverName, m_tdsVersion);
    if (Session* session = m_session.get())
        reply.setLocalizer([session](const Message& m) { return session->localized(m); });
    if (fault) {
        reply.dropAfterRows(fault->afterRows, [this, fault] {
            log(u"fault: connection closed after %1 rows of the reply to the request matching "
                u"'%2'"_s.arg(fault->afterRows)
                    .arg(fault->match));
        });
    }
    try {
        work(reply);
    } catch (const ConnectionDropped&) {
        throw;
    } catch (const std::exception& e) {
        reply.message(
            {50000, 1, 16, u"Internal error: %1"_s.arg(QString::fromUtf8(e.what())), {}, 1});
        reply.done(DoneKind::Statement, std::nullopt, true);
    } catch (...) {
        reply.message({50000, 1, 16, u"Internal error."_s, {}, 1});
        reply.done(DoneKind::Statement, std::nullopt, true);
    }
    reply.finish();
}

void TdsConnection::batch(const QByteArray& payload)
{
    QString sql;
    try {
        sql = readSqlBatch(payload, m_tdsVersion);
    } catch (const ProtocolError& e) {
        serve([&](TdsReply& reply) {
            reply.message(malformedRequest(e.what()));
            reply.done(DoneKind::Statement, std::nullopt, true);
        });
        return;
    }
    const QString entry = RequestLog::batchEntry(sql);
    log(entry);
    const std::optional<ConnectionFault> fault = faultFor(entry);
    serve([&](TdsReply& reply) { m_session->executeBatch(sql, reply); }, fault);
}

void TdsConnection::rpc(const QByteArray& payload)
{
    QList<RpcCall> calls;
    try {
        calls = readRpcRequest(payload, m_tdsVersion);
    } catch (const ProtocolError& e) {
        serve([&](TdsReply& reply) {
            reply.message(malformedRequest(e.what()));
            reply.done(DoneKind::Proc, std::nullopt, true);
        });
        return;
    }
    std::optional<ConnectionFault> fault;
    for (const RpcCall& call : calls) {
        const QString entry = RequestLog::rpcEntry(call.procedure, call.params);
        log(entry);
        if (!fault)
            fault = faultFor(entry);
    }
    serve(
        [&](TdsReply& reply) {
            for (const RpcCall& call : calls) {
                if (reply.cancelled())
                    break;
                m_session->executeRpc(call.procedure, call.params, reply);
            }
        },
        fault);
}

void TdsConnection::transaction(const QByteArray& payload)
{
    TransactionRequest request;
    try {
        request = readTransactionRequest(payload, m_tdsVersion);
    } catch (const ProtocolError& e) {
        serve([&](TdsReply& reply) {
            reply.message(malformedRequest(e.what()));
            reply.done(DoneKind::Statement, std::nullopt, true);
        });
        return;
    }
    const bool beginNew = request.beginNew;
    switch (request.kind) {
    case TransactionRequest::Kind::Begin:
        log(u"tran: begin"_s);
        serve([&](TdsReply& reply) { m_session->beginTransaction(reply); });
        break;
    case TransactionRequest::Kind::Commit:
        log(beginNew ? u"tran: commit, begin"_s : u"tran: commit"_s);
        serve([&](TdsReply& reply) { m_session->commitTransaction(beginNew, reply); });
        break;
    case TransactionRequest::Kind::Rollback:
        log(beginNew ? u"tran: rollback, begin"_s : u"tran: rollback"_s);
        serve([&](TdsReply& reply) { m_session->rollbackTransaction(beginNew, reply); });
        break;
    case TransactionRequest::Kind::Other:
        serve([&](TdsReply& reply) {
            reply.message({50000,
                           1,
                           16,
                           u"Distributed transactions are not supported by this server."_s,
                           {},
                           1});
            reply.done(DoneKind::Statement, std::nullopt, true);
        });
        break;
    }
}

void TdsConnection::attention()
{
    // Idle: the reply it would have stopped is over, yet the client waits for the ATTN bit.
    const QByteArray token = attentionDone(m_tdsVersion >= 0x72000000);
    m_channel.send(token.constData(), token.size(), true);
}

} // namespace sqlsim::tds
