#include "Connection.h"

#include "ConnectionStringTranslation.h"
#include "InstanceLookup.h"
#include "KerberosCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QSaveFile>
#include <algorithm>
#include <atomic>
#include <malloc.h>
#include <mutex>
#include <optional>
#include <sql.h>
#include <sqlext.h>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace db {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR is UTF-16");

constexpr qsizetype chunkSize = 64 * 1024;

std::vector<SQLWCHAR> wide(const QString& text)
{
    std::vector<SQLWCHAR> buffer(static_cast<size_t>(text.size()) + 1, 0);
    for (qsizetype i = 0; i < text.size(); ++i)
        buffer[static_cast<size_t>(i)] = text[i].unicode();
    return buffer;
}

QString fromWide(const SQLWCHAR* text, qsizetype length)
{
    return QString(reinterpret_cast<const QChar*>(text), length);
}

bool succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

struct Diagnostic
{
    QString state;
    int native = 0;
    QString text;
};

QList<Diagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    QList<Diagnostic> result;
    for (SQLSMALLINT record = 1; record < 1000; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        std::vector<SQLWCHAR> text(8192, 0);
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                            static_cast<SQLSMALLINT>(text.size()), &length);
        if (!succeeded(rc))
            break;
        result.append({fromWide(state, 5), static_cast<int>(native),
                       fromWide(text.data(), std::clamp<qsizetype>(length, 0, 8191))});
    }
    return result;
}

// The first error among the diagnostics, or a plain text when the driver gave none.
[[noreturn]] void throwDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const QString& fallback)
{
    const QList<Diagnostic> diag = diagnostics(type, handle);
    for (const Diagnostic& d : diag)
        if (!d.state.startsWith(u"01"_s))
            throw DbError(d.text, d.native, d.state);
    if (!diag.isEmpty())
        throw DbError(diag.first().text, diag.first().native, diag.first().state);
    throw DbError(fallback);
}

// One ODBC handle, freed with its owner.
class Handle
{
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type)
    {
        if (!succeeded(SQLAllocHandle(type, parent, &m_handle))) {
            m_handle = SQL_NULL_HANDLE;
            throw DbError(u"Не удалось получить описатель ODBC."_s);
        }
    }
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept
        : m_type(other.m_type), m_handle(std::exchange(other.m_handle, nullptr))
    {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_type = other.m_type;
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    void reset()
    {
        if (m_handle != SQL_NULL_HANDLE)
            SQLFreeHandle(m_type, m_handle);
        m_handle = SQL_NULL_HANDLE;
    }
    SQLHANDLE get() const { return m_handle; }
    SQLSMALLINT type() const { return m_type; }

private:
    SQLSMALLINT m_type = SQL_HANDLE_ENV;
    SQLHANDLE m_handle = nullptr;
};

// A statement that reads every result to the end before it is freed: closing early would send
// an attention and make the server abort what it still does (a backup, say).
class Statement
{
public:
    Statement(SQLHDBC dbc, int timeoutSeconds) : m_handle(SQL_HANDLE_STMT, dbc), m_dbc(dbc)
    {
        SQLSetStmtAttr(
            m_handle.get(), SQL_ATTR_QUERY_TIMEOUT,
            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(timeoutSeconds, 0))), 0);
    }
    SQLHSTMT get() const { return m_handle.get(); }

    // Throws on SQL_ERROR; hands informational messages to the sink.
    SQLRETURN check(SQLRETURN rc, const QString& what) const
    {
        if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE)
            throwDiagnostics(SQL_HANDLE_STMT, get(), what);
        if (rc == SQL_SUCCESS_WITH_INFO && messages)
            for (const Diagnostic& d : diagnostics(SQL_HANDLE_STMT, get()))
                messages(serverMessage(d.text));
        return rc;
    }

    // The message text without FreeTDS's "[FreeTDS][SQL Server]" prefix.
    static QString serverMessage(const QString& text)
    {
        const qsizetype i = text.lastIndexOf(u']');
        return i < 0 ? text : text.mid(i + 1);
    }

    // Whether the driver has lost the connection to the server (nothing more can come).
    bool connectionDead() const
    {
        SQLUINTEGER dead = SQL_CD_FALSE;
        return succeeded(SQLGetConnectAttr(m_dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
               dead == SQL_CD_TRUE;
    }

    std::function<void(const QString&)> messages;

private:
    Handle m_handle;
    SQLHDBC m_dbc;
};

// Reads a whole value in chunks, passing each to sink; false for NULL.
template <typename Sink>
bool readLong(const Statement& stmt, SQLUSMALLINT column, SQLSMALLINT cType, Sink&& sink)
{
    // One buffer per thread for every value: a million-row result reads five million values.
    thread_local std::vector<char> buffer(static_cast<size_t>(chunkSize));
    const SQLLEN terminator = cType == SQL_C_WCHAR ? static_cast<SQLLEN>(sizeof(SQLWCHAR)) : 0;
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt.get(), column, cType, buffer.data(),
                                        static_cast<SQLLEN>(buffer.size()), &indicator);
        if (rc == SQL_NO_DATA)
            return true;
        stmt.check(rc, u"SQLGetData"_s);
        if (indicator == SQL_NULL_DATA)
            return false;
        const SQLLEN room = static_cast<SQLLEN>(buffer.size()) - terminator;
        const SQLLEN got = indicator == SQL_NO_TOTAL || indicator > room ? room : indicator;
        sink(buffer.data(), static_cast<qsizetype>(got));
        if (rc == SQL_SUCCESS)
            return true;
    }
}

