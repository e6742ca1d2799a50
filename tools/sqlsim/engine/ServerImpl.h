#pragma once

#include "Catalog.h"
#include "Editions.h"
#include "Engine.h"
#include "Languages.h"
#include "Principals.h"
#include "ServerFiles.h"
#include "Transfer.h"

#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace sqlsim {

struct DatabaseEntry
{
    DatabaseFiles files;
    int dbid = 0;
    QDateTime created;
    bool system = false;
    // ALTER DATABASE ... SET SINGLE_USER: kept in the data file too, so that a backup carries it.
    bool singleUser = false;
    // ALTER DATABASE ... SET OFFLINE: kept by the server only, so that attached or restored
    // files come online.
    bool offline = false;
    // RESTORING: a RESTORE is writing over it, or one that did failed; kept by the server until
    // a restore succeeds.
    bool restoring = false;
    // The session whose ALTER DATABASE is changing the state (0: none); nobody enters meanwhile.
    int changingSpid = 0;
    // sys.databases.owner_sid: the login that created, attached or restored it (sa's 0x01 for
    // the system databases and for those made before owners were kept).
    QByteArray ownerSid = QByteArray(1, '\x01');
};

// One row of sysprocesses / sys.dm_exec_sessions.
struct SessionSnapshot
{
    int spid = 0;
    QString login;
    ClientInfo client;
    int dbid = 0;
    QDateTime loginTime;
    QDateTime lastBatch;
    bool running = false;
    int openTransactions = 0;
    int blockedBy = 0; // the session whose hold on a database this one waits for
    QString language;
    QString dateFormat;
};

// What the server asks of a session it keeps; any thread may ask.
class SessionHandle
{
public:
    virtual int spid() const = 0;
    virtual QString loginName() const = 0;
    virtual QString currentDatabase() const = 0;
    // Its current database or one it holds open (lower case).
    virtual bool uses(const QString& databaseLower) const = 0;
    // Lets go of a database it holds open but is not in, when idle; false when it cannot now.
    virtual bool tryRelease(const QString& databaseLower) = 0;
    virtual void setBlockedBy(int spid) = 0;
    virtual SessionSnapshot snapshot() const = 0;
    // Ends its connection; its transaction is rolled back as the session closes.
    virtual void terminate() = 0;

    virtual ~SessionHandle() = default;
};

class ServerImpl : public Server
{
public:
    explicit ServerImpl(const ServerOptions& options);
    ~ServerImpl() override;

    void initialize(); // throws std::runtime_error
    // The procedures marked to run at startup, as sa in master (Login.cpp).
    void runStartupProcedures();

    std::variant<std::unique_ptr<Session>, Message>
    login(const QString& user, const QString& password, const QString& database) override;
    std::variant<std::unique_ptr<Session>, Message> login(const QString& user,
                                                          const QString& password,
                                                          const QString& database,
                                                          const ClientInfo& client) override;
    quint32 programVersion() const override;
    Message localizedForLogin(const Message& message, const QString& user,
                              const QString& requestedLanguage) const override;
    std::optional<ConnectionFault> takeConnectionFault(const QString& requestEntry) override;
    bool takeLoginFault() override;
    void armConnectionFault(const ConnectionFault& fault);
    void armLoginFault() { ++m_dropLogins; }

    const ServerOptions& options() const { return m_options; }
    QString versionString() const;
    QString productVersion() const; // "15.0.2000.5"
    int compatibilityLevel() const;
    int databaseVersion() const;
    QString serverName() const { return QStringLiteral("SQLSIM"); }

    // Languages (SessionLanguage.cpp): a login's default one, and a new session's, which the
    // client may have asked for in LOGIN7.
    const Language& loginLanguage(const QString& login) const;
    const Language& sessionLanguage(const QString& login, const QString& requested) const;

    // The edition (Editions.cpp). Data file sizes as reported and checked: the file's own plus
    // --extra-data-size for a user database.
    Edition edition() const;
    qint64 extraDataBytes(const DatabaseEntry& entry) const;
    qint64 dataFileBytes(const DatabaseEntry& entry) const;
    // 1827 when a user database with this much data in its file would pass Express's limit.
    std::optional<Message> databaseTooLarge(qint64 realDataBytes) const;

    // The registry of databases. Names compare without regard to case.
    std::optional<DatabaseEntry> database(const QString& name) const;
    std::optional<DatabaseEntry> databaseById(int dbid) const;
    QList<DatabaseEntry> databases() const;
    std::optional<QString> databaseUsingFile(const QString& path) const;
    // Adds or replaces an entry, persists the state and rewrites sysdatabases. `owner`: the
    // SID of the login that made it (empty: kept, or sa's for a new entry).
    void registerDatabase(const DatabaseFiles& files, bool replace, const QByteArray& owner = {});
    void unregisterDatabase(const QString& name);
    QString newDatabaseFilesFolder() const
    {
        return serverfiles::newDatabaseFolder(m_options.dataDir);
    }

