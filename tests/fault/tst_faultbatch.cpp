// Faults met by a batch run: bin/dbsetup as a script starts it, against a simulator that drops
// the connection at a chosen request, and an installation folder the program may not write to.
// A failed run ends with exit code 1 and its error as the last stderr line, never hangs, and
// leaves every installed file as it was.
#include "BatchScene.h"

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace batch;

namespace {

const QString noConnection = u"Не удалось подключиться к базе данных."_s;
const QString restoreError = u"Не удалось восстановить базу."_s;
const QString backupError = u"Не удалось создать резервную копию базы \"ostrel_ts\"."_s;
const QString restoreSuccess = u"Настройка базы данных: База восстановлена."_s;

// The driver's words, or the program's, for a server that went away.
const QRegularExpression
    lostConnection(u"Соединение с сервером потеряно|Unexpected EOF from the server|"
                   u"Communication link failure|Read from the server failed|"
                   u"Write to the server failed"_s);

// A backup with the installation's files, made by the program itself, then an installation
// that has moved on.
void backUpAndChange(BatchScene& scene, const QString& backupFile)
{
    BATCH_STEP(backUpWithFiles(scene, backupFile));
    QVERIFY(writeFile(scene.installDir() + u"ostrel.ini"_s, "changed after the backup"));
    QVERIFY(writeFile(scene.installDir() + u"lib/tool.dll"_s, "a newer library"));
}

// Every installed file as it was or as the backup holds it; nothing left beside them.
void checkInstallation(BatchScene& scene, const QMap<QString, QByteArray>& before)
{
    QMap<QString, QByteArray> stored;
    for (const AppFile& file : appFiles())
        stored.insert(file.path, file.content);
    const QMap<QString, QByteArray> now = fileTree(scene.installDir());
    QCOMPARE(now.keys(), before.keys());
    for (auto it = now.begin(); it != now.end(); ++it)
        QVERIFY2(it.value() == before.value(it.key()) || it.value() == stored.value(it.key()),
                 qPrintable(it.key()));
}

enum class Run
{
    Backup,             // with the application files, as scripts run it
    BackupWithoutFiles, // "/not_add_file"
    Restore,            // into a new name, without the files
    RestoreWithFiles,   // into a new name, the files written back
};

} // namespace

class TestFaultBatch : public QObject
{
    Q_OBJECT

private slots:
    void serverDropped_data()
    {
        QTest::addColumn<int>("run");
        QTest::addColumn<QString>("arm"); // statements run just before the program starts
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // the error's own text ("" when it succeeds)
        QTest::addColumn<bool>("lostCause");  // the server's words about the loss follow it

        const auto row = [](const char* name, Run run, const QString& arm, int exitCode,
                            const QString& message, bool lostCause) {
            QTest::newRow(name) << static_cast<int>(run) << arm << exitCode << message << lostCause;
        };
        // Start-up's login and the batch's own: both refused.
        row("every login", Run::Backup,
            u"EXEC sqlsim_drop_next_login; EXEC sqlsim_drop_next_login"_s, 1, noConnection, false);
        // Only start-up's: the batch connects on its own and does its work.
        row("the start-up login", Run::Backup, u"EXEC sqlsim_drop_next_login"_s, 0, QString(),
            false);
        row("backup statement", Run::Backup, u"EXEC sqlsim_drop_connection N'BACKUP DATABASE', 0"_s,
            1, backupError, true);
        row("backup size query", Run::BackupWithoutFiles,
            u"EXEC sqlsim_drop_connection N'FILEPROPERTY', 0"_s, 1, QString(), true);
        // The question whether to go on without the files is answered yes on its own: the
        // backup is made over a new connection.
        row("storing files", Run::Backup,
            u"EXEC sqlsim_drop_connection N'INSERT INTO backup_files', 0"_s, 0, QString(), false);
        row("backup file list", Run::Restore,
            u"EXEC sqlsim_drop_connection N'RESTORE FILELISTONLY', 0"_s, 1, QString(), true);
        row("restore statement", Run::Restore,
            u"EXEC sqlsim_drop_connection N'restore database ', 0"_s, 1, restoreError, true);
        row("extraction, first read", Run::RestoreWithFiles,
            u"EXEC sqlsim_drop_connection N'FROM backup_files WHERE version', 0"_s, 1, QString(),
            true);
        row("extraction, after two files", Run::RestoreWithFiles,
            u"EXEC sqlsim_drop_connection N'FROM backup_files WHERE version', 2"_s, 1, QString(),
            true);
    }