bool isBinaryType(SQLSMALLINT type)
{
    return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

// SQL Server's own ODBC types for time and datetimeoffset (msodbcsql.h), which FreeTDS reports too.
constexpr SQLSMALLINT sqlSsTime2 = -154;
constexpr SQLSMALLINT sqlSsTimestampOffset = -155;

ColumnKind columnKind(SQLSMALLINT type)
{
    switch (type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return ColumnKind::Integer;
    case SQL_DECIMAL:
    case SQL_NUMERIC: // money and smallmoney too
        return ColumnKind::Decimal;
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return ColumnKind::Float;
    case SQL_REAL:
        return ColumnKind::Real;
    case SQL_BIT:
        return ColumnKind::Bit;
    case SQL_TYPE_DATE:
    case SQL_DATE: // also SQL_DATETIME, the verbose type no driver reports here
        return ColumnKind::Date;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return ColumnKind::DateTime;
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case sqlSsTime2:
        return ColumnKind::Time;
    case sqlSsTimestampOffset:
        return ColumnKind::DateTimeOffset;
    default:
        return isBinaryType(type) ? ColumnKind::Binary : ColumnKind::Text;
    }
}

QVariant readValue(const Statement& stmt, SQLUSMALLINT column, SQLSMALLINT sqlType)
{
    QByteArray data;
    const auto append = [&](const char* bytes, qsizetype n) {
        data.append(bytes, n);
    };
    if (isBinaryType(sqlType))
        return readLong(stmt, column, SQL_C_BINARY, append) ? QVariant(data) : QVariant();
    if (!readLong(stmt, column, SQL_C_WCHAR, append))
        return {};
    return QString(reinterpret_cast<const QChar*>(data.constData()), data.size() / 2);
}

struct Columns
{
    QStringList names;
    QList<SQLSMALLINT> types;
};

Columns describe(const Statement& stmt, SQLSMALLINT count)
{
    Columns columns;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(count); ++c) {
        SQLWCHAR name[512] = {};
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT type = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = 0;
        stmt.check(SQLDescribeColW(stmt.get(), c, name, 512, &nameLength, &type, &size, &digits,
                                   &nullable),
                   u"SQLDescribeCol"_s);
        columns.names.append(fromWide(name, std::clamp<qsizetype>(nameLength, 0, 511)));
        columns.types.append(type);
    }
    return columns;
}

// Runs rc's statement to its end: every result, SQLMoreResults until SQL_NO_DATA. The rows of the
// first result with columns go to onRows (nullptr: skipped); gives the last row count.
qint64 drain(const Statement& stmt, SQLRETURN rc,
             const std::function<void(SQLSMALLINT columns)>& onRows = {})
{
    qint64 count = -1;
    bool rowsTaken = false;
    std::optional<DbError> firstError;
    // After an error the remaining results are still read (freeing the statement early would
    // cancel them); a lost connection ends the loop, as nothing more can come.
    for (long guard = 0; rc != SQL_NO_DATA && guard < 1000000; ++guard) {
        try {
            stmt.check(rc, u"SQLExecDirect"_s);
            SQLSMALLINT columns = 0;
            SQLNumResultCols(stmt.get(), &columns);
            if (columns > 0) {
                if (onRows && !rowsTaken) {
                    rowsTaken = true;
                    onRows(columns);
                } else {
                    while (stmt.check(SQLFetch(stmt.get()), u"SQLFetch"_s) != SQL_NO_DATA) {
                    }
                }
            } else {
                SQLLEN n = -1;
                if (succeeded(SQLRowCount(stmt.get(), &n)) && n >= 0)
                    count = n;
            }
        } catch (const DbError& e) {
            if (!firstError)
                firstError = e;
            if (e.isConnectionLoss() || e.isCancelled())
                break;
            // A dropped connection may come back as any error, again and again.
            if (stmt.connectionDead()) {
                firstError = DbError(u"Соединение с сервером потеряно: "_s + firstError->message(),
                                     firstError->nativeError(), u"08S01"_s);
                break;
            }
        }
        rc = SQLMoreResults(stmt.get());
    }
    if (firstError)
        throw *firstError;
    return count;
}

QString bracketed(const QString& name)
{
    QString escaped = name;
    escaped.replace(u"]"_s, u"]]"_s);
    return u'[' + escaped + u']';
}

// "name;1" → "name"
QString withoutGroup(const QString& procedure)
{
    const qsizetype semicolon = procedure.lastIndexOf(u';');
    return (semicolon < 0 ? procedure : procedure.left(semicolon)).trimmed();
}

// Replaces the marker ":name" (outside quotes and brackets) with "?"; -1 when it is missing.
qsizetype replaceMarker(QString& sql, const QString& name)
{
    const QString marker = u':' + name;
    qsizetype found = -1;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (c == u'\'' || c == u'"' || c == u'[') {
            const QChar close = c == u'[' ? u']' : c;
            for (++i; i < sql.size(); ++i) {
                if (sql[i] == close) {
                    if (i + 1 < sql.size() && sql[i + 1] == close) {
                        ++i;
                        continue;
                    }
                    break;
                }
            }
            continue;
        }
        if (c == u':' && sql.mid(i, marker.size()).compare(marker, Qt::CaseInsensitive) == 0) {
            const qsizetype end = i + marker.size();
            if (end < sql.size() && (sql[end].isLetterOrNumber() || sql[end] == u'_'))
                continue;
            sql.replace(i, marker.size(), u"?"_s);
            found = i;
            break;
        }
    }
    return found;
}

} // namespace

// ---- the worker of an asynchronous statement

struct AsyncRun
{
    std::thread thread;
    std::atomic<bool> done{false};
    std::mutex mutex;
    QStringList pending; // messages not yet handed over
    std::optional<DbError> error;
    Connection::MessageHandler onMessage;
    std::atomic<SQLHSTMT> stmt{nullptr};
};

