#pragma once

#include "Ast.h"
#include "Catalog.h"
#include "Editions.h"
#include "Engine.h"
#include "Languages.h"
#include "Principals.h"
#include "ServerFiles.h"
#include "SqliteFunctions.h"
#include "Transfer.h"
#include "Translator.h"

#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

struct sqlite3;
struct sqlite3_stmt;

namespace sqlsim {

class SessionImpl;

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

class ServerImpl : public Server
{
public:
    explicit ServerImpl(const ServerOptions& options);
    ~ServerImpl() override;

    void initialize(); // throws std::runtime_error

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
    void addSession(SessionImpl* session);
    void removeSession(SessionImpl* session);
    bool usedByOtherSession(const QString& database, const SessionImpl* except) const;
    // The spid of some other session in the database, or 0.
    int otherUser(const QString& database, const SessionImpl* except) const;
    void releaseEverywhere(const QString& database, SessionImpl* except);
    // Every session, ordered by spid.
    QList<SessionSnapshot> sessionSnapshots() const;
    // Lets a session into a database, or throws why it cannot enter: 952 while an ALTER
    // DATABASE changes its state, 942 when it is offline, 924 when it is single-user and some
    // other session is in it. `enter` runs under the same lock as the checks and makes the
    // session count as in the database, so that no state change slips in between.
    void enterDatabase(const QString& database, SessionImpl* entering,
                       const std::function<void()>& enter = {});
    // 942 or 952 as above, for operations that read the database without entering it.
    std::optional<Message> unavailable(const QString& database, int spid) const;
    // Ends the connection of every other session in the database; how many were ended.
    int terminateUsers(const QString& database, SessionImpl* except);
    // Waits until no other session is in the database: true, or false once `until` has passed
    // or `stop` says so.
    bool waitUntilUnused(const QString& database, SessionImpl* except,
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
    std::vector<SessionImpl*> m_sessions;
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
    void runStartupProcedures();
};

// Thrown to stop a batch: the client sent an attention, or a severe error ended the batch.
struct Cancelled
{};
struct BatchAborted
{};

class SessionImpl final : public Session, public TranslatorHost, public FunctionHost
{
public:
    SessionImpl(ServerImpl& server, const QString& login, const QString& database,
                const ClientInfo& client = {});
    ~SessionImpl() override;

    QString currentDatabase() const override;
    QString languageName() const override;
    Message localized(const Message& message) const override;
    // The session's language, with the DATEFORMAT it implies; for the login to set as well.
    void setLanguage(const Language& language);
    void setTerminator(std::function<void()> terminate) override;
    void executeBatch(const QString& sql, ReplySink& reply) override;
    void executeRpc(const QString& procedure, const QList<Param>& params,
                    ReplySink& reply) override;
    void beginTransaction(ReplySink& reply) override;
    void commitTransaction(bool beginNew, ReplySink& reply) override;
    void rollbackTransaction(bool beginNew, ReplySink& reply) override;

    // Seen by the server and by other sessions.
    bool uses(const QString& databaseLower) const;
    bool tryRelease(const QString& databaseLower); // from another thread: when idle
    int spid() const { return m_spid; }
    void setBlockedBy(int spid) { m_blockedBy = spid; }
    QString loginName() const { return m_login; }
    // Its current database is this one (lower case): what "in the database" means.
    bool isIn(const QString& databaseLower) const;
    SessionSnapshot snapshot() const;
    // Ends its connection; its transaction is rolled back as the session closes. From any thread.
    void terminate();

    // TranslatorHost
    std::optional<QString> schemaFor(const QString& database) override;
    const Variable* variable(const QString& name) const override;
    Variable systemVariable(const QString& name) override;
    QList<TableColumn> tableColumns(const QString& schema, const QString& table) override;
    int resultColumnCount(const QString& sql, const QList<Value>& binds) override;
    bool identityInsert(const QString& schema, const QString& table) const override;
    QString constantFunction(const QString& name) override;
    void sessionViewsWanted() override;
    void masterFilesWanted() override;
    void databaseFilesWanted(const QString& database) override;

    // FunctionHost
    std::optional<qint64> objectId(const QString& name, const QString& type) override;
    Value objectName(qint64 id, std::optional<qint64> dbid) override;
    std::optional<qint64> databaseId(const QString& name) override;
    Value databaseName(qint64 id) override;
    Value serverProperty(const QString& name) override;
    Value volumeStat(qint64 databaseId, qint64 fileId, int which) override;
    Value databaseProperty(const QString& database, const QString& property) override;
    Value identCurrent(const QString& table) override;
    Value fileProperty(const QString& file, const QString& property) override;

