// "-restore_db" as a script runs it: the database restored under another name into another
// folder, and the stored application files written back only when asked for.
#include "BatchScene.h"
#include "ReconnectingClient.h"

using namespace Qt::StringLiterals;
using namespace batch;

namespace {

const QString progressTitle = u"Восстанавливается резервная копия базы данных."_s;
// A run without a display names what it restored, whatever the progress flag.
const QString newCopySummary =
    u"База \"ostrel_copy\" восстановлена из файла \"%1\" (новая база)."_s;
const QString noFilesWarning = u"Внимание: Восстановление базы прошло успешно. Резервная копия не "
                               u"содержала файлы программы."_s;

constexpr QFile::Permissions readOnly =
    QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup | QFile::ReadOther;

} // namespace

class TestBatchRestore : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<bool>("otherInstallDir");
        QTest::newRow("into the installation folder") << false;
        QTest::newRow("into a new folder given by /install_dir") << true;
    }

    void roundTrip()
    {
        QFETCH(bool, otherInstallDir);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString app = scene.installDir();
        const QMap<QString, QByteArray> backedUp = fileTree(app);
        const QStringList clientsBackedUp = scene.clients(u"ostrel_ts"_s);
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        BATCH_STEP(backUpWithFiles(scene, backupFile));

        // The installation and the database go on after the backup.
        QVERIFY(scene.exec(u"insert into clients (id, name) values (3, N'ИП Соколова')"_s,
                           u"ostrel_ts"_s));
        QVERIFY(writeFile(app + u"ostrel.ini"_s, "changed after the backup"));
        QVERIFY(QFile::setPermissions(app + u"ostrel.ini"_s, readOnly));
        QVERIFY(QDir(app + u"Шаблоны"_s).removeRecursively());
        QVERIFY(QFile::remove(app + u"say \"hi\".txt"_s));
        QVERIFY(writeFile(app + u"lib/tool.dll"_s, "a newer library"));
        // Files the store does not hold stay as they are now.
        QVERIFY(writeFile(app + u"notes.txt"_s, "added after the backup"));
        QVERIFY(QFile::setPermissions(app + u"notes.txt"_s, readOnly));
        QVERIFY(writeFile(app + u"LICENSE"_s, "a new licence"));
        QVERIFY(writeFile(app + u"big.dat"_s, QByteArray(maxSizeAddDB * 2, 'B')));
        const QMap<QString, QByteArray> changed = fileTree(app);

        const QString folder = scene.path(u"restored/Data.2024"_s);
        const QString fresh = scene.path(u"fresh install"_s);
        QStringList arguments = {u"-restore_db"_s, u"/db_name:ostrel_copy"_s,
                                 u"/file:"_s + backupFile, u"/path_db:"_s + folder,
                                 u"/restore_file"_s};
        if (otherInstallDir)
            arguments.append(u"/install_dir:"_s + fresh);
        RunResult r;
        BATCH_STEP(scene.run(arguments, r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(r.errLines(), (QStringList{progressTitle} + percentLines() +
                                QStringList{newCopySummary.arg(backupFile)}));

        QMap<QString, QByteArray> stored;
        for (const AppFile& file : appFiles()) {
            if (file.storedByDefault)
                stored.insert(file.path, file.content);
        }
        if (otherInstallDir) {
            QCOMPARE(fileTree(fresh), stored);
            QCOMPARE(fileTree(app), changed);
        } else {
            QMap<QString, QByteArray> expected = backedUp;
            for (const QString& untouched : {u"notes.txt"_s, u"LICENSE"_s, u"big.dat"_s})
                expected.insert(untouched, changed.value(untouched));
            QCOMPARE(fileTree(app), expected); // nothing left aside or half written either
            QVERIFY(!(QFile::permissions(app + u"notes.txt"_s) & QFile::WriteOwner));
        }

        QVERIFY(QFileInfo(folder + u"/ostrel_ts.mdf"_s).isFile());
        QVERIFY(QFileInfo(folder + u"/ostrel_ts_log.ldf"_s).isFile());
        QCOMPARE(scene.clients(u"ostrel_copy"_s), clientsBackedUp);
        QCOMPARE(scene.clients(u"ostrel_ts"_s).size(), 3);
        const QString restore = u"batch: restore database [ostrel_copy] from disk=N'"_s +
                                backupFile + u"' with \r\n move N'ostrel_ts' to N'"_s + folder +
                                u"/ostrel_ts.mdf', move N'ostrel_ts_log' to N'"_s + folder +
                                u"/ostrel_ts_log.ldf', Replace, STATS = 10\n"_s;
        QVERIFY2(scene.log().contains(restore), qPrintable(scene.log()));
    }

    // Extraction is off unless "/restore_file" is the last word on it.
    void extractionOption_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("extracted");
        QTest::newRow("no option") << QStringList() << false;
        QTest::newRow("/restore_file") << QStringList{u"/restore_file"_s} << true;
        QTest::newRow("/not_restore_file after /restore_file")
            << QStringList{u"/restore_file"_s, u"/not_restore_file"_s} << false;
        QTest::newRow("/restore_file after /not_restore_file")
            << QStringList{u"/not_restore_file"_s, u"/restore_file"_s} << true;
        QTest::newRow("/RESTORE_FILE") << QStringList{u"/RESTORE_FILE"_s} << true;
    }

    void extractionOption()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, extracted);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString app = scene.installDir();
        const QMap<QString, QByteArray> backedUp = fileTree(app);
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        BATCH_STEP(backUpWithFiles(scene, backupFile));
        QVERIFY(writeFile(app + u"ostrel.ini"_s, "changed after the backup"));
        QVERIFY(QFile::remove(app + u"Reports/orders.rpt"_s));
        const QMap<QString, QByteArray> changed = fileTree(app);

        RunResult r;
        BATCH_STEP(scene.run(QStringList{u"-restore_db"_s, u"/db_name:ostrel_copy"_s,
                                         u"/file:"_s + backupFile,
                                         u"/path_db:"_s + scene.path(u"restored"_s)} +
                                 options,
                             r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(r.errLines(), (QStringList{progressTitle} + percentLines() +
                                QStringList{newCopySummary.arg(backupFile)}));
        QVERIFY(scene.databases().contains(u"ostrel_copy"_s));
        QCOMPARE(fileTree(app), extracted ? backedUp : changed);
        QCOMPARE(scene.log().contains(u"FROM backup_files"_s), extracted);
    }

    // A test copy restored every night under the same name: replaced unless told not to.
    void repeatedRestore_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("default") << QStringList() << true;
        QTest::newRow("/replace_db") << QStringList{u"/replace_db"_s} << true;
        QTest::newRow("/not_replace_db") << QStringList{u"/not_replace_db"_s} << false;
        QTest::newRow("/not_replace_db /REPLACE_DB")
            << QStringList{u"/not_replace_db"_s, u"/REPLACE_DB"_s} << true;
    }

    void repeatedRestore()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, replaced);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        QVERIFY(QDir().mkpath(scene.path(u"backups"_s)));
        const QString monday = scene.path(u"backups/monday.bak"_s);
        const QString tuesday = scene.path(u"backups/tuesday.bak"_s);
        QVERIFY(scene.exec(u"backup database ostrel_ts to disk = "_s + sqlText(monday)));
        QVERIFY(scene.exec(u"insert into clients (id, name) values (3, N'ИП Соколова')"_s,
                           u"ostrel_ts"_s));
        QVERIFY(scene.exec(u"backup database ostrel_ts to disk = "_s + sqlText(tuesday)));
        const QString folder = scene.path(u"test copy"_s);
        const QStringList common = {u"-restore_db"_s, u"/db_name:ostrel_test"_s,
                                    u"/path_db:"_s + folder};

        RunResult r;
        BATCH_STEP(scene.run(common + QStringList{u"/file:"_s + monday}, r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(scene.clients(u"ostrel_test"_s).size(), 2);

        BATCH_STEP(scene.run(common + QStringList{u"/file:"_s + tuesday} + options, r));
        const QString statementEnd =
            u"move N'ostrel_ts_log' to N'"_s + folder + u"/ostrel_ts_log.ldf'"_s +
            (replaced ? u", Replace, STATS = 10\n"_s : u", STATS = 10\n"_s);
        QVERIFY2(scene.log().contains(statementEnd), qPrintable(scene.log()));
        if (replaced) {
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QCOMPARE(scene.clients(u"ostrel_test"_s).size(), 3);
        } else {
            QVERIFY2(r.exitCode == 1, qPrintable(r.err));
            QCOMPARE(r.exceptionLines().size(), 1);
            QVERIFY2(r.exceptionLines().constFirst().startsWith(
                         exceptionPrefix + u"Не удалось восстановить базу.  "_s),
                     qPrintable(r.err));
            QCOMPARE(scene.clients(u"ostrel_test"_s).size(), 2);
        }
    }

    // A script cannot be asked: sessions in the database stay, the restore fails, and its error
    // line says who holds the database; with /close_connections they are ended and the restore
    // goes on, the database open to all again afterwards, even for an application that logs in
    // again the moment it is thrown out. Nobody is thrown out before everything that can refuse
    // the restore has been asked.
    void otherSessions_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<bool>("reconnecting");
        QTest::addColumn<bool>("fileMissing");
        QTest::newRow("named") << false << false << false;
        QTest::newRow("/close_connections") << true << false << false;
        QTest::newRow("/close_connections, an application that comes back at once")
            << true << true << false;
        QTest::newRow("/close_connections, no backup file") << true << false << true;
    }
    void otherSessions()
    {
        QFETCH(bool, close);
        QFETCH(bool, reconnecting);
        QFETCH(bool, fileMissing);
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString backupFile = scene.path(u"backups/plain.bak"_s);
        BATCH_STEP(scene.serverBackup(backupFile));
        OdbcClient other;
        other.setAppName(u"nightly-report"_s);
        QVERIFY(other.connect(scene.port(), u"sa"_s, scene.password(), u"ostrel_ts"_s));
        ReconnectingClient app(scene.port(), scene.password(), u"ostrel_ts"_s);
        if (reconnecting)
            QVERIFY(app.start());
        RunResult r;
        QStringList arguments{u"-restore_db"_s,
                              u"/db_name:ostrel_ts"_s,
                              u"/file:"_s + (fileMissing ? backupFile + u".gone"_s : backupFile),
                              u"/path_db:"_s + scene.path(u"restored"_s),
                              u"/replace_db"_s,
                              u"/not_show_form"_s};
        if (close)
            arguments << u"/close_connections"_s;
        BATCH_STEP(scene.run(arguments, r));
        const QStringList access = flatten(
            scene
                .query(
                    u"SELECT state_desc, user_access_desc FROM sys.databases WHERE name = 'ostrel_ts'"_s)
                .resultSets.value(0));
        app.stop();
        QCOMPARE(access, QStringList{u"ONLINE|MULTI_USER"_s});
        if (fileMissing) {
            QCOMPARE(r.exitCode, 1);
            // Refused here, or, where the login's rights leave the check to the server, by it.
            QVERIFY2(r.err.contains(u"не найден."_s) ||
                         r.err.contains(u"Не удалось прочитать файл резервной копии"_s),
                     qPrintable(r.err));
            QVERIFY(other.exec(u"SELECT 1"_s).ok); // nobody was thrown out
            return;
        }
        if (close) {
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QVERIFY(!other.exec(u"SELECT 1"_s).ok);
            // One batch: nothing went to the server between the closing and the restore.
            QVERIFY2(scene.log().contains(QRegularExpression(
                         u"ALTER DATABASE \\[ostrel_ts\\] SET OFFLINE WITH ROLLBACK "
                         u"IMMEDIATE;\\r?\\nrestore database \\[ostrel_ts\\]"_s)),
                     qPrintable(scene.log()));
            return;
        }
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.exceptionLines().size(), 1);
        const QString line = r.exceptionLines().constFirst();
        QVERIFY2(line.startsWith(exceptionPrefix + u"Не удалось восстановить базу."_s),
                 qPrintable(r.err));
        if (SqlsimProcess::programLogin() == u"sa"_s) {
            QVERIFY2(line.contains(u" Базу используют другие подключения: 1 (sa — "_s),
                     qPrintable(r.err));
            QVERIFY2(line.contains(u", nightly-report)."_s), qPrintable(r.err));
        } else {
            // Without VIEW SERVER STATE nobody else can be named; the refusal says why.
            QVERIFY2(line.contains(u"Учётной записи \""_s + SqlsimProcess::programLogin() +
                                   u"\" не видны чужие подключения к базе"_s),
                     qPrintable(r.err));
        }
        QVERIFY(other.exec(u"SELECT 1"_s).ok); // nobody was thrown out
    }

    // A name that is a reserved word, or holds a bracket: every statement the program sends
    // brackets it, so the server takes it as the name it is.
    void awkwardDatabaseNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("order") << u"order"_s;
        QTest::newRow("user") << u"user"_s;
        QTest::newRow("a bracket") << u"склад]2"_s;
    }
    void awkwardDatabaseNames()
    {
        QFETCH(QString, name);
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString bracketed = u'[' + QString(name).replace(u"]"_s, u"]]"_s) + u']';
        QVERIFY(scene.exec(u"CREATE DATABASE "_s + bracketed));
        QVERIFY(scene.exec(u"CREATE TABLE clients (id int, name nvarchar(20)); "
                           u"INSERT INTO clients VALUES (1, N'first')"_s,
                           name));
        QVERIFY(QDir().mkpath(scene.path(u"backups"_s)));
        const QString file = scene.path(u"backups/awkward.bak"_s);
        RunResult r;
        BATCH_STEP(scene.run(
            {u"-backup_db"_s, u"/db_name:"_s + name, u"/file:"_s + file, u"/not_show_form"_s}, r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(scene.exec(u"INSERT INTO clients VALUES (2, N'after')"_s, name));
        BATCH_STEP(scene.run({u"-restore_db"_s, u"/db_name:"_s + name, u"/file:"_s + file,
                              u"/path_db:"_s + scene.path(u"restored"_s), u"/replace_db"_s,
                              u"/close_connections"_s, u"/not_show_form"_s},
                             r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(scene.clients(name), QStringList{u"1|first"_s});
    }

    // A restore that fails once it has begun writing over a database leaves it RESTORING, as
    // the server does: the error says that the database cannot be used until a restore succeeds.
    void failedRestoreOverDatabase()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString file = scene.path(u"backups/plain.bak"_s);
        BATCH_STEP(scene.serverBackup(file));
        QVERIFY(scene.exec(u"EXEC sqlsim_fail_next_transfer"_s));
        RunResult r;
        BATCH_STEP(scene.run({u"-restore_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + file,
                              u"/path_db:"_s + scene.path(u"restored"_s), u"/replace_db"_s,
                              u"/not_show_form"_s},
                             r));
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.exceptionLines().size(), 1);
        QVERIFY2(r.exceptionLines().constFirst().contains(
                     u"Не удалось восстановить базу. База данных \"ostrel_ts\" осталась в "
                     u"состоянии RESTORING: работать с ней нельзя, пока восстановление из "
                     u"резервной копии не завершится успешно."_s),
                 qPrintable(r.err));
        const OdbcResult state =
            scene.query(u"SELECT state_desc FROM sys.databases WHERE name = 'ostrel_ts'"_s);
        QCOMPARE(flatten(state.resultSets.value(0)), QStringList{u"RESTORING"_s});
    }

    void restoreWithoutStore_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("lines"); // "%summary%": the summary line
        // The server's progress is a script's log whatever the progress flag says; the summary
        // comes as soon as the database is restored, before the files are looked for.
        const QString summary = u"%summary%"_s;
        QTest::newRow("/restore_file")
            << QStringList{u"/restore_file"_s}
            << QStringList{progressTitle} + percentLines() + QStringList{summary, noFilesWarning};
        // The warning does not depend on the progress flag.
        QTest::newRow("/restore_file /not_show_form")
            << QStringList{u"/restore_file"_s, u"/not_show_form"_s}
            << percentLines() + QStringList{summary, noFilesWarning};
        QTest::newRow("no extraction")
            << QStringList() << QStringList{progressTitle} + percentLines() + QStringList{summary};
        QTest::newRow("no extraction, /not_show_form")
            << QStringList{u"/not_show_form"_s} << percentLines() + QStringList{summary};
    }

    void restoreWithoutStore()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, lines);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString backupFile = scene.path(u"backups/plain.bak"_s);
        BATCH_STEP(scene.serverBackup(backupFile));
        const QMap<QString, QByteArray> installed = fileTree(scene.installDir());

        RunResult r;
        BATCH_STEP(scene.run(QStringList{u"-restore_db"_s, u"/db_name:ostrel_copy"_s,
                                         u"/file:"_s + backupFile,
                                         u"/path_db:"_s + scene.path(u"restored"_s)} +
                                 options,
                             r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(r.errLines(),
                 lines.replaceInStrings(u"%summary%"_s, newCopySummary.arg(backupFile)));
        QCOMPARE(scene.clients(u"ostrel_copy"_s), scene.clients(u"ostrel_ts"_s));
        QCOMPARE(fileTree(scene.installDir()), installed);
    }
};

QTEST_GUILESS_MAIN(TestBatchRestore)
#include "tst_batchrestore.moc"