class Connection::Impl
{
public:
    Impl() : env(SQL_HANDLE_ENV, SQL_NULL_HANDLE)
    {
        SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                      0);
    }

    SQLHDBC hdbc() const { return dbc.get(); }

    void requireOpen() const
    {
        if (!open)
            throw Error(u"Соединение с сервером закрыто."_s);
    }
    void requireIdle()
    {
        requireOpen();
        if (async && !async->done)
            throw Error(u"На соединении ещё выполняется запрос."_s);
        if (cursorOpen)
            throw Error(u"На соединении открыт набор записей."_s);
        finishAsync(false);
    }

    // Set while a cursor reads from the connection; the cursor's statement is released before
    // the connection closes.
    bool cursorOpen = false;
    std::function<void()> releaseCursor;

    // Joins a finished (or, with wait, a running) worker and hands over its messages.
    std::optional<DbError> finishAsync(bool wait)
    {
        if (!async)
            return std::nullopt;
        if (!wait && !async->done)
            return std::nullopt;
        if (async->thread.joinable())
            async->thread.join();
        deliverMessages();
        std::optional<DbError> error = std::move(async->error);
        async.reset();
        return error;
    }

    void deliverMessages()
    {
        if (!async)
            return;
        QStringList messages;
        {
            std::lock_guard lock(async->mutex);
            messages.swap(async->pending);
        }
        if (async->onMessage)
            for (const QString& m : messages)
                async->onMessage(m);
    }

    void setAutocommit(bool on)
    {
        const SQLRETURN rc = SQLSetConnectAttr(hdbc(), SQL_ATTR_AUTOCOMMIT,
                                               reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(
                                                   on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                                               0);
        if (!succeeded(rc))
            throwDiagnostics(SQL_HANDLE_DBC, hdbc(), u"SQL_ATTR_AUTOCOMMIT"_s);
    }

    void endTransaction(SQLSMALLINT how)
    {
        requireIdle();
        if (!transaction)
            throw Error(u"Транзакция не начата."_s);
        const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, hdbc(), how);
        if (!succeeded(rc))
            throwDiagnostics(SQL_HANDLE_DBC, hdbc(), u"SQLEndTran"_s);
        transaction = false;
        setAutocommit(true);
    }

    int effectiveTimeout(int timeoutSeconds) const
    {
        return timeoutSeconds < 0 ? commandTimeout : timeoutSeconds;
    }

    // The server dropped the connection under a statement: the handle is open but useless, so
    // callers that open a closed connection again must see it closed. Not asked while an
    // asynchronous statement runs: its own error tells of the loss.
    bool lost() const
    {
        if (!open || (async && !async->done))
            return false;
        SQLUINTEGER dead = SQL_CD_FALSE;
        return succeeded(SQLGetConnectAttr(hdbc(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
               dead == SQL_CD_TRUE;
    }

    Handle env;
    Handle dbc;
    bool open = false;
    bool transaction = false;
    QString provider = u"SQLOLEDB.1"_s;
    QString connectionString;
    QString database;
    int commandTimeout = 30;
    std::unique_ptr<AsyncRun> async;
    // The statement a synchronous call waits for, so that interrupt() can reach it from another
    // thread; the handle is freed only after it is taken out under the lock.
    std::mutex runningMutex;
    SQLHSTMT running = nullptr;
};

namespace {

// Marks a statement as the one interrupt() stops while it is in scope.
class Running
{
public:
    Running(Connection::Impl& owner, SQLHSTMT stmt) : m_owner(owner)
    {
        std::lock_guard lock(m_owner.runningMutex);
        m_owner.running = stmt;
    }
    ~Running() { clear(); }
    // Before the statement is freed.
    void clear()
    {
        std::lock_guard lock(m_owner.runningMutex);
        m_owner.running = nullptr;
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    Connection::Impl& m_owner;
};

// The driver collects a long value by growing one buffer chunk after chunk. glibc raises its mmap
// threshold after large blocks are freed, so the next large value grows on the heap, where every
// growth may copy: two copies of a file at once. A fixed threshold keeps large buffers in mmap,
// where they grow in place.
void keepLargeBuffersMapped()
{
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 1024 * 1024); });
#endif
}

} // namespace

namespace {

// FreeTDS reads a file of trusted certificate authorities only from its configuration file: the
// connection's own one is written for the attempt and named by FREETDSCONF while it runs. Two
// connections may open at once on different threads (the console's runs off the window's), so
// such logins take turns: the variable is the process's.
class FreeTdsConfForLogin
{
public:
    explicit FreeTdsConfForLogin(const QString& text) : m_turn(turnMutex())
    {
        static std::atomic<int> counter{0};
        m_path = QDir::temp()
                     .filePath(u"dbsetup-freetds-%1-%2.conf"_s)
                     .arg(QCoreApplication::applicationPid())
                     .arg(++counter);
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::NewOnly) ||
            !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
            file.write(text.toUtf8()) < 0 || !file.flush())
            throw Error(u"Не удалось записать настройки драйвера FreeTDS в файл \"%1\": %2."_s.arg(
                m_path, file.errorString()));
        m_hadOld = qEnvironmentVariableIsSet("FREETDSCONF");
        m_old = qgetenv("FREETDSCONF");
        qputenv("FREETDSCONF", QFile::encodeName(m_path));
    }
    ~FreeTdsConfForLogin()
    {
        if (m_hadOld)
            qputenv("FREETDSCONF", m_old);
        else
            qunsetenv("FREETDSCONF");
        QFile::remove(m_path);
    }
    FreeTdsConfForLogin(const FreeTdsConfForLogin&) = delete;
    FreeTdsConfForLogin& operator=(const FreeTdsConfForLogin&) = delete;

private:
    static std::mutex& turnMutex()
    {
        static std::mutex mutex;
        return mutex;
    }

    std::lock_guard<std::mutex> m_turn;
    QString m_path;
    QByteArray m_old;
    bool m_hadOld = false;
};

} // namespace

Connection::Connection() : d(std::make_unique<Impl>())
{
    keepLargeBuffersMapped();
}

Connection::~Connection()
{
    close();
}

QString Connection::provider() const
{
    return d->provider;
}

void Connection::setProvider(const QString& provider)
{
    if (d->open && provider != d->provider)
        throw Error(u"Нельзя сменить поставщика данных у открытого соединения."_s);
    d->provider = provider;
}

QString Connection::connectionString() const
{
    return d->connectionString;
}

void Connection::setConnectionString(const QString& text)
{
    d->connectionString = text;
}

QString Connection::defaultDatabase() const
{
    if (d->open && !(d->async && !d->async->done)) {
        SQLWCHAR name[512] = {};
        SQLINTEGER length = 0;
        if (succeeded(SQLGetConnectAttrW(d->hdbc(), SQL_ATTR_CURRENT_CATALOG, name, sizeof name,
                                         &length)))
            return fromWide(name, std::clamp<qsizetype>(length / 2, 0, 511));
    }
    return d->database;
}

