#pragma once

#include "ReplySink.h"

#include <QString>
#include <memory>
#include <variant>

// The simulated server as the wire layer sees it: logins, sessions, requests.
namespace sqlsim {

struct ServerOptions
{
    QString dataDir;                   // databases and the state file; kept across restarts
    QString saPassword;                // password of the login "sa"
    QString loginsFile;                // more logins, one "name=password" a line ("" = none)
    int versionYear = 2019;            // @@version: "Microsoft SQL Server <year> ..."
    qint64 throttleBytesPerSecond = 0; // slows backup and restore (0 = full speed)
    bool failNextTransfer = false; // drop the connection in the middle of the next backup/restore
};

class Session;

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

    // The version SQL Server reports in LOGINACK: 15.0.2000 for 2019 and so on.
    virtual quint32 programVersion() const = 0;
};

class Session
{
public:
    virtual ~Session() = default;

    virtual QString currentDatabase() const = 0;
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
