// Hostile names given on the command line: bin/dbsetup backs up and restores once with ordinary
// names and once with names that would end a statement and drop the database "victim". The
// hostile run must send what the ordinary one sent with each name escaped where it stands, say
// the same on stderr with the hostile names in it, and leave "victim" untouched.
#include "BatchScene.h"
#include "HostileText.h"

using namespace Qt::StringLiterals;
using namespace security;
using namespace batch;

namespace {

struct Names
{
    QString database;
    QString file;
    QString folder;
};

// One run: a scene of its own, the database under the run's name, an installation folder and a
// backup file named after the run's folder and file names.
struct Run
{
    explicit Run(Names names) : n(std::move(names)) {}

    Names n;
    BatchScene scene;
    qint64 mark = 0;
    RunResult result;

    QString base() const { return scene.path(n.folder) + u'/'; }
    QString installDir() const { return base() + u"app/"_s; }
    QString appFile() const { return installDir() + n.folder + u'/' + n.file + u".txt"_s; }
    QString backupFile() const { return base() + u"backups/"_s + n.file + u".bak"_s; }

    void setUp()
    {
        BATCH_STEP(scene.setUp(false));
        BATCH_STEP(scene.createDatabase(n.database));
        BATCH_STEP(scene.createDatabase(u"victim"_s));
        QVERIFY(writeFile(appFile(), u"данные программы"_s.toUtf8()));
    }

    void backUp(RunResult& r)
    {
        scene.run({u"-backup_db"_s, u"/db_name:"_s + n.database, u"/file:"_s + backupFile(),
                   u"/install_dir:"_s + installDir()},
                  r);
    }

    void markLog() { mark = QFileInfo(scene.logPath()).size(); }
    QStringList sentSinceMark() const
    {
        QFile file(scene.logPath());
        if (!file.open(QIODevice::ReadOnly) || !file.seek(mark))
            return {};
        return logEntries(QString::fromUtf8(file.readAll()));
    }
};

} // namespace

class TestHostileBatch : public QObject
{
    Q_OBJECT

    static void runFlow(const QString& flow, Run& run)
    {
        const Names& n = run.n;
        if (flow == u"backup with files"_s) {
            run.markLog();
            BATCH_STEP(run.backUp(run.result));
            QVERIFY2(run.result.exitCode == 0, qPrintable(run.result.err));
            QVERIFY(QFileInfo(run.backupFile()).isFile());
            QCOMPARE(storedFiles(run.scene, n.database).keys(),
                     QStringList{storedPath(n.folder + u'/' + n.file + u".txt"_s)});
            return;
        }
        RunResult backup;
        BATCH_STEP(run.backUp(backup));
        QVERIFY2(backup.exitCode == 0, qPrintable(backup.err));
        QVERIFY(QFile::remove(run.appFile()));
        run.markLog();
        if (flow == u"restore with extraction"_s) {
            const QString copy = n.database + u"_2"_s;
            BATCH_STEP(run.scene.run({u"-restore_db"_s, u"/db_name:"_s + copy,
                                      u"/file:"_s + run.backupFile(),
                                      u"/path_db:"_s + run.base() + u"restored"_s,
                                      u"/install_dir:"_s + run.installDir(), u"/restore_file"_s},
                                     run.result));
            QVERIFY2(run.result.exitCode == 0, qPrintable(run.result.err));
            QCOMPARE(readFile(run.appFile()), u"данные программы"_s.toUtf8());
            QCOMPARE(run.scene.clients(copy), run.scene.clients(n.database));
            QCOMPARE(run.scene.clients(copy).size(), 2);
        } else if (flow == u"restore over an existing database"_s) {
            // Another database has the name: the server refuses, its error is reported whole and
            // the run fails.
            BATCH_STEP(run.scene.createDatabase(n.database + u"_2"_s));
            BATCH_STEP(
                run.scene.run({u"-restore_db"_s, u"/db_name:"_s + n.database + u"_2"_s,
                               u"/file:"_s + run.backupFile(),
                               u"/path_db:"_s + run.base() + u"restored"_s, u"/not_replace_db"_s},
                              run.result));
            QCOMPARE(run.result.exitCode, 1);
            QCOMPARE(run.result.exceptionLines().size(), 1);
            QVERIFY2(run.result.exceptionLines()[0].startsWith(exceptionPrefix +
                                                               u"Не удалось восстановить базу."_s),
                     qPrintable(run.result.err));
            QVERIFY(!QFileInfo::exists(run.appFile()));
            // The server's own text, naming the database, follows the program's.
            QVERIFY2(run.result.exceptionLines()[0].contains(n.database + u"_2"_s),
                     qPrintable(run.result.err));
        } else {
            QFAIL(qPrintable(u"unknown flow "_s + flow));
        }
    }

private slots:
    void flows_data()
    {
        QTest::addColumn<QString>("flow");
        for (const char* flow :
             {"backup with files", "restore with extraction", "restore over an existing database"})
            QTest::newRow(flow) << QString::fromUtf8(flow);
    }

    void flows()
    {
        QFETCH(QString, flow);
        Run ordinary({u"plain_db42"_s, u"plain_file42"_s, u"plain_dir42"_s});
        Run hostile({hostileDatabase, hostileFile, hostileFolder});
        for (Run* run : {&ordinary, &hostile}) {
            BATCH_STEP(run->setUp());
            BATCH_STEP(runFlow(flow, *run));
        }
        const NamePairs names{
            {ordinary.scene.path(u"x"_s).chopped(1), hostile.scene.path(u"x"_s).chopped(1)},
            {ordinary.n.database, hostile.n.database},
            {ordinary.n.file, hostile.n.file},
            {ordinary.n.folder, hostile.n.folder}};

        const QStringList sent = ordinary.sentSinceMark();
        QVERIFY(!sent.isEmpty());
        const QStringList expected = withoutTimes(hostileLog(sent, names));
        const QStringList actual = withoutTimes(hostile.sentSinceMark());
        for (qsizetype i = 0; i < std::max(expected.size(), actual.size()); ++i)
            QVERIFY2(actual.value(i) == expected.value(i),
                     qPrintable(u"entry %1\nsent:     %2\nexpected: %3"_s.arg(i).arg(
                         actual.value(i), expected.value(i))));

        QCOMPARE(hostile.result.exitCode, ordinary.result.exitCode);
        QCOMPARE(hostile.result.errLines(),
                 replaced(ordinary.result.err, names).split(u'\n', Qt::SkipEmptyParts));
        QVERIFY(hostile.scene.databases().contains(u"victim"_s));
        QCOMPARE(hostile.scene.clients(u"victim"_s).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestHostileBatch)
#include "tst_hostilebatch.moc"