    void setStartupProcedure(const QString& name, bool on);
    void dropStartupProcedure(const QString& name);
    QStringList startupProcedures() const;

    // Sessions.
    void addSession(SessionHandle* session);
    void removeSession(SessionHandle* session);
    bool usedByOtherSession(const QString& database, const SessionHandle* except) const;
    // The spid of some other session in the database, or 0.
    int otherUser(const QString& database, const SessionHandle* except) const;
    void releaseEverywhere(const QString& database, SessionHandle* except);
    // Every session, ordered by spid.
    QList<SessionSnapshot> sessionSnapshots() const;
    // Lets a session into a database, or throws why it cannot enter: 952 while an ALTER
    // DATABASE changes its state, 942 when it is offline, 924 when it is single-user and some
    // other session is in it. `enter` runs under the same lock as the checks and makes the
    // session count as in the database, so that no state change slips in between.
    void enterDatabase(const QString& database, SessionHandle* entering,
                       const std::function<void()>& enter = {});
    // 942 or 952 as above, for operations that read the database without entering it.
    std::optional<Message> unavailable(const QString& database, int spid) const;
    // Ends the connection of every other session in the database; how many were ended.
    int terminateUsers(const QString& database, SessionHandle* except);
    // Waits until no other session is in the database: true, or false once `until` has passed
    // or `stop` says so.
    bool waitUntilUnused(const QString& database, SessionHandle* except,
                         std::optional<std::chrono::steady_clock::time_point> until,
                         const std::function<bool()>& stop);
    // Wakes the waits above: a session left a database or ended.
    void sessionsChanged();
    void setSingleUser(const QString& database, bool on);
    void setOffline(const QString& database, bool on);
    void setRestoring(const QString& database, bool on);
    // Marks the database as being changed by `spid`'s ALTER DATABASE; false when another one is
    // changing it already.
    bool beginStateChange(const QString& database, int spid);
    void endStateChange(const QString& database);
    int nextSpid() { return m_nextSpid++; }
    quint64 nextTransactionDescriptor() { return m_nextDescriptor++; }

    bool takeTransferFault() { return m_failNextTransfer.exchange(false); }
    void armTransferFault() { m_failNextTransfer = true; }

    void recordBackup(const BackupRecord& record, const QString& user);

    // Logins (ServerLogins.cpp); names compare without regard to case.
    std::optional<LoginEntry> loginEntry(const QString& name) const;
    std::optional<LoginEntry> loginBySid(const QByteArray& sid) const;
    QList<LoginEntry> loginEntries() const; // by principal_id
    // Adds a new login (false: the name is taken) or replaces one; both persist the state.
    bool addLogin(LoginEntry entry);
    void updateLogin(const LoginEntry& entry);
    bool removeLogin(const QString& name);
    // KILL: ends the session's connection (false: no such session).
    bool killSession(int spid);
    bool loggedIn(const QString& login) const;
    // Whether a login may enter the database: sysadmin, its owner, a user of it, or its guest
    // when guest may connect. Reads the data file.
    bool mayEnter(const LoginEntry& login, const DatabaseEntry& database) const;

private:
    ServerOptions m_options;
    mutable std::recursive_mutex m_mutex;
    QMap<QString, DatabaseEntry> m_databases; // lower-case name
    QStringList m_startup;
    int m_nextDbid = 5;
    std::vector<SessionHandle*> m_sessions;
    std::mutex m_changeMutex;
    std::condition_variable m_changed;
    quint64 m_changes = 0;
    QHash<QString, LoginEntry> m_logins;         // lower name
    QHash<QString, QString> m_declaredPasswords; // --logins and sa: lower name -> password
    int m_nextPrincipalId = 256;
    std::atomic<int> m_nextSpid{51};
    std::atomic<quint64> m_nextDescriptor{1};
    std::atomic<bool> m_failNextTransfer{false};
    std::mutex m_faultMutex;
    QList<ConnectionFault> m_connectionFaults; // in the order armed
    std::atomic<int> m_dropLogins{0};

    QString statePath() const;
    void loadState();
    void saveState() const; // with m_mutex held
    // One of a database's kept states (offline, restoring), saved and shown in sysdatabases.
    void setState(const QString& database, bool DatabaseEntry::*state, bool on);
    void syncSysdatabases() const;
    mutable std::mutex m_syncMutex; // orders writes of sysdatabases
    void loadLogins();
    void loadLoginState(const QJsonObject& root);
    void saveLoginState(QJsonObject& root) const;
    std::optional<LoginEntry> authenticate(const QString& user, const QString& password) const;
};

} // namespace sqlsim