    struct CallArg
    {
        QString name; // lower, with @, or empty
        Value value;
        std::optional<TypeInfo> type;
        bool output = false;
        bool isDefault = false;
        QString outputVariable; // EXEC ... @v OUTPUT: where the value goes back
        int ordinal = 0;        // RPC parameter position
    };
    struct CallResult
    {
        int status = 0;
        QList<std::pair<CallArg, Variable>> outputs; // output args with their final values
    };
    // Used by the transfer host.
    void releaseDatabase(const QString& name);
    bool inTransaction() const { return m_trancount > 0; }

private:
    friend class SessionTransferHost;

    struct Frame
    {
        QHash<QString, Variable> vars;
        QString procedure; // for messages
        DoneKind doneKind = DoneKind::Statement;
        int returnStatus = 0;
        int nestLevel = 0;
    };
    enum class Flow
    {
        Next,
        Break,
        Continue,
        Return
    };

    struct Prepared
    {
        QString declarations;
        QString statement;
    };

    ServerImpl& m_server;
    int m_spid = 0;
    QString m_login;
    ClientInfo m_client;
    QDateTime m_loginTime;
    QDateTime m_lastBatch; // guarded by m_published
    std::atomic<bool> m_running{false};
    std::atomic<int> m_openTransactions{0};
    std::atomic<bool> m_killed{false};
    std::atomic<int> m_blockedBy{0};
    std::function<void()> m_terminate; // guarded by m_published
    bool m_sessionViewsMade = false;
    bool m_masterFilesMade = false;
    bool m_databaseFilesMade = false;
    sqlite3* m_db = nullptr;
    QHash<QString, QString> m_attached; // lower database name -> schema alias
    int m_nextAlias = 1;
    QString m_currentDb;
    mutable std::mutex m_published; // guards m_currentDb/m_attached for other threads
    std::mutex m_busy;              // held while a request runs

    ReplySink* m_reply = nullptr;
    Frame* m_frame = nullptr;
    bool m_nocount = false;
    std::atomic<const Language*> m_language{&usEnglish()}; // read by other sessions' views
    QString m_dateFormat = QStringLiteral("mdy");
    int m_lockTimeout = -1;
    // @@TEXTSIZE: what a session that never sets it gets, as from SQL Server.
    static constexpr int defaultTextSize = 4096;
    int m_textSize = defaultTextSize;
    int m_trancount = 0;
    bool m_sqliteTx = false;
    quint64 m_txDescriptor = 0;
    QStringList m_savepoints;
    qint64 m_rowcount = 0;
    int m_error = 0;
    qint64 m_identity = 0;
    bool m_hasIdentity = false;
    QSet<QString> m_identityInsert;
    QHash<int, Prepared> m_prepared;
    int m_nextHandle = 1;
    int m_nest = 0;
    QHash<QString, std::shared_ptr<Stmt>> m_procCache;

    // ---- request plumbing (Session.cpp)
    void beginRequest(ReplySink& reply);
    void endRequest();
    // SET TEXTSIZE's value as @@TEXTSIZE reports it; negative: no limit. Told to the reply.
    void setTextSize(int bytes);
    // SET DATEFORMAT's order, in force for the conversions this thread makes from now on.
    void setDateFormat(const QString& order);
    // A SET option changed inside a procedure or a dynamic SQL batch (EXEC of a string,
    // sp_executesql, prepared statements) is restored when that returns.
    // https://learn.microsoft.com/sql/t-sql/statements/set-statements-transact-sql
    class SetOptionScope
    {
    public:
        explicit SetOptionScope(SessionImpl& session)
            : m_session(session), m_textSize(session.m_textSize),
              m_dateFormat(session.m_dateFormat), m_language(session.m_language)
        {}
        ~SetOptionScope()
        {
            m_session.setTextSize(m_textSize);
            m_session.m_language = m_language;
            m_session.setDateFormat(m_dateFormat);
        }
        SetOptionScope(const SetOptionScope&) = delete;
        SetOptionScope& operator=(const SetOptionScope&) = delete;

