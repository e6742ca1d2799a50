// What a script or an operator at a terminal sees of the program without its window: the usage and
// the version, the refusal of a window without a display, a batch run under a display that is
// gone, the reason of a refused connection and the one-line summary of a backup or restore.
#include "BatchScene.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace batch;

namespace {

const QString noDisplayLine =
    u"Окну программы нужен дисплей, а он недоступен (DISPLAY и WAYLAND_DISPLAY не заданы или "
    u"дисплей не отвечает). Без окна работают резервное копирование (-backup_db) и "
    u"восстановление (-restore_db): dbsetup --help."_s;
const QString noConnection = u"Не удалось подключиться к базе данных."_s;

// What the environment says about displays; the rest of the environment stays as it is.
enum class Display
{
    None,          // neither DISPLAY nor WAYLAND_DISPLAY
    LocalGone,     // DISPLAY=:N with no X server there
    TcpGone,       // DISPLAY=127.0.0.1:N, as ssh forwarding leaves it once the session ended
    WaylandGone,   // WAYLAND_DISPLAY naming a socket that does not exist
    OffscreenGone, // QT_QPA_PLATFORM=offscreen chosen, DISPLAY=:N with nothing there
    NoSuchPlugin,  // QT_QPA_PLATFORM naming a platform Qt has no plugin for
};

// Whether something accepts connections on the loopback TCP port.
bool loopbackPortAnswers(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return true;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool answers =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return answers;
}

// A display number with neither a local X socket nor a lock file nor anything on its TCP port.
int unusedDisplay()
{
    for (int n = 97; n < 200; ++n) {
        if (QFileInfo::exists(u"/tmp/.X11-unix/X%1"_s.arg(n)) ||
            QFileInfo::exists(u"/tmp/.X%1-lock"_s.arg(n)) || loopbackPortAnswers(6000 + n))
            continue;
        return n;
    }
    return -1;
}

QProcessEnvironment environment(Display display, const QString& runtimeDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"DISPLAY"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    env.remove(u"QT_QPA_PLATFORM"_s);
    env.remove(u"DBSETUP_QUIT_WHEN_SHOWN"_s);
    env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    env.insert(u"XDG_RUNTIME_DIR"_s, runtimeDir);
    env.insert(u"XDG_CONFIG_HOME"_s, runtimeDir + u"/user-config"_s);
    env.remove(u"DBSETUP_CONFIG_DIR"_s);
    const int n = unusedDisplay();
    switch (display) {
    case Display::None:
        break;
    case Display::LocalGone:
        env.insert(u"DISPLAY"_s, u":%1"_s.arg(n));
        break;
    case Display::TcpGone:
        env.insert(u"DISPLAY"_s, u"127.0.0.1:%1.0"_s.arg(n));
        break;
    case Display::WaylandGone:
        env.insert(u"WAYLAND_DISPLAY"_s, u"wayland-%1"_s.arg(n));
        break;
    case Display::OffscreenGone:
        env.insert(u"DISPLAY"_s, u":%1"_s.arg(n));
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        // The window is shown and the program ends on its own.
        env.insert(u"DBSETUP_QUIT_WHEN_SHOWN"_s, u"1"_s);
        break;
    case Display::NoSuchPlugin:
        // A GUI would make Qt end the process: a batch run must not start one at all.
        env.insert(u"QT_QPA_PLATFORM"_s, u"no-such-platform"_s);
        break;
    }
    return env;
}

// Runs a program file with the environment; secrets must appear in neither output.
void runProgram(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& env, const QString& workDir, const QStringList& secrets,
                RunResult& result)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workDir);
    process.start(program, arguments);
    QVERIFY2(process.waitForStarted(runTimeoutMs), qPrintable(process.errorString()));
    if (!process.waitForFinished(runTimeoutMs)) {
        process.kill();
        process.waitForFinished(runTimeoutMs);
        QFAIL(qPrintable(u"the program did not end: "_s + arguments.join(u' ')));
    }
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    // Qt aborts when it cannot open its display: that must never be how the program ends.
    QVERIFY2(process.exitStatus() == QProcess::NormalExit, qPrintable(result.err));
    result.exitCode = process.exitCode();
    for (const QString& secret : secrets) {
        QVERIFY2(!result.err.contains(secret), qPrintable(result.err));
        QVERIFY2(!result.out.contains(secret), qPrintable(result.out));
    }
}

