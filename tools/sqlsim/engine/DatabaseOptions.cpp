// ALTER DATABASE ... SET SINGLE_USER | MULTI_USER, with its termination clause.
// learn.microsoft.com/sql/t-sql/statements/alter-database-transact-sql-set-options
#include "ServerImpl.h"

#include <chrono>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

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
    if (!entry)
        failWith(5011, u"User does not have permission to alter database '%1', the database does "
                       "not exist, or the database is not in a state that allows access "
                       "checks."_s.arg(wanted));
    const QString name = entry->files.name;
    const QString& option = s.value;
    if (option == u"RESTRICTED_USER")
        throw SqlError(40000,
                       u"sqlsim does not support 'ALTER DATABASE ... SET RESTRICTED_USER'."_s);
    if (option == u"SINGLE_USER" && (sameName(name, u"master"_s) || sameName(name, u"tempdb"_s)))
        failWith(5058, u"Option 'SINGLE_USER' cannot be set in database '%1'."_s.arg(name));

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

    // SINGLE_USER. Without a termination clause the statement waits while other sessions are
    // in the database, as SQL Server waits for their locks: up to SET LOCK_TIMEOUT (1222), or
    // until the client gives up (attention) when there is none. NO_WAIT fails at once (5070);
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
    m_server.setSingleUser(name, true);
    if (ended > 0)
        sendInfo(5060, u"Nonqualified transactions are being rolled back. Estimated rollback "
                       "completion: 100%."_s);
    m_rowcount = 0;
    done(frame, std::nullopt);
}

} // namespace sqlsim