    private:
        SessionImpl& m_session;
        int m_textSize;
        QString m_dateFormat;
        const Language* m_language;
    };
    void setCurrentDatabase(const QString& name);
    QString attachDatabase(const DatabaseEntry& entry);
    void detachAlias(const QString& lower);
    void detachIdle();
    void applyBusyTimeout();
    // The server's own views filled into this connection's temp schema: statements without
    // results and single inserts; a failure is a catalogue error.
    void serverViewExec(const char* sql);
    void serverViewInsert(const char* sql, const QList<Value>& values);

    void runStatements(const std::vector<StmtPtr>& statements, Frame& frame);
    Flow runStatement(const Stmt& s, Frame& frame);
    Flow runStatementInner(const Stmt& s, Frame& frame);
    void sendError(const Message& m, const Stmt* s, const Frame& frame);
    void sendInfo(int number, const QString& text, int severity = 0);
    void done(const Frame& frame, std::optional<qint64> count, bool error = false);
    std::optional<qint64> countOf(qint64 rows) const;
    void checkCancel();

    // SQLite access
    SqlError sqliteError(int rc, const Translation* t, const QString& context = {}) const;
    sqlite3_stmt* prepare(const QString& sql, const Translation* t);
    void bindAll(sqlite3_stmt* st, const QList<Value>& binds);
    qint64 execute(const Translation& t, const QString& context = {});
    void execSql(const QString& sql, const QList<Value>& binds = {});
    std::optional<Value> scalarQuery(const QString& sql, const QList<Value>& binds = {});
    void ensureWriteTransaction();
    void atomically(const std::function<void()>& body);

    // expressions
    Value evaluate(const ExprPtr& e, std::optional<TypeInfo>* type = nullptr);
    bool evaluateCondition(const ExprPtr& e);
    QString evaluateText(const ExprPtr& e);
    void assign(Frame& frame, const QString& name, const Value& value,
                const std::optional<TypeInfo>& source, const QString& op = QStringLiteral("="));
    Variable* findVariable(const QString& name);

    // statements
    void runSelect(const Stmt& s, Frame& frame);
    void runSelectInto(const Stmt& s, Frame& frame);
    void streamResult(sqlite3_stmt* st, const Translation& t, Frame& frame);
    void runInsert(const Stmt& s, Frame& frame);
    void runUpdateDelete(const Stmt& s, Frame& frame);
    void runCreateTable(const Stmt& s, Frame& frame);
    void runDropTable(const Stmt& s, Frame& frame);
    void runAlterTable(const Stmt& s, Frame& frame);
    void runCreateIndex(const Stmt& s, Frame& frame);
    void runDropIndex(const Stmt& s, Frame& frame);
    void runTruncate(const Stmt& s, Frame& frame);
    void runUse(const Stmt& s, Frame& frame);
    void runDeclare(const Stmt& s, Frame& frame);
    void runSetOption(const Stmt& s, Frame& frame);
    void runSetLanguage(const Stmt& s);
    // sys.syslanguages in this connection's temp schema.
    void makeLanguageView();
    // Express's limit after a statement wrote to the database: 1105 when it has passed it.
    void checkDataSize(const QString& database, const QString& object);
    // Runs a write to `target` ("db.dbo.table"); under a size limit it is undone, with 1105,
    // when it takes the database past the limit. Returns what `write` returns.
    qint64 limitedWrite(const QString& target, const std::function<qint64()>& write);
    void runPrint(const Stmt& s, Frame& frame);
    void runRaiserror(const Stmt& s, Frame& frame);
    void runBeginTran(const Stmt& s, Frame& frame);
    void runCommit(const Stmt& s, Frame& frame);
    void runRollback(const Stmt& s, Frame& frame);
    void runSave(const Stmt& s, Frame& frame);
    void runCreateProc(const Stmt& s, Frame& frame);
    void runDropProc(const Stmt& s, Frame& frame);
    void runCreateDatabase(const Stmt& s, Frame& frame);
    void runDropDatabase(const Stmt& s, Frame& frame);
    void runBackup(const Stmt& s, Frame& frame);
    void runRestore(const Stmt& s, Frame& frame);
    void runExec(const Stmt& s, Frame& frame);
    void runAlterDatabase(const Stmt& s, Frame& frame);
    void commitAll();
    void rollbackAll();

