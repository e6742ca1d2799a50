// The command line of the batch mode as scripts write it: where the connection comes from, and
// how a failed run ends (one stderr line, exit code 1, no password shown).
#include "BatchScene.h"

using namespace Qt::StringLiterals;
using namespace batch;

namespace {

const QString noConnection = u"Не удалось подключиться к базе данных."_s;
const QString noFileAdvice =
    u"Не задан файл резервной копии: параметр /file:ПУТЬ (dbsetup --help)."_s;

// The summary a run without a display ends with, said once (no success box besides it).
QString backupSuccess(const QString& database, const QString& file)
{
    return u"Резервная копия базы \""_s + database + u"\" записана в файл \""_s + file + u"\"."_s;
}

// A loopback port nothing listens on: one a simulator has just given up.
quint16 deadPort()
{
    SqlsimProcess other;
    if (!other.start())
        return 0;
    const quint16 port = other.port();
    other.stop();
    return port;
}

// What a failing run must end with: the error as the one and last "Exception" line; a refused
// connection's reason, or the option that was missing, follows it on a line of its own.
void checkFailure(const RunResult& r, const QString& message, bool withCause,
                  const QString& advice = {})
{
    QVERIFY2(r.exitCode == 1, qPrintable(r.err));
    const QStringList exceptions = r.exceptionLines();
    QVERIFY2(exceptions.size() == 1, qPrintable(r.err));
    QStringList lines = r.errLines();
    if (!advice.isEmpty()) {
        QCOMPARE(lines.takeLast(), advice);
    }
    if (message == noConnection && withCause) {
        QCOMPARE(lines.size() >= 2 ? lines.at(lines.size() - 2) : QString(),
                 exceptionPrefix + message);
        QVERIFY2(!lines.constLast().startsWith(u"Exception "_s), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        return;
    }
    QCOMPARE(lines.constLast(), exceptions.first());
    if (withCause) {
        // The server's error follows the text, after the line breaks that became blanks.
        const QString head = exceptionPrefix + message + u"  "_s;
        QVERIFY2(exceptions.first().startsWith(head), qPrintable(exceptions.first()));
        QVERIFY2(exceptions.first().size() > head.size(), qPrintable(exceptions.first()));
    } else {
        QCOMPARE(exceptions.first(), exceptionPrefix + message);
    }
    QVERIFY(r.out.isEmpty());
}

enum class Setup
{
    Plain,
    Unreachable,    // settings.ini names a port nothing listens on
    BackupFile,     // %bak% exists: a backup of ostrel_ts
    DropMidBackup,  // the simulator drops the connection half way through the next BACKUP
    DropMidRestore, // %bak% exists, and the next RESTORE is dropped half way
};

} // namespace

class TestBatchMode : public QObject
{
    Q_OBJECT

private:
    static QStringList expanded(QStringList arguments, BatchScene& scene)
    {
        const QString cs = u"Data Source=%server%;User ID=sa;Password=%pw%"_s;
        arguments.replaceInStrings(u"%cs%"_s, cs);
        arguments.replaceInStrings(u"%root%"_s, scene.path(QString()).chopped(1));
        arguments.replaceInStrings(u"%bak%"_s, scene.path(u"backups/ostrel_ts.bak"_s));
        arguments.replaceInStrings(u"%server%"_s, scene.server());
        arguments.replaceInStrings(u"%pw%"_s, scene.password());
        return arguments;
    }

private slots:
    void failures_data()
    {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("withCause");
        QTest::addColumn<QString>("cause");  // a pattern the attached cause must match
        QTest::addColumn<QString>("advice"); // the line after the error naming the option

        const auto row = [](const char* name, Setup setup, const QStringList& arguments,
                            const QString& message, bool withCause = false,
                            const QString& cause = {}, const QString& advice = {}) {
            QTest::newRow(name) << static_cast<int>(setup) << arguments << message << withCause
                                << cause << advice;
        };
        const QString noFolderAdvice =
            u"Не задана папка для файлов базы: параметр /path_db:ПАПКА (dbsetup --help)."_s;
        // The driver's words for a server gone in the middle of a statement, or the program's.
        const QString lostConnection =
            u"Unexpected EOF from the server|Соединение с сервером потеряно"_s;
        row("unreachable server, backup", Setup::Unreachable,
            {u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:%root%/out/x.bak"_s}, noConnection,
            true);
        row("unreachable server, restore", Setup::Unreachable,
            {u"-restore_db"_s, u"/db_name:copy"_s, u"/file:%root%/out/x.bak"_s,
             u"/path_db:%root%/restored"_s},
            noConnection, true);
        row("restore without /file", Setup::Plain,
            {u"-restore_db"_s, u"/db_name:copy"_s, u"/path_db:%root%/restored"_s},
            u"Файл резервной копии \"\" не найден."_s, false, {}, noFileAdvice);
        row("restore of a missing backup file", Setup::Plain,
            {u"-restore_db"_s, u"/db_name:copy"_s, u"/file:%root%/none.bak"_s,
             u"/path_db:%root%/restored"_s},
            u"Файл резервной копии \"%root%/none.bak\" не найден."_s);
        row("restore without /path_db", Setup::BackupFile,
            {u"-restore_db"_s, u"/db_name:copy"_s, u"/file:%bak%"_s},
            u"Не удалось создать путь \"\"."_s, false, {}, noFolderAdvice);
        row("backup without /file", Setup::Plain, {u"-backup_db"_s, u"/db_name:ostrel_ts"_s},
            u"Не удалось создать путь \"\"."_s, false, {}, noFileAdvice);
        row("backup without /file or files", Setup::Plain,
            {u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/not_add_file"_s},
            u"Не удалось создать путь \"\"."_s, false, {}, noFileAdvice);
        row("backup file without a folder", Setup::Plain,
            {u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:ostrel_ts.bak"_s},
            u"Не удалось создать путь \"\"."_s);
        row("connection dropped mid-backup", Setup::DropMidBackup,
            {u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:%root%/out/x.bak"_s},
            u"Не удалось создать резервную копию базы \"ostrel_ts\"."_s, true, lostConnection);
        row("connection dropped mid-restore", Setup::DropMidRestore,
            {u"-restore_db"_s, u"/db_name:copy"_s, u"/file:%bak%"_s, u"/path_db:%root%/restored"_s},
            u"Не удалось восстановить базу."_s, true, lostConnection);
        row("restore over another database without /replace_db", Setup::BackupFile,
            {u"-restore_db"_s, u"/db_name:sklad"_s, u"/file:%bak%"_s, u"/path_db:%root%/restored"_s,
             u"/not_replace_db"_s},
            u"Не удалось восстановить базу."_s, true, u"sklad"_s);
    }

    void failures()
    {
        QFETCH(int, setup);
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QFETCH(bool, withCause);
        QFETCH(QString, cause);
        QFETCH(QString, advice);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        BATCH_STEP(scene.createDatabase(u"sklad"_s));
        arguments = expanded(arguments, scene);
        message.replace(u"%root%"_s, scene.path(QString()).chopped(1));
        switch (static_cast<Setup>(setup)) {
        case Setup::Plain:
            break;
        case Setup::Unreachable: {
            const quint16 port = deadPort();
            QVERIFY(port != 0);
            BATCH_STEP(scene.writeSettings(u"127.0.0.1,%1"_s.arg(port)));
            break;
        }
        case Setup::BackupFile:
            BATCH_STEP(scene.serverBackup(scene.path(u"backups/ostrel_ts.bak"_s)));
            break;
        case Setup::DropMidRestore:
            BATCH_STEP(scene.serverBackup(scene.path(u"backups/ostrel_ts.bak"_s)));
            QVERIFY(scene.exec(u"exec sqlsim_fail_next_transfer"_s));
            break;
        case Setup::DropMidBackup:
            QVERIFY(scene.exec(u"exec sqlsim_fail_next_transfer"_s));
            break;
        }
        const QStringList databasesBefore = scene.databases();

        RunResult r;
        BATCH_STEP(scene.run(arguments, r));
        BATCH_STEP(checkFailure(r, message, withCause, advice));
        QVERIFY(!QFileInfo::exists(scene.path(u"out/x.bak"_s)));
        const auto kind = static_cast<Setup>(setup);
        if (!withCause) {
            // Refused before the server was asked to do anything.
            QVERIFY(!scene.log().contains(u"BACKUP DATABASE @DBName"_s));
            QVERIFY(!scene.log().contains(u"batch: restore database "_s));
        }
        if (kind != Setup::DropMidRestore)
            QCOMPARE(scene.databases(), databasesBefore);
        if (kind == Setup::DropMidBackup) {
            // The percentages before the drop were reported; the run did not hang after it.
            QVERIFY2(r.errHasLine(u"Выполнено 10%"_s), qPrintable(r.err));
            QVERIFY(!r.errHasLine(u"Выполнено 100%"_s));
        }
        if (!cause.isEmpty())
            QVERIFY2(r.exceptionLines().value(0).contains(QRegularExpression(cause)),
                     qPrintable(r.err));
    }

    // Where the connection and the database name come from: settings.ini and "/db_name", a UDL
    // file or a connection string.
    void connectionSource_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("udl");        // the init string of %udl%; "": no file
        QTest::addColumn<bool>("settingsReach"); // settings.ini names this simulator
        QTest::addColumn<QString>("database");   // the one backed up

        const QString udlFull = u"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;"
                                u"Password=%pw%;Initial Catalog=sklad;Data Source=%server%"_s;
        QTest::newRow("existing UDL file overrides /db_name")
            << QStringList{u"/db_name:ostrel_ts"_s, u"/file_udl:%udl%"_s} << udlFull << false
            << u"sklad"_s;
        QTest::newRow("UDL path that does not exist")
            << QStringList{u"/db_name:sklad"_s, u"/file_udl:%root%/none.udl"_s} << QString() << true
            << u"sklad"_s;
        QTest::newRow("connection string without Provider")
            << QStringList{u"/db_name:ostrel_ts"_s,
                           u"/connection_string:%cs%;Initial Catalog=sklad"_s}
            << QString() << false << u"sklad"_s;
        // Start-up has connected: the provider cannot change on the open connection.
        QTest::newRow("connection string without Provider, connected at start-up")
            << QStringList{u"/db_name:ostrel_ts"_s,
                           u"/connection_string:%cs%;Initial Catalog=sklad"_s}
            << QString() << true << u"sklad"_s;
        QTest::newRow("connection string with Provider")
            << QStringList{u"/db_name:ostrel_ts"_s,
                           u"/connection_string:Provider=SQLOLEDB.1;%cs%;Initial Catalog=sklad"_s}
            << QString() << false << u"sklad"_s;
        QTest::newRow("connection string without catalog")
            << QStringList{u"/db_name:sklad"_s, u"/connection_string:%cs%"_s} << QString() << false
            << u"sklad"_s;
        // Without a user id the string is not applied, and the start-up name replaces /db_name.
        QTest::newRow("connection string not applied")
            << QStringList{u"/db_name:sklad"_s, u"/connection_string:Data Source=%server%"_s}
            << QString() << true << u"ostrel_ts"_s;
        // Unquoted, the string ends at its first blank; the rest are ignored arguments.
    }

    void connectionSource()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, udl);
        QFETCH(bool, settingsReach);
        QFETCH(QString, database);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        BATCH_STEP(scene.createDatabase(u"sklad"_s));
        if (!settingsReach) {
            const quint16 port = deadPort();
            QVERIFY(port != 0);
            BATCH_STEP(scene.writeSettings(u"127.0.0.1,%1"_s.arg(port)));
        }
        const QString udlPath = scene.path(u"conn/default.udl"_s);
        if (!udl.isEmpty())
            QVERIFY(writeFile(udlPath, udlFile(expanded({udl}, scene).first())));
        options.replaceInStrings(u"%udl%"_s, udlPath);
        const QString backupFile = scene.path(u"backups/nightly.bak"_s);

        RunResult r;
        BATCH_STEP(
            scene.run(QStringList{u"-backup_db"_s, u"/file:"_s + backupFile, u"/not_add_file"_s} +
                          expanded(options, scene),
                      r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(backupFile).isFile());
        QVERIFY2(r.errHasLine(backupSuccess(database, backupFile)), qPrintable(r.err));
        QVERIFY2(scene.log().contains(u"set @DBName=N'"_s + database + u"'BACKUP DATABASE"_s),
                 qPrintable(scene.log()));
        QCOMPARE(scene.log().count(u"BACKUP DATABASE"_s), 1);
    }

    // A UDL file without a catalog leaves no database to back up: a failure, not a silent exit 0.
    void udlWithoutCatalog()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString udlPath = scene.path(u"conn/default.udl"_s);
        QVERIFY(writeFile(udlPath, udlFile(expanded({u"Provider=SQLOLEDB.1;User ID=sa;"
                                                     u"Password=%pw%;Data Source=%server%"_s},
                                                    scene)
                                               .first())));
        const QString backupFile = scene.path(u"backups/nightly.bak"_s);
        RunResult r;
        BATCH_STEP(
            scene.run({u"-backup_db"_s, u"/file:"_s + backupFile, u"/file_udl:"_s + udlPath}, r));
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.exceptionLines(),
                 QStringList{u"Exception MyException in module dbsetup at 00000000. Не задано имя "
                             u"базы данных для резервного копирования."_s});
        QVERIFY(!QFileInfo::exists(backupFile));
    }