void runInScene(BatchScene& scene, const QStringList& arguments, Display display, RunResult& result,
                const QStringList& secrets = {})
{
    runProgram(scene.programFile(), arguments, environment(display, scene.path(u"runtime"_s)),
               scene.path(QString()), QStringList{scene.password()} + secrets, result);
}

QString backupSummary(const QString& database, const QString& file)
{
    return u"Резервная копия базы \"%1\" записана в файл \"%2\"."_s.arg(database, file);
}

QString restoreSummary(const QString& database, const QString& file, bool replaced)
{
    return u"База \"%1\" восстановлена из файла \"%2\" (%3)."_s.arg(
        database, file, replaced ? u"заменена существующая база"_s : u"новая база"_s);
}

} // namespace

class TestBatchCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_runtime;

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        QFile::setPermissions(m_runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(unusedDisplay() > 0, "every display number from 97 on is taken");
    }

    // Usage and version on stdout, exit code 0, with or without a display that answers.
    void infoRequest_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("help");
        QTest::addColumn<int>("display");
        QTest::newRow("--help") << u"--help"_s << true << int(Display::None);
        QTest::newRow("-h") << u"-h"_s << true << int(Display::None);
        QTest::newRow("/?") << u"/?"_s << true << int(Display::None);
        QTest::newRow("-HELP under a display that is gone")
            << u"-HELP"_s << true << int(Display::LocalGone);
        QTest::newRow("--version") << u"--version"_s << false << int(Display::None);
        QTest::newRow("-v under a display that is gone")
            << u"-v"_s << false << int(Display::TcpGone);
    }

    void infoRequest()
    {
        QFETCH(QString, word);
        QFETCH(bool, help);
        QFETCH(int, display);

        RunResult r;
        BATCH_STEP(runProgram(QStringLiteral(DBSETUP_BIN), {word},
                              environment(static_cast<Display>(display), m_runtime.path()),
                              m_runtime.path(), {}, r));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        if (!help) {
            QCOMPARE(r.out, u"dbsetup "_s + QStringLiteral(DBSETUP_VERSION) + u'\n');
            return;
        }
        // Every option of each mode in that mode's part, each explained on a line of its own
        // (a list's indexOf() matches whole lines).
        const QStringList lines = r.out.split(u'\n');
        const QStringList common{
            u"/db_name"_s,           u"/file"_s,      u"/install_dir"_s,   u"/file_udl"_s,
            u"/connection_string"_s, u"/show_form"_s, u"/not_show_form"_s, u"/no_dialogs"_s};
        const QList<std::pair<QString, QStringList>> modes{
            {u"-backup_db"_s,
             common + QStringList{u"/add_file"_s, u"/not_add_file"_s, u"/verify"_s,
                                  u"/not_verify"_s, u"/copy_only"_s, u"/not_copy_only"_s}},
            {u"-restore_db"_s,
             common + QStringList{u"/path_db"_s, u"/restore_file"_s, u"/not_restore_file"_s,
                                  u"/replace_db"_s, u"/not_replace_db"_s, u"/close_connections"_s,
                                  u"/not_close_connections"_s}},
        };
        for (const auto& [mode, options] : modes) {
            QVERIFY2(lines.indexOf(QRegularExpression(u"^  dbsetup "_s + mode +
                                                      u" \\[\\S+\\]\\s+\\S.*"_s)) >= 0,
                     qPrintable(mode));
            const qsizetype first = lines.indexOf(QRegularExpression(u".* "_s + mode + u":"_s));
            QVERIFY2(first >= 0, qPrintable(mode));
            const QStringList part = lines.mid(first + 1, lines.indexOf(QString(), first) - first);
            for (const QString& option : options) {
                const QRegularExpression explained(u"^  "_s + QRegularExpression::escape(option) +
                                                   u"(:\\S+)?\\s+\\S.*"_s);
                QVERIFY2(part.indexOf(explained) >= 0, qPrintable(mode + u' ' + option));
            }
        }
        // Every exit code, and where a script keeps its password instead of the command line.
        for (const QString& code : {u"0"_s, u"1"_s, u"2"_s, u"129"_s, u"130"_s, u"143"_s})
            QVERIFY2(lines.indexOf(QRegularExpression(u"^  (\\d+, )*"_s + code +
                                                      u"(, \\d+)*  +\\S.*"_s)) >= 0,
                     qPrintable(code));
        QVERIFY(r.out.contains(u"DBSETUP_PASSWORD"_s));
        QVERIFY(r.out.contains(u"QT_QPA_PLATFORM"_s));
        // Two whole scripts: a nightly backup and a test copy restored.
        QVERIFY(lines.indexOf(QRegularExpression(u"^  dbsetup -backup_db .*/db_name:\\S+.*"_s)) >=
                0);
        QVERIFY(lines.indexOf(QRegularExpression(u"^  dbsetup -restore_db .*"_s)) >= 0);
        QVERIFY(lines.indexOf(QRegularExpression(u"^\\s+/file:.* /path_db:\\S+.*"_s)) >= 0);
    }

    // The window needs a display; without one that answers the program says so and ends with 2,
    // instead of Qt's abort; a first word that looks like a mistyped mode is named instead. A
    // platform chosen by the caller is left to Qt when Qt has a plugin for it.
    void windowWithoutDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("display");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("line");
        QTest::newRow("no display") << QStringList() << int(Display::None) << 2 << noDisplayLine;
        QTest::newRow("local display gone")
            << QStringList() << int(Display::LocalGone) << 2 << noDisplayLine;
        QTest::newRow("ssh display gone")
            << QStringList() << int(Display::TcpGone) << 2 << noDisplayLine;
        QTest::newRow("wayland display gone")
            << QStringList() << int(Display::WaylandGone) << 2 << noDisplayLine;
        QTest::newRow("a mistyped mode")
            << QStringList{u"/backup_db"_s, u"/db_name:ostrel_ts"_s} << int(Display::None) << 2
            << u"\"/backup_db\" — не режим программы: резервное копирование — -backup_db, "
               u"восстановление — -restore_db (dbsetup --help)."_s;
        QTest::newRow("offscreen chosen")
            << QStringList() << int(Display::OffscreenGone) << 0 << QString();
        QTest::newRow("no such platform plugin")
            << QStringList() << int(Display::NoSuchPlugin) << 2 << noDisplayLine;
    }

    void windowWithoutDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, display);
        QFETCH(int, exitCode);
        QFETCH(QString, line);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        RunResult r;
        BATCH_STEP(runInScene(scene, arguments, static_cast<Display>(display), r));
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
        QCOMPARE(r.out, QString());
        if (exitCode == 2) {
            QCOMPARE(r.errLines(), QStringList{line});
            // Nothing reached the server: the program ended before its start-up.
            QVERIFY(!scene.log().contains(u"sysdatabases"_s, Qt::CaseInsensitive));
        }
    }

    // A batch run does its work whatever display the environment names, on stderr.
    void batchWithoutDisplay_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<int>("display");
        QTest::newRow("backup, no display") << false << int(Display::None);
        QTest::newRow("backup, local display gone") << false << int(Display::LocalGone);
        QTest::newRow("backup, ssh display gone") << false << int(Display::TcpGone);
        QTest::newRow("backup, wayland display gone") << false << int(Display::WaylandGone);
        QTest::newRow("restore, local display gone") << true << int(Display::LocalGone);
        QTest::newRow("restore, ssh display gone") << true << int(Display::TcpGone);
        QTest::newRow("backup, no such platform plugin") << false << int(Display::NoSuchPlugin);
        QTest::newRow("restore, no such platform plugin") << true << int(Display::NoSuchPlugin);
    }

    void batchWithoutDisplay()
    {
        QFETCH(bool, restore);
        QFETCH(int, display);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        RunResult r;
        if (restore) {
            BATCH_STEP(scene.serverBackup(backupFile));
            BATCH_STEP(
                runInScene(scene,
                           {u"-restore_db"_s, u"/db_name:ostrel_copy"_s, u"/file:"_s + backupFile,
                            u"/path_db:"_s + scene.path(u"restored"_s)},
                           static_cast<Display>(display), r));
        } else {
            BATCH_STEP(runInScene(
                scene, {u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile},
                static_cast<Display>(display), r));
        }
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.exceptionLines().isEmpty(), qPrintable(r.err));
        if (restore) {
            QCOMPARE(scene.clients(u"ostrel_copy"_s), scene.clients(u"ostrel_ts"_s));
            QVERIFY2(r.errHasLine(restoreSummary(u"ostrel_copy"_s, backupFile, false)),
                     qPrintable(r.err));
        } else {
            QVERIFY(QFileInfo(backupFile).isFile());
            QVERIFY2(r.errHasLine(backupSummary(u"ostrel_ts"_s, backupFile)), qPrintable(r.err));
        }
    }

    // A refused connection: the error line, then the server's or driver's reason on its own
    // line, and never the password that was tried.
    void connectionFailure_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("settingsPassword"); // "" keeps the simulator's
        QTest::addColumn<bool>("unreachable");         // settings.ini names a dead port
        QTest::addColumn<QString>("reason");           // a pattern the reason line matches

        const QString refused = u"Login failed for user 'sa'"_s;
        QTest::newRow("wrong password in settings.ini")
            << QStringList{u"/db_name:ostrel_ts"_s} << u"Wrong-Secret-81"_s << false << refused;
        QTest::newRow("wrong password in /connection_string")
            << QStringList{u"/connection_string:Data Source=%server%;User ID=sa;"
                           u"Password=Wrong-Secret-82"_s}
            << QString() << false << refused;
        QTest::newRow("server not reachable")
            << QStringList{u"/db_name:ostrel_ts"_s} << QString() << true << u"\\S"_s;
    }

    void connectionFailure()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, settingsPassword);
        QFETCH(bool, unreachable);
        QFETCH(QString, reason);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        if (unreachable) {
            SqlsimProcess other;
            QVERIFY(other.start());
            const quint16 port = other.port();
            other.stop();
            BATCH_STEP(scene.writeSettings(u"127.0.0.1,%1"_s.arg(port)));
        } else if (!settingsPassword.isEmpty()) {
            BATCH_STEP(scene.writeSettings({}, settingsPassword));
        }
        options.replaceInStrings(u"%server%"_s, scene.server());
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        RunResult r;
        BATCH_STEP(runInScene(scene,
                              QStringList{u"-backup_db"_s, u"/file:"_s + backupFile} + options,
                              Display::None, r, {u"Wrong-Secret-81"_s, u"Wrong-Secret-82"_s}));
        QVERIFY2(r.exitCode == 1, qPrintable(r.err));
        const QStringList lines = r.errLines();
        QVERIFY2(lines.size() >= 2, qPrintable(r.err));
        QCOMPARE(lines.at(lines.size() - 2), exceptionPrefix + noConnection);
        QVERIFY2(lines.last().contains(QRegularExpression(reason)), qPrintable(r.err));
        QVERIFY2(!lines.last().startsWith(u"Exception "_s), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(backupFile));
    }

    // Where the settings come from: the folder named on the command line or in the environment,
    // else the program's own folder when it holds them, else the user's folder, made with a
    // template on first start. A named folder that is missing stops the run before the server.
    void settingsFolder_data()
    {
        QTest::addColumn<QString>("settingsIn"); // conf, prog or none
        QTest::addColumn<QStringList>("before"); // arguments before the mode
        QTest::addColumn<QStringList>("after");  // arguments after the options
        QTest::addColumn<QString>("environment");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>(
            "used"); // the folder that ends up with settings: conf, prog, user
        const QString conf = u"%root%/conf"_s;
        QTest::newRow("--config DIR") << u"conf"_s << QStringList{u"--config"_s, conf}
                                      << QStringList() << QString() << 0 << u"conf"_s;
        QTest::newRow("--config=DIR after the options")
            << u"conf"_s << QStringList() << QStringList{u"--config="_s + conf} << QString() << 0
            << u"conf"_s;
        QTest::newRow("DBSETUP_CONFIG_DIR")
            << u"conf"_s << QStringList() << QStringList() << conf << 0 << u"conf"_s;
        QTest::newRow("--config wins over DBSETUP_CONFIG_DIR")
            << u"conf"_s << QStringList{u"--config"_s, conf} << QStringList() << u"%root%/missing"_s
            << 0 << u"conf"_s;
        QTest::newRow("settings beside the program")
            << u"prog"_s << QStringList() << QStringList() << QString() << 0 << u"prog"_s;
        QTest::newRow("none: the user's folder, made")
            << u"none"_s << QStringList() << QStringList() << QString() << 0 << u"user"_s;
        QTest::newRow("--config naming a missing folder")
            << u"conf"_s << QStringList{u"--config"_s, u"%root%/missing"_s} << QStringList()
            << QString() << 2 << QString();
        QTest::newRow("DBSETUP_CONFIG_DIR naming a missing folder")
            << u"prog"_s << QStringList() << QStringList() << u"%root%/missing"_s << 2 << QString();
        QTest::newRow("--config without a folder")
            << u"prog"_s << QStringList() << QStringList{u"--config"_s} << QString() << 2
            << QString();
    }

    void settingsFolder()
    {
        QFETCH(QString, settingsIn);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QString, environment);
        QFETCH(int, exitCode);
        QFETCH(QString, used);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString root = QDir::cleanPath(scene.path(QString()));
        const QString userFolder = scene.path(u"user-config/dbsetup/"_s);
        const QString beside = scene.programDir() + u"settings.ini"_s;
        if (settingsIn != u"prog"_s) {
            QVERIFY(QDir().mkpath(scene.path(u"conf"_s)));
            if (settingsIn == u"conf"_s)
                QVERIFY(QFile::copy(beside, scene.path(u"conf/settings.ini"_s)));
            QVERIFY(QFile::remove(beside));
        }
        before.replaceInStrings(u"%root%"_s, root);
        after.replaceInStrings(u"%root%"_s, root);
        environment.replace(u"%root%"_s, root);
        scene.environmentChange = [environment](QProcessEnvironment& env) {
            if (!environment.isEmpty())
                env.insert(u"DBSETUP_CONFIG_DIR"_s, environment);
        };
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        // With no settings at all the server comes from the command line.
        const QStringList login =
            settingsIn == u"none"_s
                ? QStringList{u"/connection_string:"_s + scene.connectionString()}
                : QStringList();
        RunResult r;
        BATCH_STEP(scene.run(before +
                                 QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s,
                                             u"/not_add_file"_s, u"/file:"_s + backupFile} +
                                 login + after,
                             r));
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
        QCOMPARE(QFileInfo(backupFile).isFile(), exitCode == 0);
        QCOMPARE(QFileInfo::exists(userFolder), used == u"user"_s);
        if (exitCode == 2) {
            QCOMPARE(r.errLines().size(), 1);
            QVERIFY2(!scene.log().contains(u"BACKUP"_s, Qt::CaseInsensitive), qPrintable(r.err));
            return;
        }
        if (used == u"user"_s) {
            // Every key of the template is commented out: the defaults hold until the operator
            // writes one.
            const QString made = QString::fromUtf8(readFile(userFolder + u"settings.ini"_s));
            QVERIFY(made.contains(u";server=.\\sqlexpress"_s));
            for (const QString& line : made.split(u'\n'))
                QVERIFY2(line.isEmpty() || line.startsWith(u';') || line.startsWith(u'['),
                         qPrintable(line));
        }
    }

    // What was made, on stderr, whether or not the progress and the message boxes were asked for.
    void summary_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QString>("database");
        QTest::addColumn<bool>("exists"); // the restored name is taken before the run
        QTest::addColumn<QString>("flag");
        QTest::newRow("backup, /not_show_form")
            << false << u"ostrel_ts"_s << true << u"/not_show_form"_s;
        QTest::newRow("backup, /show_form") << false << u"ostrel_ts"_s << true << u"/show_form"_s;
        QTest::newRow("restore as a new database")
            << true << u"ostrel_copy"_s << false << u"/not_show_form"_s;
        QTest::newRow("restore over an existing database")
            << true << u"ostrel_copy"_s << true << u"/not_show_form"_s;
        QTest::newRow("restore over itself, /show_form")
            << true << u"ostrel_ts"_s << true << u"/show_form"_s;
        QTest::newRow("a quote in the name, new")
            << true << u"it's copy"_s << false << u"/not_show_form"_s;
        QTest::newRow("a quote in the name, replaced")
            << true << u"it's copy"_s << true << u"/not_show_form"_s;
    }

    void summary()
    {
        QFETCH(bool, restore);
        QFETCH(QString, database);
        QFETCH(bool, exists);
        QFETCH(QString, flag);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        RunResult r;
        if (!restore) {
            BATCH_STEP(runInScene(
                scene, {u"-backup_db"_s, u"/db_name:"_s + database, u"/file:"_s + backupFile, flag},
                Display::None, r));
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QVERIFY(QFileInfo(backupFile).isFile());
            QCOMPARE(r.errLines().filter(u"Резервная копия базы"_s),
                     QStringList{backupSummary(database, backupFile)});
            return;
        }
        BATCH_STEP(scene.serverBackup(backupFile));
        if (exists && database != u"ostrel_ts"_s)
            BATCH_STEP(scene.createDatabase(database));
        QCOMPARE(scene.databases().contains(database), exists);
        BATCH_STEP(
            runInScene(scene,
                       {u"-restore_db"_s, u"/db_name:"_s + database, u"/file:"_s + backupFile,
                        u"/path_db:"_s + scene.path(u"restored"_s), flag},
                       Display::None, r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(scene.databases().contains(database));
        QCOMPARE(r.errLines().filter(u"восстановлена из файла"_s),
                 QStringList{restoreSummary(database, backupFile, exists)});
    }

    // A restore that did not happen reports nothing as restored, and the database that holds the
    // name stays as it was.
    void noSummaryOnFailure_data()
    {
        QTest::addColumn<QStringList>("options");
        // The server refuses to put a backup over another database without REPLACE.
        QTest::newRow("name taken by another database, /not_replace_db")
            << QStringList{u"/db_name:ostrel_copy"_s, u"/not_replace_db"_s};
        QTest::newRow("backup file missing")
            << QStringList{u"/db_name:ostrel_copy"_s, u"/file:%root%/none.bak"_s};
    }

    void noSummaryOnFailure()
    {
        QFETCH(QStringList, options);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        BATCH_STEP(scene.serverBackup(backupFile));
        BATCH_STEP(scene.createDatabase(u"ostrel_copy"_s));
        QVERIFY(scene.exec(u"delete from clients where id = 2"_s, u"ostrel_copy"_s));
        const QStringList before = scene.clients(u"ostrel_copy"_s);
        options.replaceInStrings(u"%root%"_s, scene.path(QString()).chopped(1));
        RunResult r;
        BATCH_STEP(runInScene(scene,
                              QStringList{u"-restore_db"_s, u"/file:"_s + backupFile,
                                          u"/path_db:"_s + scene.path(u"restored"_s),
                                          u"/not_show_form"_s} +
                                  options,
                              Display::None, r));
        QVERIFY2(r.exitCode == 1, qPrintable(r.err));
        QCOMPARE(r.exceptionLines().size(), 1);
        QVERIFY2(r.errLines().filter(u"восстановлена"_s).isEmpty(), qPrintable(r.err));
        QCOMPARE(scene.clients(u"ostrel_copy"_s), before);
    }
};

QTEST_GUILESS_MAIN(TestBatchCli)
#include "tst_batchcli.moc"
