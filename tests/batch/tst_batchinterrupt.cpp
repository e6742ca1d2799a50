// A batch run stopped by a signal in the middle of its work (Ctrl+C, a service manager's stop, a
// closed terminal) takes the same way out as a failure: the previous backup back under its name,
// the database open to all again; then it ends with 128 + the signal's number. What a killed
// extraction leaves behind never travels in a backup and goes before the next extraction.
#include "BatchScene.h"

#include <csignal>

using namespace Qt::StringLiterals;
using namespace batch;

class TestBatchInterrupt : public QObject
{
    Q_OBJECT

private slots:
    void interrupted_data()
    {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<int>("signal");
        QTest::newRow("backup over an existing file, SIGTERM") << true << SIGTERM;
        QTest::newRow("backup over an existing file, SIGINT") << true << SIGINT;
        QTest::newRow("restore ending other sessions, SIGTERM") << false << SIGTERM;
        QTest::newRow("restore ending other sessions, SIGHUP") << false << SIGHUP;
    }
    void interrupted()
    {
        QFETCH(bool, backup);
        QFETCH(int, signal);
        BatchScene scene;
        // Slow enough for the signal to find the server at work.
        BATCH_STEP(scene.setUp(true, {u"--throttle"_s, u"40000"_s}));
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        BATCH_STEP(scene.serverBackup(backupFile));
        const QByteArray previous = readFile(backupFile);
        OdbcClient other;
        QVERIFY(other.connect(scene.port(), u"sa"_s, scene.password(), u"ostrel_ts"_s));

        const QStringList arguments =
            backup ? QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile,
                                 u"/not_show_form"_s}
                   : QStringList{u"-restore_db"_s,         u"/db_name:ostrel_ts"_s,
                                 u"/file:"_s + backupFile, u"/path_db:"_s + scene.path(u"r"_s),
                                 u"/close_connections"_s,  u"/not_show_form"_s};
        RunResult r;
        BATCH_STEP(scene.runUntil(
            arguments, u"Выполнено 10%"_s,
            [signal](qint64 pid) { QVERIFY(::kill(static_cast<pid_t>(pid), signal) == 0); }, r));
        QCOMPARE(r.exitCode, 128 + signal);
        QVERIFY2(r.errLines().last().startsWith(u"Работа прервана: получен сигнал SIG"_s),
                 qPrintable(r.err));
        QCOMPARE(r.exceptionLines().size(), 1);
        // The previous backup is back, whole, and nothing beside it.
        QCOMPARE(readFile(backupFile), previous);
        QCOMPARE(QDir(scene.path(u"backups"_s)).entryList(QDir::Files),
                 QStringList{u"ostrel_ts.bak"_s});
        // A restore stopped once it was writing leaves the database RESTORING, as SQL Server
        // does, until a restore succeeds.
        QCOMPARE(
            flatten(
                scene
                    .query(u"SELECT state_desc, user_access_desc FROM sys.databases WHERE name = "
                           u"'ostrel_ts'"_s)
                    .resultSets.value(0)),
            QStringList{backup ? u"ONLINE|MULTI_USER"_s : u"RESTORING|MULTI_USER"_s});
        // Its rows cannot be read while it is RESTORING.
        QCOMPARE(scene.clients(u"ostrel_ts"_s).size(), backup ? 2 : 0);
    }

    // The program's session names it to the server, so that whoever finds it in the database
    // can tell whose it is.
    void sessionNamesTheProgram()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp(true, {u"--throttle"_s, u"40000"_s}));
        QStringList programs;
        RunResult r;
        BATCH_STEP(scene.runUntil(
            {u"-backup_db"_s, u"/db_name:ostrel_ts"_s,
             u"/file:"_s + scene.path(u"backups/named.bak"_s), u"/not_add_file"_s},
            u"Выполнено 10%"_s,
            [&](qint64) {
                programs = flatten(scene
                                       .query(u"SELECT rtrim(program_name) FROM "
                                              u"master.dbo.sysprocesses WHERE program_name LIKE "
                                              u"N'dbsetup%'"_s)
                                       .resultSets.value(0));
            },
            r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(programs, QStringList{u"dbsetup (пакетный режим)"_s});
    }

    // A file a killed extraction left in the installation folder is never stored, and the next
    // extraction removes it.
    void extractionLeftovers()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString leftover = scene.installDir() + u"Reports/~dbsetup-extract-1a2b3c"_s;
        QVERIFY(writeFile(leftover, "half of a file"));
        const QString backupFile = scene.path(u"backups/with-files.bak"_s);
        BATCH_STEP(backUpWithFiles(scene, backupFile));
        const QMap<QString, QByteArray> stored = storedFiles(scene, u"ostrel_ts"_s);
        QVERIFY(!stored.isEmpty());
        for (const QString& path : stored.keys())
            QVERIFY2(!path.contains(u"~dbsetup"_s), qPrintable(path));
        RunResult r;
        BATCH_STEP(scene.run({u"-restore_db"_s, u"/db_name:ostrel_copy"_s, u"/file:"_s + backupFile,
                              u"/path_db:"_s + scene.path(u"restored"_s), u"/restore_file"_s,
                              u"/not_show_form"_s},
                             r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(leftover));
    }
};

QTEST_GUILESS_MAIN(TestBatchInterrupt)
#include "tst_batchinterrupt.moc"