    // A password that needs quoting in the driver's connection string still logs in.
    void passwordNeedingQuotes_data()
    {
        QTest::addColumn<QString>("loginPassword");
        QTest::addColumn<QString>("settingsPassword");
        QTest::newRow("semicolon, braces, equals sign") << u"Ni;ght{ly}=1"_s << u"Ni;ght{ly}=1"_s;
        QTest::newRow("leading brace") << u"{Night;ly"_s << u"{Night;ly"_s;
        QTest::newRow("wrong one of the same kind") << u"Ni;ght{ly}=1"_s << u"Ni;ght{ly}=2"_s;
    }

    void passwordNeedingQuotes()
    {
        QFETCH(QString, loginPassword);
        QFETCH(QString, settingsPassword);

        BatchScene scene;
        const QString logins = scene.path(u"logins.txt"_s);
        QVERIFY(writeFile(logins, (u"nightly="_s + loginPassword + u'\n').toUtf8()));
        BATCH_STEP(scene.setUp(true, {u"--logins"_s, logins}));
        BATCH_STEP(scene.writeSettings({}, settingsPassword, u"nightly"_s));
        scene.addSecret(loginPassword);
        scene.addSecret(settingsPassword);
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);

        RunResult r;
        BATCH_STEP(scene.run({u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile,
                              u"/not_add_file"_s},
                             r));
        if (loginPassword == settingsPassword) {
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QVERIFY(QFileInfo(backupFile).isFile());
            QVERIFY2(r.errHasLine(backupSuccess(u"ostrel_ts"_s, backupFile)), qPrintable(r.err));
        } else {
            BATCH_STEP(checkFailure(r, noConnection, true));
            QVERIFY(!QFileInfo::exists(backupFile));
        }
    }

