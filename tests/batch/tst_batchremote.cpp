// "-backup_db" and "-restore_db" against a server on another machine, as a nightly script runs
// them: the paths in "/file" and "/path_db" are the server's, its folders are made by the server,
// and a refusal tells whose disk and whose rights are at fault, with exit code 1.
#include "BatchScene.h"

using namespace Qt::StringLiterals;
using namespace batch;

namespace {

const QString account = u"NT Service\\MSSQLSERVER"_s;

} // namespace

class TestBatchRemote : public QObject
{
    Q_OBJECT

    QTemporaryDir m_serverDisks; // outlives the scene's simulator
    BatchScene m_scene;
    QString m_serverRoot;

    QString onServer(const QString& relative) const { return m_serverRoot + u'/' + relative; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_serverDisks.isValid());
        m_serverRoot = m_serverDisks.path();
        // The server's machine has drives C: and D:.
        QVERIFY(QDir(m_serverRoot).mkpath(u"D/Data"_s));
        BATCH_STEP(m_scene.setUp(false, {u"--server-root"_s, m_serverRoot}));
        // The database lies on the server's disk.
        QVERIFY(m_scene.exec(u"create database ostrel_ts on (name = ostrel_ts, filename = "
                             u"'D:\\Data\\ostrel_ts.mdf') log on (name = ostrel_ts_log, filename = "
                             u"'D:\\Data\\ostrel_ts_log.ldf')"_s));
        QVERIFY(m_scene.exec(
            u"create table clients (id int not null primary key, name nvarchar(100))"_s,
            u"ostrel_ts"_s));
        QVERIFY(m_scene.exec(u"insert into clients values (1, N'ООО «Северный ветер»')"_s,
                             u"ostrel_ts"_s));
    }

    void backupIntoANewServerFolderAndRestoreIntoAnother()
    {
        const QString file = u"D:\\Backups\\Nightly\\ostrel_ts.bak"_s;
        RunResult r;
        BATCH_STEP(m_scene.run({u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + file,
                                u"/add_file"_s, u"/not_show_form"_s},
                               r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(onServer(u"D/Backups/Nightly/ostrel_ts.bak"_s)).isFile());
        // The folder was the server's to make, not this machine's.
        QVERIFY(m_scene.log().contains(u"xp_create_subdir N'D:\\Backups\\Nightly'"_s));
        QVERIFY(!QFileInfo::exists(m_scene.path(u"D:\\Backups"_s)));

        BATCH_STEP(m_scene.run({u"-restore_db"_s, u"/db_name:ostrel_copy"_s,
                                u"/file:d:\\backups\\nightly\\OSTREL_TS.BAK"_s,
                                u"/path_db:C:\\Restored\\Copy"_s, u"/not_restore_file"_s,
                                u"/not_show_form"_s},
                               r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(onServer(u"C/Restored/Copy/ostrel_ts.mdf"_s)).isFile());
        QCOMPARE(m_scene.clients(u"ostrel_copy"_s), QStringList{u"1|ООО «Северный ветер»"_s});
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("backup into a folder of this machine")
            << QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s,
                           u"/file:/srv/backup/ostrel_ts.bak"_s, u"/not_add_file"_s}
            << QStringList{u"Не удалось создать путь \"/srv/backup\"."_s,
                           u"Путь \"/srv/backup/\" не найден на диске сервера (сервер работает на "
                           u"другом компьютере и видит только свои диски). Служба SQL Server "
                           u"работает под учётной записью \""_s +
                               account + u"\""_s,
                           u"xp_create_subdir() returned error 3"_s};
        QTest::newRow("restore from a backup only this machine has")
            << QStringList{u"-restore_db"_s, u"/db_name:ostrel_x"_s, u"/file:@LOCAL@"_s,
                           u"/path_db:C:\\Restored\\X"_s, u"/not_restore_file"_s}
            << QStringList{u"Файл резервной копии \"@LOCAL@\" не найден."_s,
                           u"Файл искали на диске сервера"_s,
                           u"На этом компьютере такой файл есть"_s};
        QTest::newRow("restore into a drive the server lacks")
            << QStringList{u"-restore_db"_s, u"/db_name:ostrel_x"_s,
                           u"/file:D:\\Backups\\Nightly\\ostrel_ts.bak"_s, u"/path_db:Q:\\Data"_s,
                           u"/not_restore_file"_s}
            << QStringList{u"Не удалось создать путь \"Q:\\Data\"."_s,
                           u"Путь \"Q:\\Data\" не найден на диске сервера"_s};
    }
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, expected);
        // A backup file that exists here, and so is no answer to whether the server has it.
        const QString local = m_scene.path(u"here.bak"_s);
        QVERIFY(writeFile(local, "a backup on the operator's disk"));
        arguments.replaceInStrings(u"@LOCAL@"_s, local);
        expected.replaceInStrings(u"@LOCAL@"_s, local);
        RunResult r;
        BATCH_STEP(m_scene.run(arguments << u"/not_show_form"_s, r));
        QCOMPARE(r.exitCode, 1);
        const QString error = r.exceptionLines().join(u'\n');
        for (const QString& part : expected)
            QVERIFY2(error.contains(part), qPrintable(r.err));
        QVERIFY(!m_scene.databases().contains(u"ostrel_x"_s));
    }

    // The free space is the server's: its nearly full disk refuses the backup before it starts.
    void notEnoughSpaceOnTheServer()
    {
        BatchScene full;
        QTemporaryDir root;
        QVERIFY(root.isValid());
        BATCH_STEP(
            full.setUp(false, {u"--server-root"_s, root.path(), u"--disk-free"_s, u"1024"_s}));
        QVERIFY(full.exec(u"create database ostrel_ts"_s));
        RunResult r;
        BATCH_STEP(full.run({u"-backup_db"_s, u"/db_name:ostrel_ts"_s,
                             u"/file:C:\\Backups\\ostrel_ts.bak"_s, u"/not_add_file"_s,
                             u"/not_show_form"_s},
                            r));
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(u"На диске не хватает свободного места для сохранения "
                                u"бэкап-файла. Размер бэкапа-файла "_s),
                 qPrintable(r.err));
        QVERIFY(!full.log().contains(u"BACKUP DATABASE"_s));
    }
};

QTEST_GUILESS_MAIN(TestBatchRemote)
#include "tst_batchremote.moc"
