#pragma once

// The batch mode as a nightly script runs it: bin/dbsetup copied into a program folder of its
// own (it reads settings.ini beside its real path, so a link would not do), a simulator with a
// request log, an installation folder, and the program started as a process without a display.
#include "OdbcClient.h"
#include "SqlsimProcess.h"
#include "TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

namespace batch {

using namespace Qt::StringLiterals;

// Generous: a sanitizer build on a loaded machine is slow, and only a hung program waits this
// long.
constexpr int runTimeoutMs = 120'000;
// Files of this size or larger are never stored (settings.ini of every scene).
constexpr int maxSizeAddDB = 4096;
inline const QString exceptionPrefix = u"Exception MyException in module dbsetup at 00000000. "_s;

struct RunResult
{
    int exitCode = -1;
    QString out;
    QString err;
    QStringList errLines() const { return err.split(u'\n', Qt::SkipEmptyParts); }
    bool errHasLine(const QString& line) const { return errLines().contains(line); }
    // The lines that report an error that ended the run.
    QStringList exceptionLines() const
    {
        return errLines().filter(QRegularExpression(u"^Exception "_s));
    }
};

// The server's progress of a backup or restore (STATS = 10), a line each.
inline QStringList percentLines()
{
    QStringList lines;
    for (int percent = 10; percent <= 100; percent += 10)
        lines.append(u"Выполнено %1%"_s.arg(percent));
    return lines;
}

// The stored form of a relative path: Windows separators, and "\" and '"' doubled.
inline QString storedPath(const QString& relative)
{
    QString path = relative;
    path.replace(u'/', u'\\');
    path.replace(u"\\"_s, u"\\\\"_s);
    path.replace(u"\""_s, u"\"\""_s);
    return path;
}

inline QString sqlText(const QString& text)
{
    return u"N'"_s + QString(text).replace(u"'"_s, u"''"_s) + u'\'';
}

inline QString bracketed(const QString& name)
{
    return u'[' + QString(name).replace(u"]"_s, u"]]"_s) + u']';
}

inline QByteArray utf16le(const QString& text)
{
    QByteArray bytes("\xff\xfe", 2);
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return bytes;
}

// A UDL file as Windows writes it.
inline QByteArray udlFile(const QString& initString)
{
    return utf16le(u"[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"_s +
                   initString + u"\r\n"_s);
}

// The installation folder of every scene: what a backup stores and what it leaves out.
struct AppFile
{
    QString path;
    QByteArray content;
    bool storedByDefault; // with the built-in exclusion list and the size limit above
};

inline QList<AppFile> appFiles()
{
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary.append(static_cast<char>(i));
    return {
        {u"ostrel.exe"_s, "stand-in for the application, no version resource\n", true},
        {u"ostrel.ini"_s, u"[Main]\r\nОрганизация=ООО «Северный ветер»\r\n"_s.toUtf8(), true},
        {u"Шаблоны/Счёт на оплату.txt"_s, u"Счёт № {номер}\n"_s.toUtf8(), true},
        {u"Reports/orders.rpt"_s, "orders report\n", true},
        {u"Reports/Default.UDL"_s, "[oledb]\r\n", false},
        {u"Data/old_copy.mdf"_s, "old data file", false},
        {u"Data/old_copy_log.LDF"_s, "old log file", false},
        {u"nightly.bak"_s, "an old backup", false},
        {u"LICENSE"_s, "no dot in the name: never stored\n", false},
        {u"docs.v2/README"_s, "a dot in the folder only\n", false},
        {u"big.dat"_s, QByteArray(maxSizeAddDB, 'b'), false},
        {u"limit.dat"_s, QByteArray(maxSizeAddDB - 1, 'l'), true},
        {u"trace.log"_s, "trace\n", true},
        {u"it's.txt"_s, "quote in the name\n", true},
        {u"say \"hi\".txt"_s, "double quotes in the name\n", true},
        {u".hidden.cfg"_s, "hidden\n", true},
        {u".config/state.json"_s, "{}\n", true},
        {u"empty.txt"_s, QByteArray(), true},
        {u"lib/tool.dll"_s, binary, true},
    };
}

class BatchScene
{
public:
    // The simulator (with a request log), the program folder with settings.ini, the installation
    // folder with appFiles() and the database ostrel_ts with its files outside that folder.
    void setUp(bool withDatabase = true, const QStringList& simArgs = {})
    {
        QVERIFY(m_root.isValid());
        QVERIFY(QDir().mkpath(path(u"runtime"_s)));
        QVERIFY(QDir().mkpath(path(u"server"_s)));
        QFile::setPermissions(path(u"runtime"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(m_sim.start(QStringList{u"--log"_s, logPath()} + simArgs, path(u"server"_s)),
                 m_sim.stderrText().constData());
        QVERIFY(QDir().mkpath(path(u"prog"_s)));
        QVERIFY(QFile::copy(QStringLiteral(DBSETUP_BIN), programFile()));
        QFile::setPermissions(programFile(),
                              QFile::permissions(programFile()) | QFile::ExeOwner | QFile::ExeUser);
        writeSettings();
        for (const AppFile& file : appFiles())
            QVERIFY(writeFile(installDir() + file.path, file.content));
        if (withDatabase)
            createDatabase(u"ostrel_ts"_s);
    }

    QString path(const QString& relative) const { return m_root.filePath(relative); }
    QString programDir() const { return path(u"prog"_s) + u'/'; }
    QString programFile() const { return programDir() + u"dbsetup"_s; }
    QString installDir() const { return path(u"app"_s) + u'/'; }
    QString logPath() const { return path(u"sim.log"_s); }
    quint16 port() const { return m_sim.port(); }
    QString password() const { return m_sim.password(); }
    QString server() const { return u"127.0.0.1,%1"_s.arg(port()); }
    SqlsimProcess& sim() { return m_sim; }

    // A connection string of this simulator as the program's login.
    QString connectionString(const QString& more = {}) const
    {
        return u"Data Source="_s + server() + u";User ID="_s + SqlsimProcess::programLogin() +
               u";Password="_s + password() + more;
    }

    // Values are written as they are: a password may hold anything but a line break.
    void writeSettings(const QString& serverText = {}, const QString& userPassword = {},
                       const QString& userName = SqlsimProcess::programLogin())
    {
        const QString text = u"[db]\r\nserver="_s + (serverText.isEmpty() ? server() : serverText) +
                             u"\r\nuser_name="_s + userName + u"\r\npassword="_s +
                             (userPassword.isEmpty() ? password() : userPassword) +
                             u"\r\n[other]\r\ninstall_dir="_s + installDir() +
                             u"\r\nmax_size_file_add_db="_s + QString::number(maxSizeAddDB) +
                             u"\r\nappr_name_path_name=%install_dir%ostrel.exe\r\n"_s;
        QVERIFY(writeFile(programDir() + u"settings.ini"_s, text.toUtf8()));
    }

    // A database with its files in dbfiles/ and a table of two rows.
    void createDatabase(const QString& name)
    {
        const QString files = path(u"dbfiles/"_s);
        QVERIFY(QDir().mkpath(files));
        QVERIFY(exec(u"create database %1 on (name = %2, filename = %3) log on (name = %4, "
                     u"filename = %5)"_s.arg(
                         bracketed(name), sqlText(name), sqlText(files + name + u".mdf"_s),
                         sqlText(name + u"_log"_s), sqlText(files + name + u"_log.ldf"_s))));
        QVERIFY(exec(u"create table clients (id int not null primary key, name nvarchar(100))"_s,
                     name));
        QVERIFY(exec(u"insert into clients (id, name) values (1, N'ООО «Северный ветер»'), "
                     u"(2, N'АО «Балтийская логистика»')"_s,
                     name));
    }

    OdbcResult query(const QString& sql, const QString& database = {})
    {
        return m_sim.query(sql, database);
    }
    bool exec(const QString& sql, const QString& database = {})
    {
        return m_sim.exec(sql, database);
    }
    // A backup of ostrel_ts made by the server directly, for the restore cases.
    void serverBackup(const QString& file)
    {
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        QVERIFY(exec(u"backup database ostrel_ts to disk = "_s + sqlText(file)));
    }
    // "id|name" rows of a database's table, or nothing when it cannot be read.
    QStringList clients(const QString& database)
    {
        return m_sim.rows(u"select id, name from clients order by id"_s, database);
    }
    QStringList databases() { return m_sim.rows(u"select name from sysdatabases"_s); }

    // Everything the simulator received so far; statements keep their own line breaks.
    QString log() const { return QString::fromUtf8(readFile(logPath())); }

    // Texts no output of the program may show, besides the simulator's password.
    void addSecret(const QString& text) { m_secrets.append(text); }

    // What a run's environment has otherwise (a display, a password, no runtime folder).
    std::function<void(QProcessEnvironment& env)> environmentChange;
    // A program the run goes through, with its arguments ("setpriv", "--reuid=…"); empty: none.
    QStringList launcher;

    // Runs the program unattended: no display, no platform chosen, so it talks on stderr.
    // window: the interactive case instead, on the offscreen platform, ending once shown.
    void run(const QStringList& arguments, RunResult& result, bool window = false)
    {
        QProcess process;
        start(process, arguments, window);
        finish(process, arguments, result);
    }

    // Runs the program unattended and, once a line of stderr holds mark, does atMark with the
    // program's process id while the program works on (sends it a signal, looks at the server).
    void runUntil(const QStringList& arguments, const QString& mark,
                  const std::function<void(qint64 pid)>& atMark, RunResult& result)
    {
        QProcess process;
        start(process, arguments, false);
        process.setReadChannel(QProcess::StandardError);
        QByteArray seen;
        while (!QString::fromUtf8(seen).contains(mark)) {
            if (!process.waitForReadyRead(runTimeoutMs)) {
                process.waitForFinished(runTimeoutMs);
                QFAIL(qPrintable(u"the program ended before it printed \"%1\": %2"_s.arg(
                    mark, QString::fromUtf8(seen + process.readAllStandardError()))));
            }
            seen += process.readAllStandardError();
        }
        atMark(process.processId());
        finish(process, arguments, result);
        result.err.prepend(QString::fromUtf8(seen));
    }

private:
    void start(QProcess& process, const QStringList& arguments, bool window)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DISPLAY"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
        // Qt warns on stderr without a runtime folder; a session would have one.
        env.insert(u"XDG_RUNTIME_DIR"_s, path(u"runtime"_s));
        // Without a settings.ini beside it the program would use the user's own folder.
        env.insert(u"XDG_CONFIG_HOME"_s, path(u"user-config"_s));
        env.remove(u"DBSETUP_CONFIG_DIR"_s);
        if (window) {
            env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
            env.insert(u"DBSETUP_QUIT_WHEN_SHOWN"_s, u"1"_s);
        }
        if (environmentChange)
            environmentChange(env);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(path(QString()));
        process.start(launcher.isEmpty() ? programFile() : launcher.first(),
                      launcher.isEmpty()
                          ? arguments
                          : launcher.mid(1) + QStringList{programFile()} + arguments);
        QVERIFY2(process.waitForStarted(runTimeoutMs), qPrintable(process.errorString()));
    }

    void finish(QProcess& process, const QStringList& arguments, RunResult& result)
    {
        if (!process.waitForFinished(runTimeoutMs)) {
            process.kill();
            process.waitForFinished(runTimeoutMs);
            QFAIL(qPrintable(
                u"the program did not end within %1 s: %2\n%3"_s.arg(runTimeoutMs / 1000)
                    .arg(arguments.join(u' '), QString::fromUtf8(process.readAllStandardError()))));
        }
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit, qPrintable(result.err));
        result.exitCode = process.exitCode();
        for (const QString& secret : QStringList{password()} + m_secrets) {
            QVERIFY2(!result.err.contains(secret), qPrintable(result.err));
            QVERIFY2(!result.out.contains(secret), qPrintable(result.out));
        }
    }