    // Passwords reach the server only: no failure text shows one.
    void secretsNeverShown_data()
    {
        QTest::addColumn<QString>("settingsPassword"); // "": the simulator's
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("udl");
        QTest::addColumn<QString>("message");

        QTest::newRow("wrong password in settings.ini")
            << u"Wrong-Secret-71"_s << QStringList() << QString() << noConnection;
        QTest::newRow("wrong password in /connection_string")
            << QString()
            << QStringList{u"/connection_string:Data Source=%server%;User ID=sa;"
                           u"Password=Wrong-Secret-72"_s}
            << QString() << noConnection;
        QTest::newRow("wrong password in a UDL file")
            << QString() << QStringList{u"/file_udl:%udl%"_s}
            << u"Provider=SQLOLEDB.1;User ID=sa;Password=Wrong-Secret-73;Initial "
               u"Catalog=ostrel_ts;Data Source=%server%"_s
            << noConnection;
        QTest::newRow("right password in /connection_string, failing backup")
            << QString() << QStringList{u"/connection_string:%cs%;Initial Catalog=ostrel_ts"_s}
            << QString() << u"Не удалось создать путь \"\"."_s;
    }

    void secretsNeverShown()
    {
        QFETCH(QString, settingsPassword);
        QFETCH(QStringList, options);
        QFETCH(QString, udl);
        QFETCH(QString, message);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        for (int i = 71; i <= 73; ++i)
            scene.addSecret(u"Wrong-Secret-%1"_s.arg(i));
        if (!settingsPassword.isEmpty())
            BATCH_STEP(scene.writeSettings({}, settingsPassword));
        const QString udlPath = scene.path(u"conn/default.udl"_s);
        if (!udl.isEmpty())
            QVERIFY(writeFile(udlPath, udlFile(expanded({udl}, scene).first())));
        options.replaceInStrings(u"%udl%"_s, udlPath);

        RunResult r;
        // run() fails the test when a password shows on stdout or stderr.
        BATCH_STEP(scene.run(QStringList{u"-backup_db"_s} + expanded(options, scene), r));
        // A refused login carries the server's words, which name no password.
        BATCH_STEP(checkFailure(r, message, message == noConnection,
                                message == noConnection ? QString() : noFileAdvice));
    }
};

QTEST_GUILESS_MAIN(TestBatchMode)
#include "tst_batchmode.moc"
