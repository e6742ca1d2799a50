// The batch command over a session in this process: which first word runs it, how options are
// read, and what a script's log says, as the program's own batch run says it.
#include "InProcessBatch.h"

using namespace Qt::StringLiterals;
using namespace batch;

namespace {

const QString backupTitle = u"Создается резервная копия базы данных."_s;
const QString restoreTitle = u"Восстанавливается резервная копия базы данных."_s;

QString backupSuccess(const QString& database, const QString& file)
{
    return u"Резервная копия базы \""_s + database + u"\" записана в файл \""_s + file + u"\"."_s;
}

bool restored(const RunResult& r)
{
    return r.err.contains(u"\" восстановлена из файла \""_s);
}

} // namespace

class TestBatchCommand : public QObject
{
    Q_OBJECT

private slots:
    // The first word decides: the batch mode in any letter case; any other word is no batch
    // command, and nothing is done.
    void modeWord_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("batch");
        QTest::newRow("-BACKUP_DB") << u"-BACKUP_DB"_s << true;
        QTest::newRow("-Backup_Db") << u"-Backup_Db"_s << true;
        QTest::newRow("-RESTORE_DB") << u"-RESTORE_DB"_s << true;
        QTest::newRow("/backup_db") << u"/backup_db"_s << false;
        QTest::newRow("-backup") << u"-backup"_s << false;
        QTest::newRow("backup_db") << u"backup_db"_s << false;
        QTest::newRow("--backup_db") << u"--backup_db"_s << false;
        QTest::newRow("/restore_db") << u"/restore_db"_s << false;
    }

    void modeWord()
    {
        QFETCH(QString, mode);
        QFETCH(bool, batch);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const bool restore = mode.contains(u"restore"_s, Qt::CaseInsensitive);
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        if (restore)
            BATCH_STEP(scene.serverBackup(backupFile));
        const QStringList arguments =
            restore ? QStringList{mode, u"/db_name:ostrel_copy"_s, u"/file:"_s + backupFile,
                                  u"/path_db:"_s + scene.path(u"restored"_s)}
                    : QStringList{mode, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile};
        RunResult r;
        runInProcess(scene, arguments, r);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(r.exceptionLines().isEmpty());
        if (restore) {
            QCOMPARE(scene.databases().contains(u"ostrel_copy"_s), batch);
            QCOMPARE(restored(r), batch);
        } else {
            QCOMPARE(QFileInfo::exists(backupFile), batch);
            QCOMPARE(scene.log().contains(u"BACKUP DATABASE"_s), batch);
            QCOMPARE(r.errHasLine(backupSuccess(u"ostrel_ts"_s, backupFile)), batch);
        }
    }

    // Names in capitals are recognised; values keep their case.
    void optionNamesInCapitals()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString folder = scene.path(u"Backups"_s);
        const QString backupFile = folder + u"/Ostrel_TS Nightly.BAK"_s;
        RunResult r;
        runInProcess(scene,
                     {u"-backup_db"_s, u"/DB_NAME:ostrel_ts"_s, u"/FILE:"_s + backupFile,
                      u"/Not_Add_File"_s, u"/NOT_SHOW_FORM"_s},
                     r);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{u"Ostrel_TS Nightly.BAK"_s});
        QVERIFY(!scene.log().contains(u"backup_files"_s));
        QVERIFY(scene.log().contains(u"set @DBName=N'ostrel_ts'BACKUP DATABASE"_s));
        QVERIFY2(!r.errHasLine(backupTitle), qPrintable(r.err));
        QVERIFY(r.errHasLine(backupSuccess(u"ostrel_ts"_s, backupFile))); // the summary: always
    }

    // Of "/show_form" and "/not_show_form" the later one decides whether the progress title is
    // printed; the summary line comes whatever they say. A flag given a value is refused before
    // anything is done.
    void showForm_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<int>("shown"); // 1: title printed, 0: not, -1: refused
        QTest::newRow("backup, none") << false << QStringList() << 1;
        QTest::newRow("backup, /show_form:no") << false << QStringList{u"/show_form:no"_s} << -1;
        QTest::newRow("backup, /not_show_form") << false << QStringList{u"/not_show_form"_s} << 0;
        QTest::newRow("backup, /not_show_form /show_form")
            << false << QStringList{u"/not_show_form"_s, u"/show_form"_s} << 1;
        QTest::newRow("backup, /show_form /not_show_form")
            << false << QStringList{u"/show_form"_s, u"/not_show_form"_s} << 0;
        QTest::newRow("restore, none") << true << QStringList() << 1;
        QTest::newRow("restore, /not_show_form") << true << QStringList{u"/not_show_form"_s} << 0;
        QTest::newRow("restore, /show_form /not_show_form")
            << true << QStringList{u"/show_form"_s, u"/not_show_form"_s} << 0;
        QTest::newRow("restore, /not_show_form /show_form:no")
            << true << QStringList{u"/not_show_form"_s, u"/show_form:no"_s} << -1;
    }

    void showForm()
    {
        QFETCH(bool, restore);
        QFETCH(QStringList, flags);
        QFETCH(int, shown);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        RunResult r;
        if (restore) {
            BATCH_STEP(scene.serverBackup(backupFile));
            runInProcess(scene,
                         QStringList{u"-restore_db"_s, u"/db_name:ostrel_copy"_s,
                                     u"/file:"_s + backupFile,
                                     u"/path_db:"_s + scene.path(u"restored"_s)} +
                             flags,
                         r);
            QCOMPARE(scene.databases().contains(u"ostrel_copy"_s), shown >= 0);
            QCOMPARE(r.errHasLine(restoreTitle), shown == 1);
            QCOMPARE(restored(r), shown >= 0);
        } else {
            runInProcess(scene,
                         QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s,
                                     u"/file:"_s + backupFile, u"/not_add_file"_s} +
                             flags,
                         r);
            QCOMPARE(QFileInfo(backupFile).isFile(), shown >= 0);
            QCOMPARE(r.errHasLine(backupTitle), shown == 1);
            QCOMPARE(r.errLines().count(backupSuccess(u"ostrel_ts"_s, backupFile)),
                     shown >= 0 ? 1 : 0);
        }
        QVERIFY2(r.exitCode == (shown >= 0 ? 0 : 2), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestBatchCommand)
#include "tst_batchcommand.moc"