void Connection::setDefaultDatabase(const QString& name)
{
    if (d->open) {
        d->requireIdle();
        Statement stmt(d->hdbc(), d->commandTimeout);
        std::vector<SQLWCHAR> text = wide(u"USE "_s + bracketed(name));
        drain(stmt, SQLExecDirectW(stmt.get(), text.data(), SQL_NTS));
    }
    d->database = name;
}

void Connection::open()
{
    if (d->open) {
        if (!d->lost())
            throw Error(u"Соединение уже открыто."_s);
        close();
    }
    const int loginTimeout = loginTimeoutSeconds();
#if defined(Q_OS_WIN)
    const InstanceResolver resolve; // the system's driver asks the Browser itself
#else
    const InstanceResolver resolve = [loginTimeout](const QString& host, const QString& instance) {
        return lookupInstancePort(host, instance, loginTimeout * 1000);
    };
#endif
    const OdbcTarget target =
        toOdbcTarget(d->provider, d->connectionString, odbcDriverOverride(), resolve);
    std::optional<FreeTdsConfForLogin> conf;
    if (!target.freetdsConf.isEmpty())
        conf.emplace(target.freetdsConf);
    const QString& odbc = target.connectionString;
    d->dbc = Handle(SQL_HANDLE_DBC, d->env.get());
    const auto timeout = static_cast<SQLULEN>(loginTimeout);
    SQLSetConnectAttr(d->hdbc(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout), 0);
    SQLSetConnectAttr(d->hdbc(), SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout),
                      0);
    if (!d->database.isEmpty()) {
        std::vector<SQLWCHAR> db = wide(d->database);
        SQLSetConnectAttrW(d->hdbc(), SQL_ATTR_CURRENT_CATALOG, db.data(), SQL_NTS);
    }
    std::vector<SQLWCHAR> text = wide(odbc);
    const SQLRETURN rc = SQLDriverConnectW(d->hdbc(), nullptr, text.data(), SQL_NTS, nullptr, 0,
                                           nullptr, SQL_DRIVER_NOPROMPT);
    std::fill(text.begin(), text.end(), SQLWCHAR(0)); // the password
    conf.reset();
    if (!succeeded(rc)) {
        QList<Diagnostic> diag = diagnostics(SQL_HANDLE_DBC, d->hdbc());
        d->dbc.reset();
        // The server's own refusal ("Login failed …") says most; the driver's follow-up less.
        if (diag.isEmpty())
            throw DbError(u"Не удалось подключиться к серверу."_s);
        QString message = diag.first().text;
        const auto append = [&message](const QString& reason) {
            message += (message.endsWith(u'.') ? u" "_s : u". "_s) + reason;
        };
        // FreeTDS says only "Unable to connect to data source" when Kerberos gave no ticket or
        // the server could not encrypt; the server's own refusal and an unreachable server say
        // enough themselves.
        // FreeTDS's own numbers: no socket (20008), no connection (20009), unknown host (20013).
        const bool unreachable = std::any_of(diag.cbegin(), diag.cend(), [](const Diagnostic& x) {
            return x.native == 20008 || x.native == 20009 || x.native == 20013;
        });
        const bool serverAnswered =
            std::any_of(diag.cbegin(), diag.cend(),
                        [](const Diagnostic& x) { return x.native > 0 && x.native < 20000; });
        bool explained = unreachable || serverAnswered;
#if !defined(Q_OS_WIN)
        // Asking Kerberos the same question again tells the operator which part is missing.
        if (target.integrated && !unreachable) {
            const KerberosProblem problem =
                checkKerberos(target.host, target.port, target.serverSpn);
            if (problem.kind != KerberosProblem::None || serverAnswered ||
                !target.encryption.encrypt) {
                append(kerberosReason(problem));
                explained = true;
            }
        }
#endif
        if (!explained && target.encryption.verifyCertificate)
            append(u"Соединение должно быть зашифровано, а сервер не поддерживает шифрование, или "
                   u"его сертификат не подписан центром из файла \"%1\", или в нём нет имени "
                   u"\"%2\"."_s.arg(target.caFile, target.host));
        else if (!explained && target.encryption.encrypt)
            append(u"Соединение должно быть зашифровано, а сервер не поддерживает шифрование."_s);
        throw DbError(message, diag.first().native, diag.first().state);
    }
    d->open = true;
    d->transaction = false;
    // SQL Server sends at most @@TEXTSIZE bytes of a text, image or (max) value, 4096 unless the
    // client asks for more, and cuts the rest without a word. Microsoft's drivers lift the limit
    // when they connect; FreeTDS's does not, so every session does it here.
    try {
        executeNoRecords(u"SET TEXTSIZE 2147483647"_s);
    } catch (...) {
        close();
        throw;
    }
}

void Connection::close()
{
    if (d->releaseCursor)
        d->releaseCursor();
    if (d->async) {
        cancel();
        d->finishAsync(true);
    }
    if (!d->open)
        return;
    if (d->transaction)
        SQLEndTran(SQL_HANDLE_DBC, d->hdbc(), SQL_ROLLBACK);
    d->transaction = false;
    // The server ends a session only when it notices the disconnect, which may be after another
    // client's next statement: leaving first makes that moment no longer matter.
    leaveDatabase();
    SQLDisconnect(d->hdbc());
    d->dbc.reset();
    d->open = false;
}

