// ALTER DATABASE ... SET SINGLE_USER | MULTI_USER | OFFLINE | ONLINE, with its termination
// clause. learn.microsoft.com/sql/t-sql/statements/alter-database-transact-sql-set-options
#include "SessionImpl.h"

#include <chrono>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool isSystemDatabase(const QString& name)
{
    for (const char* system : {"master", "tempdb", "model", "msdb"})
        if (sameName(name, QString::fromLatin1(system)))
            return true;
    return false;
}

// Ends the state change however the statement ends.
class StateChange
{
public:
    StateChange(ServerImpl& server, QString database)
        : m_server(server), m_database(std::move(database))
    {}
    ~StateChange() { m_server.endStateChange(m_database); }
    StateChange(const StateChange&) = delete;
    StateChange& operator=(const StateChange&) = delete;

private:
    ServerImpl& m_server;
    QString m_database;
};

} // namespace

void SessionImpl::runAlterDatabase(const Stmt& s, Frame& frame)
{
    const auto failWith = [&](int number, const QString& text) {
        Message m;
        m.number = number;
        m.text = text;
        sendError(m, &s, frame);
        throw SqlError(5069, u"ALTER DATABASE statement failed."_s);
    };
    // "The ALTER DATABASE statement must run in autocommit mode (the default transaction
    // management mode) and isn't allowed in an explicit or implicit transaction."
    if (m_trancount > 0)
        throw SqlError(226, u"ALTER DATABASE statement not allowed within multi-statement "
                            "transaction."_s);
    const QString wanted = s.name.isEmpty() ? m_currentDb : s.name;
    const auto entry = m_server.database(wanted);
    const auto noAccess = [&] {
        failWith(5011, u"User does not have permission to alter database '%1', the database does "
                       "not exist, or the database is not in a state that allows access "
                       "checks."_s.arg(wanted));
    };
    // "Requires ALTER permission on the database." (the page above, "Permissions")
    if (!entry || !mayAlterDatabase(*entry))
        noAccess();
    const QString name = entry->files.name;
    const QString& option = s.value;
    // Nothing may be set on a database in the middle of a restore, ONLINE included: only a
    // restore that succeeds (or DROP DATABASE) ends that state. Error 5052, "Database Engine
    // events and errors (5000 to 5999)", learn.microsoft.com.
    if (entry->restoring)
        failWith(5052, u"ALTER DATABASE is not permitted while a database is in the Restoring "
                       "state."_s);
    if (option == u"RESTRICTED_USER" || option == u"EMERGENCY")
        throw SqlError(40000,
                       u"sqlsim does not support 'ALTER DATABASE ... SET %1'."_s.arg(option));
    // The system databases' pages list "Setting the database to OFFLINE" among what cannot be
    // done to them (learn.microsoft.com/sql/relational-databases/databases/master-database,
    // model-database, msdb-database, tempdb-database).
    if ((option == u"SINGLE_USER" &&
         (sameName(name, u"master"_s) || sameName(name, u"tempdb"_s))) ||
        (option == u"OFFLINE" && isSystemDatabase(name)))
        failWith(5058, u"Option '%1' cannot be set in database '%2'."_s.arg(option, name));

    if (entry->offline) {
        // Nobody is in an offline database: ONLINE needs no termination, OFFLINE changes
        // nothing. The pages do not say what the user access options do to a database that
        // is not started: refused with 5011, "not in a state that allows access checks".
        if (option == u"ONLINE")
            m_server.setOffline(name, false);
        else if (option != u"OFFLINE")
            noAccess();
        m_rowcount = 0;
        done(frame, std::nullopt);
        return;
    }
    if (option == u"ONLINE") {
        m_rowcount = 0;
        done(frame, std::nullopt);
        return;
    }

    // Someone else holds the single place already: nothing can change until they leave
    // (error 5064, whatever the termination clause).
    if (entry->singleUser && m_server.usedByOtherSession(name, this)) {
        m_server.releaseEverywhere(name, this);
        if (m_server.usedByOtherSession(name, this))
            failWith(5064, u"Changes to the state or options of database '%1' cannot be made at "
                           "this time. The database is in single-user mode, and a user is "
                           "currently connected to it."_s.arg(name));
    }

    if (option == u"MULTI_USER") {
        m_server.setSingleUser(name, false);
        m_rowcount = 0;
        done(frame, std::nullopt);
        return;
    }

    // SINGLE_USER or OFFLINE. From here until the change is made nobody enters the database
    // (952); a second ALTER DATABASE of it is told 5059.
    if (!m_server.beginStateChange(name, m_spid))
        failWith(5059, u"Database '%1' is in transition. Try the ALTER DATABASE statement "
                       "later."_s.arg(name));
    const StateChange change(m_server, name);

    // Without a termination clause the statement waits while other sessions are in the
    // database, as SQL Server waits for their locks: up to SET LOCK_TIMEOUT (1222), or until
    // the client gives up (attention) when there is none. NO_WAIT fails at once (5070);
    // ROLLBACK IMMEDIATE ends the other sessions, rolling back their transactions; ROLLBACK
    // AFTER n waits n seconds first.
    const QString termination = s.words.value(0);
    const auto stop = [this] {
        return m_killed.load() || (m_reply && m_reply->cancelled());
    };
    const auto now = std::chrono::steady_clock::now;
    int ended = 0;
    if (termination == u"NO_WAIT") {
        m_server.releaseEverywhere(name, this);
        if (m_server.usedByOtherSession(name, this))
            failWith(5070, u"Database state cannot be changed while other users are using the "
                           "database '%1'"_s.arg(name));
    } else if (termination.isEmpty()) {
        std::optional<std::chrono::steady_clock::time_point> until;
        if (m_lockTimeout >= 0)
            until = now() + std::chrono::milliseconds(m_lockTimeout);
        if (!m_server.waitUntilUnused(name, this, until, stop)) {
            checkCancel();
            failWith(1222, u"Lock request time out period exceeded."_s);
        }
    } else {
        if (termination == u"ROLLBACK AFTER") {
            const qint64 seconds =
                std::clamp<qint64>(s.expr ? evaluateText(s.expr).toLongLong() : 0, 0, 24 * 3600);
            m_server.waitUntilUnused(name, this, now() + std::chrono::seconds(seconds), stop);
            checkCancel();
        }
        ended = m_server.terminateUsers(name, this);
        // The ended sessions leave as their connections close; their rollback is quick here.
        if (!m_server.waitUntilUnused(name, this, now() + std::chrono::seconds(30), stop)) {
            checkCancel();
            failWith(5070, u"Database state cannot be changed while other users are using the "
                           "database '%1'"_s.arg(name));
        }
    }
    if (option == u"SINGLE_USER") {
        m_server.setSingleUser(name, true);
    } else {
        m_server.setOffline(name, true);
        // A session that takes its own database offline is moved to master (5068).
        const QString key = name.toLower();
        if (sameName(m_currentDb, name)) {
            const QString old = m_currentDb;
            schemaFor(u"master"_s);
            setCurrentDatabase(u"master"_s);
            m_reply->databaseChanged(u"master"_s, old);
            sendInfo(5068,
                     u"Failed to restart the current database. The current database is "
                     "switched to master."_s,
                     10);
        }
        detachAlias(key);
    }
    if (ended > 0)
        sendInfo(5060, u"Nonqualified transactions are being rolled back. Estimated rollback "
                       "completion: 100%."_s);
    m_rowcount = 0;
    done(frame, std::nullopt);
}

} // namespace sqlsim