    // procedures (Procedures.cpp)
    // Runs a procedure (system or user); results go to the reply with InProc dones.
    CallResult callProcedure(const ObjectName& name, QList<CallArg> args, Frame& caller);
    bool isSystemProcedure(const QString& lowerName) const;
    CallResult callSystemProcedure(const QString& lowerName, QList<CallArg>& args, Frame& frame);
    CallResult callUserProcedure(const QString& database, const QString& name,
                                 const QString& definition, QList<CallArg>& args, Frame& caller);
    std::optional<std::pair<QString, QString>> findProcedure(const QString& database,
                                                             const QString& name);
    std::shared_ptr<Stmt> parsedProcedure(const QString& definition);
    void runDynamic(const QString& sql, const QList<ProcParam>& declarations, QList<CallArg>& args,
                    Frame& caller, QList<CallArg>* outputs);

    // system procedures (SystemProcedures.cpp)
    void spAttachDb(QList<CallArg>& args, bool singleFile);
    void spDetachDb(QList<CallArg>& args);
    void spProcOption(QList<CallArg>& args);
    void spSpaceUsed(QList<CallArg>& args, Frame& frame);
    void spHelpDb(QList<CallArg>& args, Frame& frame);
    void spDatabases(Frame& frame);
    // the server's file system (xp_ procedures of master)
    void xpFixedDrives(Frame& frame);
    void xpDirTree(QList<CallArg>& args, Frame& frame);
    // The "File Exists" flag when toOutput, else the row sent and nullopt.
    std::optional<int> xpFileExist(QList<CallArg>& args, Frame& frame, bool toOutput);
    void xpCreateSubdir(QList<CallArg>& args);
    // The Data of the value when toOutput, else the row sent and nullopt.
    std::optional<QString> xpInstanceRegRead(QList<CallArg>& args, Frame& frame, bool toOutput);
    void spTables(QList<CallArg>& args, Frame& frame);
    void spColumns(QList<CallArg>& args, Frame& frame);
    void spPkeys(QList<CallArg>& args, Frame& frame);
    void spSprocColumns(QList<CallArg>& args, Frame& frame);
    void spStoredProcedures(QList<CallArg>& args, Frame& frame);
    void spDatatypeInfo(QList<CallArg>& args, Frame& frame);
    void spHelpText(QList<CallArg>& args, Frame& frame);
    void sendRows(const QList<Column>& columns, const QList<QList<Value>>& rows, Frame& frame);

    // ---- security (Permissions.cpp: who may do what; Security.cpp: the statements and
    // procedures that change it)
    struct DatabaseRights
    {
        bool access = false; // may enter: sysadmin, owner, user, or guest with CONNECT
        bool dbo = false;
        QString userName;          // dbo, guest or the login's user
        QSet<QString> roles;       // fixed database roles (lower case), public included
        QSet<QString> permissions; // effective database permissions
    };
    LoginEntry currentLogin() const;
    bool isSysadmin() const;
    bool hasServerPermission(const QString& permission) const;
    DatabasePrincipals principalsOf(const DatabaseEntry& entry);
    DatabaseRights databaseRights(const QString& database);
    bool hasDatabasePermission(const QString& database, const QString& permission);
    // 916 unless the login may enter the database.
    void requireAccess(const QString& database);
    // Two messages, the second ending the statement (262 then 3013, 5011 then 5069, ...).
    [[noreturn]] void refuse(const Message& first, const Message& last);
    // CREATE DATABASE permission, checked in master (error 262).
    bool mayCreateDatabase();
    void checkBackup(const QString& database);
    void checkRestore(const QString& kind, const QString& database, const QString& terminating);
    bool mayAlterDatabase(const DatabaseEntry& entry);
    bool mayDropDatabase(const DatabaseEntry& entry);
    // System procedures that depend on who calls them; true when answered here.
    bool restrictedProcedure(const QString& lowerName, QList<CallArg>& args, Frame& frame,
                             CallResult& result);
    bool isSecurityProcedure(const QString& lowerName) const;
    void callSecurityProcedure(const QString& lowerName, QList<CallArg>& args, Frame& frame,
                               CallResult& result);
    void runSecurity(const Stmt& s, Frame& frame);
    // ALTER ROLE ... ADD | DROP MEMBER, and sp_addrolemember / sp_droprolemember (procedure).
    void alterRoleMember(const QString& role, const QString& member, bool add, bool procedure);
    void registerSecurityFunctions();
    bool seesSession(int spid) const;
    std::optional<QString> serverViewTable(const QString& schema, const QString& table,
                                           const QString& database) override;
    void fillSecurityView(const QString& view);
    // The database owner's SID, for databases this session makes.
    QByteArray ownerSid() const;
    QSet<QString> m_securityViewsMade;
    int m_statementLine = 1; // of the statement running, for the first of two messages
};

} // namespace sqlsim