bool Connection::leaveDatabase()
{
    if (!d->open || d->lost())
        return false;
    if (defaultDatabase().compare(QLatin1String("master"), Qt::CaseInsensitive) == 0)
        return true;
    try {
        // A server that does not answer at once must not hold up the caller (a close, say).
        constexpr int leaveTimeoutSeconds = 5;
        d->requireIdle();
        Statement stmt(d->hdbc(), leaveTimeoutSeconds);
        std::vector<SQLWCHAR> text = wide(u"USE master"_s);
        drain(stmt, SQLExecDirectW(stmt.get(), text.data(), SQL_NTS));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool Connection::isOpen() const
{
    return d->open && !d->lost();
}

int Connection::commandTimeout() const
{
    return d->commandTimeout;
}

void Connection::setCommandTimeout(int seconds)
{
    d->commandTimeout = std::max(seconds, 0);
}

void Connection::execute(const QString& sql)
{
    executeNoRecords(sql);
}

qint64 Connection::executeNoRecords(const QString& sql)
{
    d->requireIdle();
    Statement stmt(d->hdbc(), d->commandTimeout);
    std::vector<SQLWCHAR> text = wide(sql);
    const Running running(*d, stmt.get());
    return drain(stmt, SQLExecDirectW(stmt.get(), text.data(), SQL_NTS));
}

qint64 Connection::executeParams(const QString& sql, const QList<QVariant>& values)
{
    d->requireIdle();
    Statement stmt(d->hdbc(), d->commandTimeout);
    // Buffers stay in place until the statement has run.
    std::vector<std::vector<SQLWCHAR>> texts(static_cast<size_t>(values.size()));
    std::vector<QByteArray> bytes(static_cast<size_t>(values.size()));
    std::vector<SQLBIGINT> integers(static_cast<size_t>(values.size()));
    std::vector<SQLLEN> indicators(static_cast<size_t>(values.size()));
    for (qsizetype i = 0; i < values.size(); ++i) {
        const auto at = static_cast<size_t>(i);
        const auto number = static_cast<SQLUSMALLINT>(i + 1);
        const QVariant& value = values[i];
        SQLRETURN rc = SQL_SUCCESS;
        if (value.isNull()) {
            indicators[at] = SQL_NULL_DATA;
            rc = SQLBindParameter(stmt.get(), number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1,
                                  0, nullptr, 0, &indicators[at]);
        } else if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int) {
            integers[at] = value.toLongLong();
            rc = SQLBindParameter(stmt.get(), number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0,
                                  0, &integers[at], 0, nullptr);
        } else if (value.typeId() == QMetaType::QByteArray) {
            bytes[at] = value.toByteArray();
            indicators[at] = bytes[at].size();
            rc = SQLBindParameter(stmt.get(), number, SQL_PARAM_INPUT, SQL_C_BINARY,
                                  SQL_LONGVARBINARY,
                                  static_cast<SQLULEN>(std::max<qsizetype>(bytes[at].size(), 1)), 0,
                                  bytes[at].data(), bytes[at].size(), &indicators[at]);
        } else {
            const QString text = value.toString();
            texts[at] = wide(text);
            indicators[at] = static_cast<SQLLEN>(text.size()) * 2;
            rc = SQLBindParameter(stmt.get(), number, SQL_PARAM_INPUT, SQL_C_WCHAR,
                                  text.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR,
                                  static_cast<SQLULEN>(std::max<qsizetype>(text.size(), 1)), 0,
                                  texts[at].data(), static_cast<SQLLEN>(texts[at].size() * 2),
                                  &indicators[at]);
        }
        stmt.check(rc, u"SQLBindParameter"_s);
    }
    std::vector<SQLWCHAR> text = wide(sql);
    return drain(stmt, SQLExecDirectW(stmt.get(), text.data(), SQL_NTS));
}

qint64 Connection::executeWithStream(const QString& sql, const QString& paramName, QIODevice& data,
                                     int timeoutSeconds)
{
    d->requireIdle();
    QString statement = sql;
    if (replaceMarker(statement, paramName) < 0)
        throw Error(u"В запросе нет параметра \"%1\"."_s.arg(paramName));
    if (!data.isOpen() || !data.isReadable())
        throw Error(u"Поток данных параметра \"%1\" не открыт для чтения."_s.arg(paramName));
    Statement stmt(d->hdbc(), d->effectiveTimeout(timeoutSeconds));
    const qint64 size = data.isSequential() ? 0 : std::max<qint64>(data.size() - data.pos(), 0);
    // Fed at execution time from the stream, so no second copy of the value is built here;
    // LONGVARBINARY, as other bindings cut or empty long values.
    SQLLEN indicator = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(size));
    SQLPOINTER token = reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(1));
    stmt.check(SQLBindParameter(stmt.get(), 1, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                                static_cast<SQLULEN>(std::max<qint64>(size, 1)), 0, token, 0,
                                &indicator),
               u"SQLBindParameter"_s);
    std::vector<SQLWCHAR> text = wide(statement);
    SQLRETURN rc = SQLExecDirectW(stmt.get(), text.data(), SQL_NTS);
    if (rc == SQL_NEED_DATA) {
        SQLPOINTER which = nullptr;
        rc = SQLParamData(stmt.get(), &which);
        std::vector<char> buffer(static_cast<size_t>(chunkSize));
        bool sent = false;
        while (rc == SQL_NEED_DATA) {
            for (;;) {
                const qint64 got = data.read(buffer.data(), chunkSize);
                if (got < 0) {
                    SQLCancel(stmt.get());
                    throw Error(u"Ошибка чтения данных параметра \"%1\": %2"_s.arg(
                        paramName, data.errorString()));
                }
                if (got == 0)
                    break;
                stmt.check(SQLPutData(stmt.get(), buffer.data(), static_cast<SQLLEN>(got)),
                           u"SQLPutData"_s);
                sent = true;
            }
            if (!sent) // an empty value is still a value, not NULL
                stmt.check(SQLPutData(stmt.get(), buffer.data(), 0), u"SQLPutData"_s);
            rc = SQLParamData(stmt.get(), &which);
        }
    }
    return drain(stmt, rc);
}

