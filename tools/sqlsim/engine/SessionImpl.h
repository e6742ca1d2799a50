#pragma once

#include "Ast.h"
#include "ServerImpl.h"
#include "SessionFunctions.h"
#include "Translator.h"

#include <QSet>

// One client's session: its connection to SQLite with the databases it holds open, its
// variables, options and transaction, and the statements it runs.
namespace sqlsim {

// Thrown to stop a batch: the client sent an attention, or a severe error ended the batch.
struct Cancelled
{};
struct BatchAborted
{};

class SessionImpl final : public Session, public SessionHandle, public TranslatorHost
{
public:
    SessionImpl(ServerImpl& server, const QString& login, const QString& database,
                const ClientInfo& client = {});
    ~SessionImpl() override;

    // Session: its life and database (Session.cpp), its language (SessionLanguage.cpp), the
    // batches and transaction requests (Batch.cpp) and RPCs (Procedures.cpp) it answers.
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

    // SessionHandle: seen by the server and by other sessions.
    bool uses(const QString& databaseLower) const override;
    bool tryRelease(const QString& databaseLower) override; // from another thread: when idle
    int spid() const override { return m_spid; }
    void setBlockedBy(int spid) override { m_blockedBy = spid; }
    QString loginName() const override { return m_login; }
    SessionSnapshot snapshot() const override;
    // Ends its connection; its transaction is rolled back as the session closes. From any thread.
    void terminate() override;

    // TranslatorHost: databases (DatabaseUse.cpp), variables (Variables.cpp), the catalogue
    // (SessionCatalog.cpp) and the security views (Permissions.cpp).
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

    // The schema alias of a database this session holds open, or empty.
    QString attachedAlias(const QString& database) const;
    std::optional<Value> scalarQuery(const QString& sql, const QList<Value>& binds = {});

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
    SessionFunctions m_functions; // the built-in functions' questions
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

    // ---- request plumbing (Batch.cpp; SET options in Variables.cpp)
    void beginRequest(ReplySink& reply);
    // COMMIT or ROLLBACK asked for by the transaction manager, and the new transaction it may
    // want at once.
    void endTransaction(bool commit, bool beginNew, ReplySink& reply);
    void endRequest();
    // SET TEXTSIZE's value as @@TEXTSIZE reports it; negative: no limit. Told to the reply.
    void setTextSize(int bytes);
    // SET DATEFORMAT's order, in force for the conversions this thread makes from now on.
    void setDateFormat(const QString& order);
    // SET LOCK_TIMEOUT's wait, as SQLite's busy timeout.
    void applyBusyTimeout();
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
    // databases held open and the current one (DatabaseUse.cpp)
    void setCurrentDatabase(const QString& name);
    QString attachDatabase(const DatabaseEntry& entry);
    void detachAlias(const QString& lower);
    void detachIdle();
    // The server's own views filled into this connection's temp schema (SessionCatalog.cpp):
    // statements without results and single inserts; a failure is a catalogue error.
    void serverViewExec(const char* sql);
    void serverViewInsert(const char* sql, const QList<Value>& values);
    // The table a statement names, with its columns; 1088 when there is no such table.
    std::pair<ResolvedTable, QList<TableColumn>> existingTable(const ObjectName& name);

    // the statement loop (Batch.cpp)
    Flow runStatement(const Stmt& s, Frame& frame);
    Flow runStatementInner(const Stmt& s, Frame& frame);
    // what goes to the client (Replies.cpp)
    void sendError(const Message& m, const Stmt* s, const Frame& frame);
    void sendInfo(int number, const QString& text, int severity = 0);
    void done(const Frame& frame, std::optional<qint64> count, bool error = false);
    std::optional<qint64> countOf(qint64 rows) const;
    void checkCancel();

    // SQLite access (SessionSqlite.cpp)
    SqlError sqliteError(int rc, const Translation* t, const QString& context = {}) const;
    sqlite3_stmt* prepare(const QString& sql, const Translation* t);
    void bindAll(sqlite3_stmt* st, const QList<Value>& binds);
    qint64 execute(const Translation& t, const QString& context = {});
    void execSql(const QString& sql, const QList<Value>& binds = {});
    // SQLite's own transaction under the session's (Transactions.cpp)
    void ensureWriteTransaction();
    void atomically(const std::function<void()>& body);

    // expressions and variables (Variables.cpp)
    Value evaluate(const ExprPtr& e, std::optional<TypeInfo>* type = nullptr);
    bool evaluateCondition(const ExprPtr& e);
    QString evaluateText(const ExprPtr& e);
    void assign(Frame& frame, const QString& name, const Value& value,
                const std::optional<TypeInfo>& source, const QString& op = QStringLiteral("="));
    Variable* findVariable(const QString& name);

    // statements (Statements.cpp)
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
    void runCreateProc(const Stmt& s, Frame& frame);
    void runDropProc(const Stmt& s, Frame& frame);
    void runCreateDatabase(const Stmt& s, Frame& frame);
    void runDropDatabase(const Stmt& s, Frame& frame);
    // Express's limit after a statement wrote to the database: 1105 when it has passed it
    // (Editions.cpp).
    void checkDataSize(const QString& database, const QString& object);
    // Runs a write to `target` ("db.dbo.table"); under a size limit it is undone, with 1105,
    // when it takes the database past the limit. Returns what `write` returns.
    qint64 limitedWrite(const QString& target, const std::function<qint64()>& write);

    void runUse(const Stmt& s, Frame& frame);           // DatabaseUse.cpp
    void runDeclare(const Stmt& s, Frame& frame);       // Variables.cpp
    void runSetOption(const Stmt& s, Frame& frame);     // Variables.cpp
    void runPrint(const Stmt& s, Frame& frame);         // Batch.cpp
    void runRaiserror(const Stmt& s, Frame& frame);     // Batch.cpp
    void runExec(const Stmt& s, Frame& frame);          // Procedures.cpp
    void runBackup(const Stmt& s, Frame& frame);        // TransferStatements.cpp
    void runRestore(const Stmt& s, Frame& frame);       // TransferStatements.cpp
    void runAlterDatabase(const Stmt& s, Frame& frame); // DatabaseOptions.cpp

    // language (SessionLanguage.cpp)
    void runSetLanguage(const Stmt& s);
    // sys.syslanguages in this connection's temp schema.
    void makeLanguageView();

    // transactions (Transactions.cpp)
    void runBeginTran(const Stmt& s, Frame& frame);
    void runCommit(const Stmt& s, Frame& frame);
    void runRollback(const Stmt& s, Frame& frame);
    void runSave(const Stmt& s, Frame& frame);
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

// Finalizes a prepared statement however the scope is left.
struct StatementGuard
{
    sqlite3_stmt* st = nullptr;
    ~StatementGuard() { sqlite3_finalize(st); }
};

} // namespace sqlsim
