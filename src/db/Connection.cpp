#include "Connection.h"

#include "ColumnValues.h"
#include "ConnectionImpl.h"
#include "ConnectionStringTranslation.h"
#include "InstanceLookup.h"
#include "KerberosCheck.h"
#include "OdbcDrivers.h"
#include "StatementText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QSaveFile>
#include <QTemporaryDir>
#include <algorithm>
#include <malloc.h>
#include <mutex>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;

namespace db {

using namespace odbc;

namespace {

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
    // The file lies in a folder of its own with an unpredictable name (mkdtemp, mode 0700): under
    // a name known beforehand, another user of the machine could create it first and so block
    // every checked login, or read it.
    explicit FreeTdsConfForLogin(const QString& text)
        : m_turn(turnMutex()), m_dir(QDir::temp().filePath(u"dbsetup-freetds-%1-XXXXXX"_s.arg(
                                   QCoreApplication::applicationPid())))
    {
        if (!m_dir.isValid())
            throw Error(
                u"Не удалось создать папку для настроек драйвера FreeTDS в \"%1\": %2."_s.arg(
                    QDir::tempPath(), m_dir.errorString()));
        const QString path = m_dir.filePath(u"freetds.conf"_s);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
            file.write(text.toUtf8()) < 0 || !file.flush())
            throw Error(u"Не удалось записать настройки драйвера FreeTDS в файл \"%1\": %2."_s.arg(
                path, file.errorString()));
        m_hadOld = qEnvironmentVariableIsSet("FREETDSCONF");
        m_old = qgetenv("FREETDSCONF");
        qputenv("FREETDSCONF", QFile::encodeName(path));
    }
    // The folder goes with the file in it.
    ~FreeTdsConfForLogin()
    {
        if (m_hadOld)
            qputenv("FREETDSCONF", m_old);
        else
            qunsetenv("FREETDSCONF");
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
    QTemporaryDir m_dir;
    QByteArray m_old;
    bool m_hadOld = false;
};

std::mutex& applicationNameMutex()
{
    static std::mutex mutex;
    return mutex;
}

QString& applicationNameValue()
{
    static QString name = u"dbsetup"_s;
    return name;
}

} // namespace

void setApplicationName(const QString& name)
{
    std::lock_guard lock(applicationNameMutex());
    applicationNameValue() = name;
}

QString applicationName()
{
    std::lock_guard lock(applicationNameMutex());
    return applicationNameValue();
}

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
        std::vector<SQLWCHAR> text = wide(u"USE "_s + sqltext::identifier(name));
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
    const InstanceResolver resolve; // Microsoft's drivers ask the Browser themselves
#else
    const InstanceResolver resolve = [loginTimeout](const QString& host, const QString& instance) {
        return lookupInstancePort(host, instance, loginTimeout * 1000);
    };
#endif
    const OdbcTarget target = toOdbcTarget(d->provider, d->connectionString, odbcDriver(), resolve);
    const bool freeTds = target.dialect == OdbcDialect::FreeTds;
    std::optional<FreeTdsConfForLogin> conf;
    if (freeTds && !target.freetdsConf.isEmpty())
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
        // Microsoft's drivers name the cause themselves (certificate, Kerberos, encryption).
        if (!freeTds)
            throw DbError(message, diag.first().native, diag.first().state);
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

QList<qint64> Connection::executeRowCounts(const QString& sql)
{
    d->requireIdle();
    Statement stmt(d->hdbc(), d->commandTimeout);
    std::vector<SQLWCHAR> text = wide(sql);
    const Running running(*d, stmt.get());
    QList<qint64> counts;
    drain(stmt, SQLExecDirectW(stmt.get(), text.data(), SQL_NTS), {}, &counts);
    return counts;
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

} // namespace db