void Connection::saveColumnToFile(const QString& sql, const QString& column, const QString& path,
                                  int timeoutSeconds)
{
    d->requireIdle();
    Statement stmt(d->hdbc(), d->effectiveTimeout(timeoutSeconds));
    std::vector<SQLWCHAR> text = wide(sql);
    std::optional<Error> failure;
    drain(stmt, SQLExecDirectW(stmt.get(), text.data(), SQL_NTS), [&](SQLSMALLINT count) {
        const Columns columns = describe(stmt, count);
        const int index =
            static_cast<int>(std::find_if(columns.names.begin(), columns.names.end(),
                                          [&](const QString& n) {
                                              return n.compare(column, Qt::CaseInsensitive) == 0;
                                          }) -
                             columns.names.begin());
        bool first = true;
        while (stmt.check(SQLFetch(stmt.get()), u"SQLFetch"_s) != SQL_NO_DATA) {
            if (!first || failure)
                continue; // the rest is read so that the statement ends cleanly
            first = false;
            if (index >= columns.names.size()) {
                failure = Error(u"В результате нет столбца \"%1\"."_s.arg(column));
                continue;
            }
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly)) {
                failure =
                    Error(u"Не удалось создать файл \"%1\": %2"_s.arg(path, file.errorString()));
                continue;
            }
            const SQLSMALLINT cType =
                isBinaryType(columns.types[index]) ? SQL_C_BINARY : SQL_C_CHAR;
            bool writeFailed = false;
            readLong(stmt, static_cast<SQLUSMALLINT>(index + 1), cType,
                     [&](const char* bytes, qsizetype n) {
                         if (file.write(bytes, n) != n)
                             writeFailed = true;
                     });
            if (writeFailed || !file.commit())
                failure =
                    Error(u"Не удалось записать файл \"%1\": %2"_s.arg(path, file.errorString()));
        }
        if (first && !failure)
            failure = Error(u"Запрос не вернул ни одной строки."_s);
    });
    if (failure)
        throw *failure;
}

namespace {

class FetchedRow : public Connection::RowCursor
{
public:
    FetchedRow(const Statement& stmt, const Columns& columns) : m_stmt(stmt), m_columns(columns) {}
    const QStringList& columnNames() const override { return m_columns.names; }
    int columnIndex(const QString& name) const override
    {
        for (qsizetype i = 0; i < m_columns.names.size(); ++i)
            if (m_columns.names[i].compare(name, Qt::CaseInsensitive) == 0)
                return static_cast<int>(i);
        return -1;
    }
    QString text(int column) override
    {
        const QVariant value = readValue(m_stmt, checked(column), m_columns.types[column]);
        if (value.isNull())
            return {};
        if (value.typeId() == QMetaType::QByteArray)
            return QString::fromLatin1(value.toByteArray().toHex());
        return value.toString();
    }
    bool copyTo(int column, QIODevice& out) override
    {
        const SQLSMALLINT cType =
            isBinaryType(m_columns.types[checked(column) - 1]) ? SQL_C_BINARY : SQL_C_CHAR;
        bool refused = false;
        const bool notNull = readLong(m_stmt, static_cast<SQLUSMALLINT>(column + 1), cType,
                                      [&](const char* bytes, qsizetype n) {
                                          if (!refused && out.write(bytes, n) != n)
                                              refused = true;
                                      });
        if (refused)
            throw Error(u"Не удалось записать данные: %1"_s.arg(out.errorString()));
        return notNull;
    }

private:
    // The 1-based column number; throws for a column out of range.
    SQLUSMALLINT checked(int column) const
    {
        if (column < 0 || column >= m_columns.names.size())
            throw Error(u"В результате нет столбца %1."_s.arg(column + 1));
        return static_cast<SQLUSMALLINT>(column + 1);
    }

    const Statement& m_stmt;
    const Columns& m_columns;
};

} // namespace

namespace {

class PagedCursor : public Connection::Cursor
{
public:
    PagedCursor(Connection::Impl& owner, std::unique_ptr<Statement> stmt, Columns columns);
    ~PagedCursor() override { release(); }
    const QStringList& columnNames() const override { return m_columns.names; }
    QList<bool> binaryColumns() const override
    {
        QList<bool> binary;
        for (const SQLSMALLINT type : m_columns.types)
            binary << isBinaryType(type);
        return binary;
    }
    QList<ColumnKind> columnKinds() const override
    {
        QList<ColumnKind> kinds;
        for (const SQLSMALLINT type : m_columns.types)
            kinds << columnKind(type);
        return kinds;
    }
    QList<QList<QVariant>> fetch(qsizetype count) override;
    bool atEnd() const override { return m_stmt == nullptr; }
    // Stops reading: the server is told to drop the rest, the statement freed.
    void release();

private:
    Connection::Impl* m_owner;
    std::unique_ptr<Statement> m_stmt;
    Columns m_columns;
};

} // namespace

PagedCursor::PagedCursor(Connection::Impl& owner, std::unique_ptr<Statement> stmt, Columns columns)
    : m_owner(&owner), m_stmt(std::move(stmt)), m_columns(std::move(columns))
{
    m_owner->cursorOpen = true;
    m_owner->releaseCursor = [this] {
        release();
    };
}

void PagedCursor::release()
{
    if (m_stmt) {
        SQLCancel(m_stmt->get());
        m_stmt.reset();
    }
    if (m_owner != nullptr) {
        m_owner->cursorOpen = false;
        m_owner->releaseCursor = nullptr;
        m_owner = nullptr;
    }
}

QList<QList<QVariant>> PagedCursor::fetch(qsizetype count)
{
    QList<QList<QVariant>> rows;
    if (!m_stmt)
        return rows;
    Running running(*m_owner, m_stmt->get());
    rows.reserve(count);
    const auto columns = static_cast<SQLUSMALLINT>(m_columns.names.size());
    while (rows.size() < count) {
        if (m_stmt->check(SQLFetch(m_stmt->get()), u"SQLFetch"_s) == SQL_NO_DATA) {
            // The rest of the batch (row counts, messages) is read so that it ends cleanly.
            drain(*m_stmt, SQLMoreResults(m_stmt->get()));
            running.clear();
            m_stmt.reset();
            release();
            break;
        }
        QList<QVariant> row;
        row.reserve(columns);
        for (SQLUSMALLINT c = 1; c <= columns; ++c)
            row.append(readValue(*m_stmt, c, m_columns.types[c - 1]));
        rows.append(std::move(row));
    }
    return rows;
}

