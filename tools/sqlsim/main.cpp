// sqlsim: a stand-in for SQL Server on 127.0.0.1 that FreeTDS's ODBC driver talks to, for the
// tests, the benchmarks and the demo.
#include "Collation.h"
#include "Editions.h"
#include "Engine.h"
#include "Languages.h"
#include "Principals.h"
#include "RequestLog.h"
#include "ServerFiles.h"
#include "TdsListener.h"
#include "TlsSession.h"

#include <QFile>
#include <QHash>
#include <csignal>
#include <cstdio>
#include <pthread.h>

using namespace Qt::StringLiterals;

namespace {

const char usage[] =
    "Usage: sqlsim [options]\n"
    "A SQL Server simulator for tests: TDS 7.4 on 127.0.0.1, databases kept as SQLite files.\n"
    "\n"
    "  --port N              TCP port on 127.0.0.1 (0: any free one; default 1433). The port\n"
    "                        is printed as the first line on standard output.\n"
    "  --data DIR            folder of the server state and databases (default ./sqlsim-data)\n"
    "  --server-root DIR     play a Windows server whose drives are DIR/C, DIR/D, ...:\n"
    "                        statements name files as C:\\Data\\x.mdf (case ignored);\n"
    "                        without --data the state lies in its default data folder\n"
    "  --password P          password of the login \"sa\"\n"
    "  --logins FILE         more logins, one a line: \"name=password\" is a sysadmin;\n"
    "                        \"name=password; server_roles=dbcreator; server_permissions=\n"
    "                        VIEW SERVER STATE; database_roles=db_backupoperator\" has only\n"
    "                        what it names (each part optional, lists comma-separated);\n"
    "                        database_roles stand for CREATE USER and ALTER ROLE ... ADD\n"
    "                        MEMBER in every user database. DOMAIN\\name logins are\n"
    "                        Windows accounts (NTLM). Declared anew at every start;\n"
    "                        CREATE LOGIN's logins, database owners and users persist\n"
    "  --version-year Y      the SQL Server version to play: 2019 (default), 2017, 2016, ...;\n"
    "                        2014 and earlier have no SERVERPROPERTY('InstanceDefaultDataPath')\n"
    "                        or ('InstanceDefaultLogPath'), before 2019 no ('...BackupPath')\n"
    "  --edition E           express (default), standard, developer or enterprise: what\n"
    "                        SERVERPROPERTY and @@VERSION say; Express keeps each user database\n"
    "                        to 10 GB of data (4 GB before 2010), not counting the log\n"
    "  --extra-data-size MB  every user database's data file counts as MB megabytes bigger\n"
    "                        than it is, all of it free space: in sys.database_files,\n"
    "                        sys.master_files, FILEPROPERTY, sp_spaceused, sp_helpdb and\n"
    "                        sp_databases, and against Express's limit (a cheap server near\n"
    "                        or past 10 GB)\n"
    "  --default-language L  the server's default language, that of sa and of the other\n"
    "                        logins: us_english (default) or russian (name or alias, as\n"
    "                        sys.syslanguages has them). A LOGIN7 language overrides it: FreeTDS\n"
    "                        sends us_english unless the connection string says Language=\n"
    "  --throttle BYTES      slows BACKUP and RESTORE to this many bytes a second\n"
    "  --disk-free BYTES     the server's disks have only this much free space: reported\n"
    "                        so, and a larger backup fails as on a full disk\n"
    "  --log FILE            appends every batch and RPC received (passwords masked)\n"
    "  --fail-next-transfer  drops the connection half way through the next BACKUP or RESTORE\n"
    "  --drop-connection T   closes the connection of the next batch or RPC whose log entry\n"
    "                        contains T (case ignored), before any reply; may be repeated\n"
    "  --drop-after-rows N   ... after N rows of that reply instead (follows the\n"
    "                        --drop-connection it applies to)\n"
    "  --drop-next-login     closes the connection of the next login without an answer;\n"
    "                        repeated, of as many logins\n"
    "  --force-encryption    every connection encrypted (TLS with a self-signed certificate);\n"
    "                        a client that cannot encrypt is refused\n"
    "  --collation NAME      the server's default collation: Cyrillic_General_CI_AS\n"
    "                        (default), Latin1_General_CI_AS or SQL_Latin1_General_CP1_CI_AS\n"
    "  --help                this text\n";

int fail(const QString& text)
{
    std::fprintf(stderr, "sqlsim: %s\n", qPrintable(text));
    return 2;
}

// Windows accounts for integrated logins, from the same file as the engine's logins.
QHash<QString, QString> readAccounts(const QString& path)
{
    QHash<QString, QString> accounts;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return accounts;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (const QString& line : lines)
        if (const auto login = sqlsim::parseLoginLine(line))
            accounts.insert(login->name.toLower(), login->password);
    return accounts;
}

} // namespace

