// Where sessions begin: a client's login, and the startup procedures that run as sa once the
// server has opened its folder.
#include "SessionImpl.h"

#include <QElapsedTimer>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

// A sink that throws everything away; startup procedures run into it.
class NullSink : public ReplySink
{
public:
    explicit NullSink(qint64 deadlineMs) : m_deadline(deadlineMs) { m_timer.start(); }
    void message(const Message& m) override
    {
        if (m.severity > 10)
            std::fprintf(stderr, "sqlsim: startup procedure: %s\n", qPrintable(m.text));
    }
    void columns(const QList<Column>&) override {}
    void row(const QList<Value>&) override {}
    void setTextSize(qint64) override {}
    void done(DoneKind, std::optional<qint64>, bool) override {}
    void databaseChanged(const QString&, const QString&) override {}
    void transactionBegan(quint64) override {}
    void transactionCommitted(quint64) override {}
    void transactionRolledBack(quint64) override {}
    void returnStatus(int) override {}
    void returnValue(int, const Param&) override {}
    bool cancelled() override { return m_timer.elapsed() > m_deadline; }
    void flush() override {}
    [[noreturn]] void dropConnection() override { throw Cancelled(); }

private:
    QElapsedTimer m_timer;
    qint64 m_deadline;
};

} // namespace

std::unique_ptr<Server> Server::open(const ServerOptions& options)
{
    auto server = std::make_unique<ServerImpl>(options);
    server->initialize();
    server->runStartupProcedures();
    return server;
}

void ServerImpl::runStartupProcedures()
{
    const QStringList procs = startupProcedures();
    if (procs.isEmpty())
        return;
    auto session = std::make_unique<SessionImpl>(*this, u"sa"_s, u"master"_s);
    for (const QString& p : procs) {
        NullSink sink(30'000);
        try {
            QString bracketed = p;
            bracketed.replace(u"]"_s, u"]]"_s);
            session->executeBatch(u"exec master.dbo.["_s + bracketed + u']', sink);
        } catch (...) {
            std::fprintf(stderr, "sqlsim: startup procedure %s failed\n", qPrintable(p));
        }
    }
}

std::variant<std::unique_ptr<Session>, Message>
ServerImpl::login(const QString& user, const QString& password, const QString& database)
{
    return login(user, password, database, ClientInfo{});
}

std::variant<std::unique_ptr<Session>, Message> ServerImpl::login(const QString& user,
                                                                  const QString& password,
                                                                  const QString& database,
                                                                  const ClientInfo& client)
{
    Message refusal;
    refusal.number = 18456;
    refusal.severity = 14;
    refusal.state = 1;
    refusal.text = u"Login failed for user '%1'."_s.arg(user);
    const std::optional<LoginEntry> account = authenticate(user, password);
    if (!account)
        return refusal;
    const QString name = account->name;
    // Without a database the login's default one is opened; when that cannot be, the login
    // fails with 4064 (learn.microsoft.com/sql/relational-databases/errors-events/
    // mssqlserver-4064-database-engine-error). A database it may not enter is one it cannot
    // open.
    const bool useDefault = database.isEmpty();
    const auto cannotOpen = [&] {
        Message m;
        m.severity = 11;
        if (useDefault) {
            m.number = 4064;
            m.text = u"Cannot open user default database. Login failed."_s;
        } else {
            m.number = 4060;
            m.text = u"Cannot open database \"%1\" requested by the login. The login failed."_s.arg(
                database);
        }
        return m;
    };
    const auto entry = this->database(useDefault ? account->defaultDatabase : database);
    if (!entry || !mayEnter(*account, *entry))
        return cannotOpen();
    const QString dbName = entry->files.name;
    try {
        auto session = std::make_unique<SessionImpl>(*this, name, dbName, client);
        return std::unique_ptr<Session>(std::move(session));
    } catch (const SqlError& e) {
        // A single-user database that someone else is in refuses the login with 924.
        if (e.message.number == 924)
            return e.message;
        // Offline, in transition, or its files cannot be opened: the client learns only that
        // the database could not be opened (942 and 952 go to SQL Server's log).
        return cannotOpen();
    }
}

} // namespace sqlsim