std::unique_ptr<Connection::Cursor> Connection::openCursor(const QString& sql, int timeoutSeconds)
{
    d->requireIdle();
    auto stmt = std::make_unique<Statement>(d->hdbc(), timeoutSeconds);
    std::vector<SQLWCHAR> text = wide(sql);
    const Running running(*d, stmt->get());
    SQLRETURN rc = SQLExecDirectW(stmt->get(), text.data(), SQL_NTS);
    for (;;) {
        if (rc == SQL_NO_DATA)
            throw Error(u"Запрос не вернул набор записей."_s);
        stmt->check(rc, u"SQLExecDirect"_s);
        SQLSMALLINT count = 0;
        SQLNumResultCols(stmt->get(), &count);
        if (count > 0) {
            Columns columns = describe(*stmt, count);
            return std::make_unique<PagedCursor>(*d, std::move(stmt), std::move(columns));
        }
        rc = SQLMoreResults(stmt->get());
    }
}

void Connection::forEachRow(const QString& sql, int timeoutSeconds,
                            const std::function<bool(RowCursor&)>& onRow)
{
    d->requireIdle();
    Statement stmt(d->hdbc(), timeoutSeconds);
    std::vector<SQLWCHAR> text = wide(sql);
    bool stopped = false;
    const auto rows = [&](SQLSMALLINT count) {
        const Columns columns = describe(stmt, count);
        FetchedRow row(stmt, columns);
        while (!stopped && stmt.check(SQLFetch(stmt.get()), u"SQLFetch"_s) != SQL_NO_DATA)
            stopped = !onRow(row);
        if (stopped)
            SQLCancel(stmt.get()); // the server stops sending the rest
    };
    SQLRETURN rc = SQLExecDirectW(stmt.get(), text.data(), SQL_NTS);
    if (rc == SQL_NO_DATA)
        return;
    // Results before the first one with rows (row counts of a batch) are passed over.
    for (;;) {
        stmt.check(rc, u"SQLExecDirect"_s);
        SQLSMALLINT count = 0;
        SQLNumResultCols(stmt.get(), &count);
        if (count > 0)
            break;
        rc = SQLMoreResults(stmt.get());
        if (rc == SQL_NO_DATA)
            return;
    }
    rows([&] {
        SQLSMALLINT count = 0;
        SQLNumResultCols(stmt.get(), &count);
        return count;
    }());
    if (!stopped)
        drain(stmt, SQLMoreResults(stmt.get()));
}

std::unique_ptr<RecordSet> Connection::openRecordSet(const QString& sql, int timeoutSeconds)
{
    d->requireIdle();
    Statement stmt(d->hdbc(), timeoutSeconds);
    std::vector<SQLWCHAR> text = wide(sql);
    Columns columns;
    QList<QList<QVariant>> rows;
    drain(stmt, SQLExecDirectW(stmt.get(), text.data(), SQL_NTS), [&](SQLSMALLINT count) {
        columns = describe(stmt, count);
        while (stmt.check(SQLFetch(stmt.get()), u"SQLFetch"_s) != SQL_NO_DATA) {
            QList<QVariant> row;
            row.reserve(count);
            for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(count); ++c)
                row.append(readValue(stmt, c, columns.types[c - 1]));
            rows.append(std::move(row));
        }
    });
    QList<bool> binary;
    for (SQLSMALLINT type : columns.types)
        binary.append(isBinaryType(type));
    return std::make_unique<RecordSet>(columns.names, binary, std::move(rows));
}

void Connection::executeAsync(const QString& sql, MessageHandler onMessage)
{
    d->requireIdle();
    auto run = std::make_unique<AsyncRun>();
    run->onMessage = std::move(onMessage);
    auto stmt = std::make_shared<Statement>(d->hdbc(), d->commandTimeout);
    run->stmt = stmt->get();
    AsyncRun* shared = run.get();
    stmt->messages = [shared](const QString& text) {
        std::lock_guard lock(shared->mutex);
        shared->pending.append(text);
    };
    run->thread = std::thread([shared, stmt, sql]() {
        try {
            std::vector<SQLWCHAR> text = wide(sql);
            drain(*stmt, SQLExecDirectW(stmt->get(), text.data(), SQL_NTS));
        } catch (const DbError& e) {
            std::lock_guard lock(shared->mutex);
            shared->error = e;
        } catch (const std::exception& e) {
            std::lock_guard lock(shared->mutex);
            shared->error = DbError(QString::fromUtf8(e.what()));
        }
        {
            // cancel() calls SQLCancel under this lock: the handle is gone only after.
            std::lock_guard lock(shared->mutex);
            shared->stmt = nullptr;
        }
        shared->done = true;
    });
    d->async = std::move(run);
}

bool Connection::isExecuting()
{
    if (!d->async)
        return false;
    d->deliverMessages();
    return !d->async->done;
}

void Connection::waitForAsync()
{
    if (std::optional<DbError> error = d->finishAsync(true))
        throw *error;
}

void Connection::cancel()
{
    if (!d->async)
        return;
    std::lock_guard lock(d->async->mutex);
    if (const SQLHSTMT stmt = d->async->stmt; stmt != nullptr && !d->async->done)
        SQLCancel(stmt);
}

void Connection::interrupt()
{
    std::lock_guard lock(d->runningMutex);
    if (d->running != nullptr)
        SQLCancel(d->running);
}

void Connection::beginTrans()
{
    d->requireIdle();
    if (d->transaction)
        throw Error(u"Транзакция уже начата."_s);
    d->setAutocommit(false);
    d->transaction = true;
}

void Connection::commitTrans()
{
    d->endTransaction(SQL_COMMIT);
}

void Connection::rollbackTrans()
{
    d->endTransaction(SQL_ROLLBACK);
}

bool Connection::inTransaction() const
{
    return d->transaction;
}

