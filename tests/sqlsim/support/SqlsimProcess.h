#pragma once

#include "OdbcClient.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A simulator for one test: bin/sqlsim on a free loopback port with its state in a folder of
// its own (a temporary one unless given). SQLSIM_TEST_ARGS, when set, adds options to every start.
// Tests set it up and look at it as sa on connections of their own (query, exec); the program
// reaches it through adoString (SimConnection.h opens the program's connection).
class SqlsimProcess
{
public:
    SqlsimProcess();
    ~SqlsimProcess();
    SqlsimProcess(const SqlsimProcess&) = delete;
    SqlsimProcess& operator=(const SqlsimProcess&) = delete;

    // Starts it and waits for the port line; false (with stderrText() telling why) on failure.
    bool start(const QStringList& extraArgs = {}, const QString& dataDir = {});
    // Stops it (SIGTERM, then SIGKILL) and starts it again on the same folder and options.
    bool restart();
    void stop();

    quint16 port() const { return m_port; }
    QString dataDir() const { return m_dataDir; }
    QString password() const { return QStringLiteral("Sim-Pass1"); }
    // The login the program under test connects as: "sa", or the one SQLSIM_TEST_LOGIN names
    // (with the same password) when a whole test re-runs under a restricted login.
    static QString programLogin();
    QByteArray stderrText();

    // An ADO connection string to it: the program's login unless another is named, with the
    // simulator's password unless another is given.
    QString adoString(const QString& login = programLogin(), const QString& password = {}) const;
    // A batch as sa on a connection of its own, in master unless a database is named.
    OdbcResult query(const QString& sql, const QString& database = {});
    // The same, warning with the server's words when refused.
    bool exec(const QString& sql, const QString& database = {});
    // The first result's rows as flatten() writes them; none when refused.
    QStringList rows(const QString& sql, const QString& database = {});

private:
    std::unique_ptr<QTemporaryDir> m_tempDir;
    QProcess m_process;
    QString m_dataDir;
    QStringList m_extraArgs;
    quint16 m_port = 0;
    QByteArray m_stderr;
};
