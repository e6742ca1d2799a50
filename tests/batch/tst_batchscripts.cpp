// The batch mode as a script author meets it: mistakes refused before anything is touched, no
// window whatever the display, the password off the command line, a backup folder only the
// server may write, results said before the error that follows them, reasons that name the
// option, and a log without noise.
#include "BatchScene.h"

#include <QStandardPaths>
#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace batch;

namespace {

const QString summaryLine = u"Резервная копия базы \"ostrel_ts\" записана в файл \"%1\"."_s;

// An X server of the test's own, for runs under a display that works.
class WorkingDisplay
{
public:
    ~WorkingDisplay()
    {
        m_server.kill();
        m_server.waitForFinished();
    }
    // ":N", or empty when there is no Xvfb.
    QString start()
    {
        const QString xvfb = QStandardPaths::findExecutable(u"Xvfb"_s);
        if (xvfb.isEmpty())
            return {};
        for (int n = 140; n < 200; ++n) {
            const QString socket = u"/tmp/.X11-unix/X%1"_s.arg(n);
            if (QFileInfo::exists(socket) || QFileInfo::exists(u"/tmp/.X%1-lock"_s.arg(n)))
                continue;
            m_server.start(xvfb, {u":%1"_s.arg(n), u"-nolisten"_s, u"tcp"_s});
            if (!m_server.waitForStarted())
                return {};
            // Ready once its socket is there.
            for (int i = 0; i < 500 && !QFileInfo::exists(socket); ++i)
                QTest::qWait(20);
            return QFileInfo::exists(socket) ? u":%1"_s.arg(n) : QString();
        }
        return {};
    }

private:
    QProcess m_server;
};

QByteArray commandLineOf(qint64 pid)
{
    QByteArray line = readFile(u"/proc/%1/cmdline"_s.arg(pid));
    return line.replace('\0', ' ');
}

} // namespace