QList<Connection::ProcedureParameter> Connection::procedureParameters(const QString& procedure)
{
    d->requireIdle();
    const QString name = withoutGroup(procedure);
    Statement stmt(d->hdbc(), 30);
    std::vector<SQLWCHAR> procName = wide(name);
    QList<ProcedureParameter> parameters;
    SQLRETURN rc = SQLProcedureColumnsW(stmt.get(), nullptr, 0, nullptr, 0, procName.data(),
                                        SQL_NTS, nullptr, 0);
    drain(stmt, rc, [&](SQLSMALLINT) {
        while (stmt.check(SQLFetch(stmt.get()), u"SQLFetch"_s) != SQL_NO_DATA) {
            // The name is a pattern ("_" matches any one character): keep exact matches only.
            const QString proc = readValue(stmt, 3, SQL_WVARCHAR).toString();
            ProcedureParameter p;
            p.name = readValue(stmt, 4, SQL_WVARCHAR).toString();
            p.direction = readValue(stmt, 5, SQL_WVARCHAR).toInt();
            p.dataType = readValue(stmt, 6, SQL_WVARCHAR).toInt();
            p.typeName = readValue(stmt, 7, SQL_WVARCHAR).toString();
            if (withoutGroup(proc).compare(name, Qt::CaseInsensitive) == 0)
                parameters.append(p);
        }
    });
    if (parameters.isEmpty())
        throw Error(u"Хранимая процедура \"%1\" не найдена."_s.arg(procedure));
    return parameters;
}

int Connection::callProcedure(const QString& procedure,
                              const QList<std::pair<QString, QString>>& values)
{
    const QList<ProcedureParameter> all = procedureParameters(procedure);
    QList<ProcedureParameter> inputs;
    for (const ProcedureParameter& p : all)
        if (p.direction != SQL_RETURN_VALUE)
            inputs.append(p);
    // Values by name, case ignored; a name the procedure lacks is the caller's error.
    QList<std::optional<QString>> given(inputs.size());
    qsizetype last = -1;
    for (const auto& [name, value] : values) {
        const auto it = std::find_if(inputs.begin(), inputs.end(),
                                     [&wanted = name](const ProcedureParameter& p) {
                                         return p.name.compare(wanted, Qt::CaseInsensitive) == 0;
                                     });
        if (it == inputs.end())
            throw Error(u"Параметр \"%1\" не найден у процедуры \"%2\"."_s.arg(name, procedure));
        const qsizetype index = it - inputs.begin();
        given[index] = value;
        last = std::max(last, index);
    }
    d->requireIdle();
    Statement stmt(d->hdbc(), 30);
    // Parameters up to the last one given are passed by position, the ones between as NULL.
    QString call = u"{? = call "_s + withoutGroup(procedure);
    std::vector<std::vector<SQLWCHAR>> buffers(static_cast<size_t>(last + 1));
    std::vector<SQLLEN> indicators(static_cast<size_t>(last + 2), 0);
    SQLINTEGER status = 0;
    stmt.check(SQLBindParameter(stmt.get(), 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0,
                                &status, sizeof status, &indicators[0]),
               u"SQLBindParameter"_s);
    for (qsizetype i = 0; i <= last; ++i) {
        call += i == 0 ? u"("_s : u","_s;
        call += u'?';
        auto& buffer = buffers[static_cast<size_t>(i)];
        SQLLEN& indicator = indicators[static_cast<size_t>(i + 1)];
        const QString value = given[i].value_or(QString());
        buffer = wide(value);
        indicator = given[i] ? static_cast<SQLLEN>(value.size()) * 2 : SQL_NULL_DATA;
        stmt.check(
            SQLBindParameter(stmt.get(), static_cast<SQLUSMALLINT>(i + 2), SQL_PARAM_INPUT,
                             SQL_C_WCHAR, value.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR,
                             static_cast<SQLULEN>(std::max<qsizetype>(value.size(), 1)), 0,
                             buffer.data(), static_cast<SQLLEN>(buffer.size() * 2), &indicator),
            u"SQLBindParameter"_s);
    }
    if (last >= 0)
        call += u')';
    call += u'}';
    std::vector<SQLWCHAR> text = wide(call);
    drain(stmt, SQLExecDirectW(stmt.get(), text.data(), SQL_NTS));
    // The return status is there only after every result has been read.
    return indicators[0] == SQL_NULL_DATA ? 0 : static_cast<int>(status);
}

// ---- RecordSet

RecordSet::RecordSet(QStringList columns, QList<bool> binary, QList<QList<QVariant>> rows)
    : m_columns(std::move(columns)), m_binary(std::move(binary)), m_rows(std::move(rows))
{}

int RecordSet::columnIndex(const QString& name) const
{
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

const QVariant& RecordSet::cell(const QString& column) const
{
    const int index = columnIndex(column);
    if (index < 0)
        throw Error(u"В наборе данных нет поля \"%1\"."_s.arg(column));
    if (eof())
        throw Error(u"Нет текущей записи."_s);
    return m_rows[m_current][index];
}

bool RecordSet::isNull(const QString& column) const
{
    return cell(column).isNull();
}

QString RecordSet::fieldText(const QString& column) const
{
    const QVariant& v = cell(column);
    if (v.typeId() == QMetaType::QByteArray)
        return QString::fromLatin1(v.toByteArray().toHex());
    return v.toString();
}

QString RecordSet::displayText(qsizetype row, int column) const
{
    const QVariant v = value(row, column);
    if (v.typeId() == QMetaType::QByteArray)
        return u"(BLOB)"_s;
    return v.toString();
}

QVariant RecordSet::value(qsizetype row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.size())
        return {};
    return m_rows[row][column];
}

void RecordSet::saveFieldToFile(const QString& column, const QString& path) const
{
    const QVariant& v = cell(column);
    const QByteArray bytes =
        v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(u"Не удалось создать файл \"%1\": %2"_s.arg(path, file.errorString()));
    for (qsizetype at = 0; at < bytes.size(); at += chunkSize) {
        const qsizetype n = std::min(chunkSize, bytes.size() - at);
        if (file.write(bytes.constData() + at, n) != n)
            break;
    }
    if (!file.commit())
        throw Error(u"Не удалось записать файл \"%1\": %2"_s.arg(path, file.errorString()));
}

} // namespace db
