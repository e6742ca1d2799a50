// Application files of 100 KB and 20 MB through a nightly backup and a restore with
// "/restore_file", bin/dbsetup run as a process: stored whole, and written back byte for byte.
// SQL Server (and bin/sqlsim, as strict) sends only 4096 bytes of an image value to a session
// that has not lifted its TEXTSIZE, without an error, so this fails if the program forgot to.
#include "BatchScene.h"
#include "LongValues.h"

using namespace Qt::StringLiterals;
using namespace batch;

class TestBatchLongFiles : public QObject
{
    Q_OBJECT

private slots:
    void backupAndRestore()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString app = scene.installDir();
        const QMap<QString, QByteArray> longFiles = {
            {u"Отчёты/сводка.frx"_s, nonRepeatingBytes(100 * 1024 + 3, 21)},
            {u"bin/core.dll"_s, nonRepeatingBytes(20 * 1024 * 1024 + 5, 22)},
        };
        for (auto it = longFiles.begin(); it != longFiles.end(); ++it)
            QVERIFY(writeFile(app + it.key(), it.value()));
        // The scene's settings with the limit raised above the 20 MB file (the default,
        // 10485760 bytes, would leave it out).
        const QString settings = u"[db]\r\nserver="_s + scene.server() +
                                 u"\r\nuser_name=sa\r\npassword="_s + scene.password() +
                                 u"\r\n[other]\r\ninstall_dir="_s + app +
                                 u"\r\nmax_size_file_add_db=25000000"
                                 u"\r\nappr_name_path_name=%install_dir%ostrel.exe\r\n"_s;
        QVERIFY(writeFile(scene.programDir() + u"settings.ini"_s, settings.toUtf8()));
        const QMap<QString, QByteArray> installed = fileTree(app);

        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        BATCH_STEP(backUpWithFiles(scene, backupFile));
        const QMap<QString, QByteArray> stored = storedFiles(scene, u"ostrel_ts"_s);
        for (auto it = longFiles.begin(); it != longFiles.end(); ++it)
            QVERIFY2(stored.value(storedPath(it.key())) == it.value(), qPrintable(it.key()));

        QVERIFY(QFile::remove(app + u"Отчёты/сводка.frx"_s));
        QVERIFY(writeFile(app + u"bin/core.dll"_s, "an older build"));
        RunResult r;
        BATCH_STEP(scene.run({u"-restore_db"_s, u"/db_name:ostrel_long"_s, u"/file:"_s + backupFile,
                              u"/path_db:"_s + scene.path(u"restored"_s), u"/restore_file"_s},
                             r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));

        const QString difference = treeDifference(installed, fileTree(app));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
};

QTEST_GUILESS_MAIN(TestBatchLongFiles)
#include "tst_batchlongfiles.moc"