    void serverDropped()
    {
        QFETCH(int, run);
        QFETCH(QString, arm);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(bool, lostCause);
        const auto kind = static_cast<Run>(run);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        const bool backup = kind == Run::Backup || kind == Run::BackupWithoutFiles;
        if (!backup)
            BATCH_STEP(backUpAndChange(scene, backupFile));
        const QMap<QString, QByteArray> before = fileTree(scene.installDir());
        const QStringList databasesBefore = scene.databases();
        QVERIFY(scene.exec(arm));

        QStringList arguments;
        if (backup) {
            arguments = {u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile};
            if (kind == Run::BackupWithoutFiles)
                arguments.append(u"/not_add_file"_s);
        } else {
            arguments = {u"-restore_db"_s, u"/db_name:ostrel_copy"_s, u"/file:"_s + backupFile,
                         u"/path_db:"_s + scene.path(u"restored"_s)};
            if (kind == Run::RestoreWithFiles)
                arguments.append(u"/restore_file"_s);
        }
        RunResult r;
        BATCH_STEP(scene.run(arguments, r));
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
        if (exitCode != 0) {
            const QStringList exceptions = r.exceptionLines();
            QVERIFY2(exceptions.size() == 1, qPrintable(r.err));
            // A refused connection's reason follows the error on a line of its own.
            const QStringList lines = r.errLines();
            QCOMPARE(lines.value(lines.size() - (message == noConnection ? 2 : 1)),
                     exceptions.first());
            const QString line = exceptions.first();
            if (!message.isEmpty())
                QVERIFY2(line.startsWith(exceptionPrefix + message), qPrintable(line));
            if (lostCause)
                QVERIFY2(line.contains(lostConnection), qPrintable(line));
            QVERIFY(!r.errHasLine(restoreSuccess));
            QVERIFY2(!r.err.contains(u"не содержала файлы программы"_s), qPrintable(r.err));
        } else {
            QVERIFY(r.exceptionLines().isEmpty());
        }
        if (backup) {
            QCOMPARE(QFileInfo::exists(backupFile), exitCode == 0);
            QCOMPARE(scene.databases(), databasesBefore);
        }
        if (arm.contains(u"sqlsim_drop_connection"_s))
            QVERIFY2(scene.log().contains(u"\nfault: connection closed"_s),
                     qPrintable(scene.log()));
        checkInstallation(scene, before);
    }

    // The installation folder cannot be written to: no installed file is touched, nothing is
    // left in it, and the run says so. As root, whom no permission stops, the program runs as
    // "nobody" through setpriv.
    void readOnlyInstallation()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        BATCH_STEP(backUpAndChange(scene, backupFile));
        const QMap<QString, QByteArray> before = fileTree(scene.installDir());

        const bool asRoot = ::geteuid() == 0;
        const QFile::Permissions readable = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                            QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QStringList folders;
        QDirIterator it(scene.installDir(), QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            folders.append(it.next());
        folders.append(scene.installDir());
        for (const QString& folder : std::as_const(folders))
            QVERIFY(QFile::setPermissions(folder, readable));
        if (asRoot) {
            // What "nobody" must reach: the program, its settings, the backup; the restore
            // folder is made for it beforehand, as its parent is root's.
            for (const QString& folder :
                 {scene.path(QString()), scene.path(u"prog"_s), scene.path(u"backups"_s)})
                QVERIFY(QFile::setPermissions(folder, readable));
            QVERIFY(QFile::setPermissions(backupFile, QFile::ReadOwner | QFile::ReadOther));
            QVERIFY(QDir().mkpath(scene.path(u"restored"_s)));
            QVERIFY(QFile::setPermissions(scene.path(u"restored"_s),
                                          readable | QFile::WriteOther | QFile::WriteOwner));
        }

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DISPLAY"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
        env.insert(u"XDG_RUNTIME_DIR"_s, QDir::tempPath());
        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QDir::tempPath());
        const QStringList arguments = {
            u"-restore_db"_s, u"/db_name:ostrel_copy"_s, u"/file:"_s + backupFile,
            u"/path_db:"_s + scene.path(u"restored"_s), u"/restore_file"_s};
        if (asRoot)
            process.start(u"setpriv"_s, QStringList{u"--reuid=nobody"_s, u"--regid=nogroup"_s,
                                                    u"--clear-groups"_s, scene.programFile()} +
                                            arguments);
        else
            process.start(scene.programFile(), arguments);
        QVERIFY2(process.waitForStarted(runTimeoutMs), qPrintable(process.errorString()));
        if (!process.waitForFinished(runTimeoutMs)) {
            process.kill();
            process.waitForFinished(runTimeoutMs);
            QFAIL("the program did not end");
        }
        const QString err = QString::fromUtf8(process.readAllStandardError());
        const QStringList lines = err.split(u'\n', Qt::SkipEmptyParts);
        for (const QString& folder : std::as_const(folders))
            QFile::setPermissions(folder, readable | QFile::WriteOwner);

        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 1, qPrintable(err));
        QVERIFY2(!lines.isEmpty() && lines.last().startsWith(exceptionPrefix), qPrintable(err));
        QVERIFY2(lines.last().contains(u"ostrel.ini"_s), qPrintable(err));
        QVERIFY(!err.contains(scene.password()));
        // The database itself was restored; the files were not.
        QVERIFY(scene.databases().contains(u"ostrel_copy"_s));
        QCOMPARE(fileTree(scene.installDir()), before);
    }
};

QTEST_GUILESS_MAIN(TestFaultBatch)
#include "tst_faultbatch.moc"