class TestBatchScripts : public QObject
{
    Q_OBJECT

private slots:
    // A typo stops the run before it connects: exit code 2, one line naming the argument, and
    // nothing in the server's log.
    void mistakeTouchesNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("a typo of /db_name") << QStringList{
            u"-restore_db"_s, u"/dbname:scratch_copy2"_s, u"/file:%bak%"_s, u"/path_db:%root%/r"_s};
        QTest::newRow("a flag given no")
            << QStringList{u"-restore_db"_s, u"/db_name:copy"_s, u"/file:%bak%"_s,
                           u"/path_db:%root%/r"_s, u"/replace_db:no"_s};
        QTest::newRow("a connection string cut at a blank")
            << QStringList{u"-backup_db"_s, u"/connection_string:Data"_s, u"Source=%server%;User"_s,
                           u"ID=sa;Password=%pw%"_s};
    }
    void mistakeTouchesNothing()
    {
        QFETCH(QStringList, arguments);
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        arguments.replaceInStrings(u"%bak%"_s, scene.path(u"x.bak"_s));
        arguments.replaceInStrings(u"%root%"_s, scene.path(QString()));
        arguments.replaceInStrings(u"%server%"_s, scene.server());
        arguments.replaceInStrings(u"%pw%"_s, scene.password());
        const QString logBefore = scene.log();
        RunResult r;
        BATCH_STEP(scene.run(arguments, r));
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.errLines().size(), 1);
        QVERIFY2(r.err.contains(u"dbsetup --help"_s), qPrintable(r.err));
        QCOMPARE(scene.log(), logBefore);
    }

    // /no_dialogs under a display that works: no box waits for a click, the run ends on its own
    // with its lines on stderr.
    void noDialogsUnderADisplay_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::newRow("backup made") << true;
        QTest::newRow("no connection") << false;
    }
    void noDialogsUnderADisplay()
    {
        QFETCH(bool, reachable);
        WorkingDisplay display;
        const QString name = display.start();
        if (name.isEmpty())
            QSKIP("no Xvfb");
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        if (!reachable)
            BATCH_STEP(scene.writeSettings(u"127.0.0.1,1"_s));
        scene.environmentChange = [name](QProcessEnvironment& env) {
            env.insert(u"DISPLAY"_s, name);
        };
        const QString file = scene.path(u"backups/shown.bak"_s);
        RunResult r;
        BATCH_STEP(scene.run(
            {u"-backup_db"_s, u"/no_dialogs"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + file}, r));
        QVERIFY2(r.exitCode == (reachable ? 0 : 1), qPrintable(r.err));
        if (reachable)
            QCOMPARE(r.errLines().constLast(), summaryLine.arg(file));
        else
            QCOMPARE(r.exceptionLines().size(), 1);
    }

    // The password of a script stays off the command line other users read: from
    // DBSETUP_PASSWORD when the connection names a user without one, and wiped from the
    // process's command line when it was given there.
    void passwordOffTheCommandLine_data()
    {
        QTest::addColumn<bool>("fromEnvironment");
        QTest::newRow("DBSETUP_PASSWORD") << true;
        QTest::newRow("/connection_string") << false;
    }
    void passwordOffTheCommandLine()
    {
        QFETCH(bool, fromEnvironment);
        BatchScene scene;
        BATCH_STEP(scene.setUp(true, {u"--throttle"_s, u"40000"_s}));
        QStringList arguments{u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/not_add_file"_s,
                              u"/file:"_s + scene.path(u"backups/p.bak"_s)};
        if (fromEnvironment) {
            QVERIFY(
                writeFile(scene.programDir() + u"settings.ini"_s,
                          (u"[db]\nserver="_s + scene.server() + u"\nuser_name=sa\n"_s).toUtf8()));
            const QString password = scene.password();
            scene.environmentChange = [password](QProcessEnvironment& env) {
                env.insert(u"DBSETUP_PASSWORD"_s, password);
            };
        } else {
            arguments << u"/connection_string:"_s + scene.connectionString();
        }
        QByteArray commandLine;
        RunResult r;
        BATCH_STEP(scene.runUntil(
            arguments, u"Выполнено 10%"_s,
            [&commandLine](qint64 pid) { commandLine = commandLineOf(pid); }, r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(!commandLine.isEmpty());
        QVERIFY2(!commandLine.contains(scene.password().toUtf8()), commandLine.constData());
        if (!fromEnvironment)
            QVERIFY2(commandLine.contains("/connection_string:***"), commandLine.constData());
    }

    // Where only the server's account may write, the previous backup cannot be moved aside:
    // the backup is made all the same, over it, and the run says so.
    void folderOnlyTheServerWrites()
    {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(u"setpriv"_s).isEmpty())
            QSKIP("needs root and setpriv to run the program as another user");
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                        QFile::ExeOther;
        for (const QString& folder : {scene.path(QString()), scene.programDir()})
            QVERIFY(QFile::setPermissions(folder, open));
        QVERIFY(QFile::setPermissions(scene.programFile(), open));
        const QString file = scene.path(u"backups/nightly.bak"_s);
        QVERIFY(writeFile(file, "last night's backup"));
        QVERIFY(QFile::setPermissions(scene.path(u"backups"_s), open));
        scene.launcher = {u"setpriv"_s, u"--reuid=65534"_s, u"--regid=65534"_s,
                          u"--clear-groups"_s};
        scene.environmentChange = [](QProcessEnvironment& env) {
            env.remove(u"XDG_RUNTIME_DIR"_s);
        };
        RunResult r;
        BATCH_STEP(scene.run(
            {u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/not_add_file"_s, u"/file:"_s + file}, r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(readFile(file) != "last night's backup");
        QVERIFY2(r.err.contains(u"не сохранена на время записи новой"_s), qPrintable(r.err));
    }

    // /copy_only reaches the server; the history records the copy as one.
    void copyOnly()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString file = scene.path(u"backups/aside.bak"_s);
        RunResult r;
        BATCH_STEP(scene.run({u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/not_add_file"_s,
                              u"/copy_only"_s, u"/file:"_s + file},
                             r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(scene.log().contains(u"NOFORMAT , COPY_ONLY"_s));
        QCOMPARE(flatten(scene
                             .query(u"SELECT TOP 1 is_copy_only FROM msdb.dbo.backupset ORDER BY "
                                    u"backup_set_id DESC"_s)
                             .resultSets.value(0)),
                 QStringList{u"1"_s});
    }

    // A restore that worked is said before the extraction's error that follows it.
    void restoredThenFailed()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString file = scene.path(u"backups/with-files.bak"_s);
        BATCH_STEP(backUpWithFiles(scene, file));
        // A stored file's folder cannot be made: a file has its name.
        QVERIFY(QDir(scene.installDir() + u"Reports"_s).removeRecursively());
        QVERIFY(writeFile(scene.installDir() + u"Reports"_s, "in the way"));
        RunResult r;
        BATCH_STEP(scene.run({u"-restore_db"_s, u"/db_name:ostrel_copy"_s, u"/file:"_s + file,
                              u"/path_db:"_s + scene.path(u"restored"_s), u"/restore_file"_s},
                             r));
        QCOMPARE(r.exitCode, 1);
        const QStringList lines = r.errLines();
        const qsizetype summary =
            lines.indexOf(QRegularExpression(u"^База \"ostrel_copy\" восстановлена из файла .*"_s));
        QVERIFY2(summary >= 0 && summary < lines.indexOf(r.exceptionLines().value(0)),
                 qPrintable(r.err));
    }

    // The server's words alone would mislead: the run names what the script should change.
    void reasons()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString folder = scene.path(u"backups"_s);
        QVERIFY(QDir().mkpath(folder));
        RunResult r;
        BATCH_STEP(scene.run({u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + folder}, r));
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.exceptionLines().value(0),
                 exceptionPrefix + u"Не удалось создать резервную копию базы \"ostrel_ts\". \""_s +
                     folder +
                     u"\" — это папка, а не файл: укажите имя файла резервной копии в ней."_s);

        const QString file = folder + u"/ostrel_ts.bak"_s;
        QVERIFY(scene.exec(u"backup database ostrel_ts to disk = "_s + sqlText(file)));
        OdbcClient other;
        QVERIFY(other.connect(scene.port(), u"sa"_s, scene.password(), u"ostrel_ts"_s));
        BATCH_STEP(scene.run({u"-restore_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + file,
                              u"/path_db:"_s + scene.path(u"r"_s)},
                             r));
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.errLines().constLast(),
                 u"Чтобы отключить их перед восстановлением: параметр /close_connections."_s);
    }

    // Cron mail holds what happened and nothing else: no word from Qt without a runtime folder,
    // the verification's progress told from the backup's, the summary once.
    void quietLog()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        scene.environmentChange = [](QProcessEnvironment& env) {
            env.remove(u"XDG_RUNTIME_DIR"_s);
        };
        const QString file = scene.path(u"backups/quiet.bak"_s);
        RunResult r;
        BATCH_STEP(scene.run({u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/not_add_file"_s,
                              u"/verify"_s, u"/file:"_s + file},
                             r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QStringList checking;
        for (int percent = 10; percent <= 100; percent += 10)
            checking << u"Проверка: выполнено %1%"_s.arg(percent);
        const QStringList expected =
            QStringList{u"Создается резервная копия базы данных."_s} + percentLines() + checking +
            QStringList{u"Резервная копия проверена."_s, summaryLine.arg(file)};
        QCOMPARE(r.errLines(), expected);
    }
};

QTEST_GUILESS_MAIN(TestBatchScripts)
#include "tst_batchscripts.moc"
