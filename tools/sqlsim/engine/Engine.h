#pragma once

#include "ReplySink.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

// The simulated server as the wire layer sees it: logins, sessions, requests.
namespace sqlsim {

// A fault a test arms: the next request (batch or RPC, of any connection) whose request-log
// entry contains `match` (case ignored) has its connection closed: before any reply when
// afterRows is 0, otherwise once that many rows of its results have gone out.
struct ConnectionFault
{
    QString match;
    qint64 afterRows = 0;
};

struct ServerOptions
{
    QString dataDir;        // databases and the state file; kept across restarts
    QString saPassword;     // password of the login "sa"
    QString loginsFile;     // more logins: "name=password[; server_roles=...]" ("" = none)
    int versionYear = 2019; // @@version: "Microsoft SQL Server <year> ..."
    qint64 throttleBytesPerSecond = 0; // slows backup and restore (0 = full speed)
    bool failNextTransfer = false; // drop the connection in the middle of the next backup/restore
    QList<ConnectionFault> connectionFaults; // armed from the start, each fires once
    int dropLogins = 0;                      // so many next LOGIN7s are met by a closed socket
    QString language = QStringLiteral("us_english"); // the logins' default language
    QString edition = QStringLiteral("express");     // express, standard, developer, enterprise
    // Added to the size of every user database's data file wherever it is reported or checked
    // against Express's limit, as if the file had that much more free space in it.
    qint64 extraDataMegabytes = 0;
};

class Session;

// What a client tells about itself in LOGIN7, shown in sysprocesses and sys.dm_exec_sessions.
struct ClientInfo
{
    QString hostName;
    QString appName;
    QString libraryName; // CltIntName: client_interface_name
    quint32 processId = 0;
    QString language; // LOGIN7's language; empty: the login's default
};

class Server
{
public:
    // Opens or creates the state in options.dataDir (master, model, msdb, tempdb are made on first
    // start). Throws std::runtime_error with a readable text when the folder cannot be used.
    static std::unique_ptr<Server> open(const ServerOptions& options);
    virtual ~Server() = default;

    // A session for a login, its current database being `database` (empty: the login's default,
    // master). On refusal, the message to send (18456 "Login failed for user '<name>'.", or 4060
    // for a database that cannot be opened).
    virtual std::variant<std::unique_ptr<Session>, Message>
    login(const QString& user, const QString& password, const QString& database) = 0;
    // The same, with what the client told about itself.
    virtual std::variant<std::unique_ptr<Session>, Message> login(const QString& user,
                                                                  const QString& password,
                                                                  const QString& database,
                                                                  const ClientInfo& client)
    {
        Q_UNUSED(client);
        return login(user, password, database);
    }

    // A refusal of a login worded in the language that login's session would have had.
    virtual Message localizedForLogin(const Message& message, const QString& user,
                                      const QString& requestedLanguage) const
    {
        Q_UNUSED(user);
        Q_UNUSED(requestedLanguage);
        return message;
    }

    // The version SQL Server reports in LOGINACK: 15.0.2000 for 2019 and so on.
    virtual quint32 programVersion() const = 0;

    // Fault switches, shared by all connections (none unless a server keeps them). Each armed fault
    // fires once: taking it disarms it. requestEntry: the request's request-log entry.
    virtual std::optional<ConnectionFault> takeConnectionFault(const QString& requestEntry)
    {
        Q_UNUSED(requestEntry);
        return std::nullopt;
    }
    virtual bool takeLoginFault() { return false; }
};

class Session
{
public:
    virtual ~Session() = default;

    virtual QString currentDatabase() const = 0;
    // The session's language as sys.syslanguages names it (ENVCHANGE 2, message 5703).
    virtual QString languageName() const { return QStringLiteral("us_english"); }
    // A message in the session's language: every message sent to the client goes through it.
    virtual Message localized(const Message& message) const { return message; }
    // How the server ends this session's connection (KILL, ALTER DATABASE ... WITH ROLLBACK
    // IMMEDIATE): safe to call from any thread.
    virtual void setTerminator(std::function<void()> terminate) { Q_UNUSED(terminate); }
    // A SQL batch: every statement in it, each answered with its results and a done().
    virtual void executeBatch(const QString& sql, ReplySink& reply) = 0;
    // An RPC: a procedure by name (the wire layer turns the well-known ids into names:
    // 10 sp_executesql, 11 sp_prepare, 12 sp_execute, 13 sp_prepexec, 15 sp_unprepare).
    virtual void executeRpc(const QString& procedure, const QList<Param>& params,
                            ReplySink& reply) = 0;
    // Transaction manager requests (autocommit off in ODBC).
    virtual void beginTransaction(ReplySink& reply) = 0;
    virtual void commitTransaction(bool beginNew, ReplySink& reply) = 0;
    virtual void rollbackTransaction(bool beginNew, ReplySink& reply) = 0;
};

} // namespace sqlsim