    QTemporaryDir m_root;
    SqlsimProcess m_sim;
    QStringList m_secrets;
};

// The stored files of a database: stored path (blanks the server pads with removed) to content;
// versions collects the version column.
inline QMap<QString, QByteArray> storedFiles(BatchScene& scene, const QString& database,
                                             QList<QVariant>* versions = nullptr)
{
    const OdbcResult r =
        scene.query(u"select path, version, file_data from backup_files"_s, database);
    QMap<QString, QByteArray> files;
    if (!r.ok || r.resultSets.isEmpty())
        return files;
    for (const QList<QVariant>& row : r.resultSets.first().rows) {
        QString path = row.at(0).toString();
        while (path.endsWith(u' '))
            path.chop(1);
        files.insert(path, row.at(2).toByteArray());
        if (versions != nullptr)
            versions->append(row.at(1));
    }
    return files;
}

// A backup of ostrel_ts with the installation's files, made by the program itself.
inline void backUpWithFiles(BatchScene& scene, const QString& backupFile)
{
    RunResult r;
    scene.run(
        {u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile, u"/not_show_form"_s},
        r);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QVERIFY(QFileInfo(backupFile).isFile());
}

} // namespace batch

// Runs a scene step and stops the test when it failed.
#define BATCH_STEP(statement)                                                                      \
    do {                                                                                           \
        statement;                                                                                 \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)