int main(int argc, char** argv)
{
    sqlsim::ServerOptions options;
    options.dataDir = u"./sqlsim-data"_s;
    quint16 port = 1433;
    QString logPath;
    bool forceEncryption = false;
    bool dataGiven = false;
    for (int i = 1; i < argc; ++i) {
        const QString option = QString::fromLocal8Bit(argv[i]);
        if (option == u"--help"_s || option == u"-h"_s) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (option == u"--fail-next-transfer"_s) {
            options.failNextTransfer = true;
            continue;
        }
        if (option == u"--drop-next-login"_s) {
            ++options.dropLogins;
            continue;
        }
        if (option == u"--force-encryption"_s) {
            forceEncryption = true;
            continue;
        }
        static const QStringList valueOptions = {u"--port"_s,
                                                 u"--data"_s,
                                                 u"--server-root"_s,
                                                 u"--password"_s,
                                                 u"--logins"_s,
                                                 u"--version-year"_s,
                                                 u"--throttle"_s,
                                                 u"--disk-free"_s,
                                                 u"--log"_s,
                                                 u"--drop-connection"_s,
                                                 u"--drop-after-rows"_s,
                                                 u"--collation"_s,
                                                 u"--edition"_s,
                                                 u"--extra-data-size"_s,
                                                 u"--default-language"_s};
        if (!valueOptions.contains(option))
            return fail(u"unknown option %1 (see --help)"_s.arg(option));
        if (i + 1 >= argc)
            return fail(u"%1 needs a value (see --help)"_s.arg(option));
        const QString value = QString::fromLocal8Bit(argv[++i]);
        bool ok = true;
        if (option == u"--port"_s) {
            const uint n = value.toUInt(&ok);
            ok = ok && n <= 65535;
            port = static_cast<quint16>(n);
        } else if (option == u"--data"_s) {
            options.dataDir = value;
            dataGiven = true;
        } else if (option == u"--server-root"_s) {
            const QString error = sqlsim::serverfiles::setRoot(value);
            if (!error.isEmpty())
                return fail(error);
        } else if (option == u"--password"_s) {
            options.saPassword = value;
        } else if (option == u"--logins"_s) {
            options.loginsFile = value;
        } else if (option == u"--version-year"_s) {
            options.versionYear = value.toInt(&ok);
        } else if (option == u"--throttle"_s) {
            options.throttleBytesPerSecond = value.toLongLong(&ok);
            ok = ok && options.throttleBytesPerSecond >= 0;
        } else if (option == u"--disk-free"_s) {
            const qint64 bytes = value.toLongLong(&ok);
            ok = ok && bytes >= 0;
            sqlsim::serverfiles::setFreeSpaceLimit(bytes);
        } else if (option == u"--drop-connection"_s) {
            ok = !value.isEmpty();
            options.connectionFaults.append({value, 0});
        } else if (option == u"--drop-after-rows"_s) {
            const qint64 rows = value.toLongLong(&ok);
            ok = ok && rows >= 0 && !options.connectionFaults.isEmpty();
            if (ok)
                options.connectionFaults.last().afterRows = rows;
        } else if (option == u"--edition"_s) {
            ok = sqlsim::editionNamed(value).has_value();
            options.edition = value.toLower();
        } else if (option == u"--extra-data-size"_s) {
            options.extraDataMegabytes = value.toLongLong(&ok);
            ok = ok && options.extraDataMegabytes >= 0 &&
                 options.extraDataMegabytes <= 1024LL * 1024 * 1024;
        } else if (option == u"--default-language"_s) {
            const sqlsim::Language* language = sqlsim::findLanguage(value);
            ok = language != nullptr;
            if (ok)
                options.language = language->name;
        } else if (option == u"--collation"_s) {
            // Comparisons here ignore case and respect accents: only _CI_AS collations are
            // played.
            const std::optional<sqlsim::Collation> collation = sqlsim::findCollation(value);
            if (!collation || !value.endsWith(u"_CI_AS"_s, Qt::CaseInsensitive))
                return fail(u"unknown collation %1: Cyrillic_General_CI_AS, Latin1_General_CI_AS "
                            "or SQL_Latin1_General_CP1_CI_AS"_s.arg(value));
            sqlsim::setServerCollation(*collation);
        } else {
            logPath = value;
        }
        if (!ok)
            return fail(u"bad value for %1: %2"_s.arg(option, value));
    }

    // A Windows server keeps master and the other system databases in its default data folder.
    if (sqlsim::serverfiles::hasRoot() && !dataGiven)
        options.dataDir =
            sqlsim::serverfiles::toLocal(sqlsim::serverfiles::defaultDataPath(options.dataDir));

    // A client that goes away mid-reply must not kill the server; SIGINT and SIGTERM are
    // taken by sigwait below, so every thread started from here on blocks them.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<sqlsim::Server> server;
    try {
        server = sqlsim::Server::open(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sqlsim: %s\n", e.what());
        return 1;
    }

    sqlsim::tds::RequestLog log;
    sqlsim::tds::ConnectionSettings settings;
    if (!logPath.isEmpty()) {
        QString error;
        if (!log.open(logPath, &error)) {
            std::fprintf(stderr, "sqlsim: cannot open the log %s: %s\n", qPrintable(logPath),
                         qPrintable(error));
            return 1;
        }
        settings.log = &log;
    }
    // Like a server with no certificate of its own: a self-signed one, made at start-up.
    QString tlsError;
    settings.tls = sqlsim::tds::TlsContext::create(u"sqlsim"_s, &tlsError);
    if (!settings.tls) {
        std::fprintf(stderr, "sqlsim: no TLS: %s\n", qPrintable(tlsError));
        return 1;
    }
    settings.forceEncryption = forceEncryption;
    const QHash<QString, QString> accounts = readAccounts(options.loginsFile);
    settings.windowsPassword = [accounts](const QString& account) -> std::optional<QString> {
        const auto it = accounts.constFind(account.toLower());
        return it == accounts.cend() ? std::nullopt : std::optional<QString>(*it);
    };

    sqlsim::tds::TdsListener listener(*server, settings);
    QString error;
    if (!listener.listen(port, &error)) {
        std::fprintf(stderr, "sqlsim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(listener.port()));
    std::fflush(stdout);
    listener.start();

    int signal = 0;
    sigwait(&stopSignals, &signal);
    listener.stop();
    server.reset();
    return 0;
}
