// A backup whose stored application files name places outside the installation folder, restored
// with extraction from the window and from the command line: nothing is written anywhere but
// inside the installation folder, and the ordinary files still arrive.
#include "BatchScene.h"
#include "DBWorkU.h"
#include "GuiFixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QUuid>

using namespace Qt::StringLiterals;
using namespace batch;

namespace {

// Every file name below a folder that holds the marker, unreadable folders skipped.
QStringList filesMarked(const QString& folder, const QString& marker)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().contains(marker))
            found << path;
    }
    return found;
}

QMap<QString, QByteArray> treeWithout(const QString& folder, const QStringList& skipped)
{
    QMap<QString, QByteArray> files = fileTree(folder);
    files.removeIf([&](const auto& file) {
        return std::any_of(skipped.begin(), skipped.end(),
                           [&](const QString& prefix) { return file.key().startsWith(prefix); });
    });
    return files;
}

} // namespace

class TestHostilePaths : public QObject
{
    Q_OBJECT

    // Unique to this run, so a stray file cannot be an older run's.
    const QString m_marker = u"побег-"_s + QUuid::createUuid().toString(QUuid::Id128).left(12);

    QString marked(int n) const { return m_marker + u'-' + QString::number(n) + u".txt"_s; }

    // Stored paths, each with the place it would reach from <root>/zone/a/b/app/.
    QStringList hostilePaths(const BatchScene& scene) const
    {
        QString root = scene.path(u"zone"_s);
        QString windowsRoot = root;
        windowsRoot.replace(u'/', u'\\');
        return {
            u"..\\..\\"_s + marked(1),                          // <root>/zone/a/
            u"..\\\\..\\\\..\\\\..\\\\"_s + marked(2),          // <root>/, doubled as stored
            u"sub\\..\\..\\..\\"_s + marked(3),                 // <root>/zone/
            u"./../"_s + marked(4),                             // <root>/zone/a/b/
            root + u'/' + marked(5),                            // absolute
            windowsRoot + u'\\' + marked(6),                    // absolute, Windows separators
            u"C:\\"_s + marked(7),                              // a drive
            u"c:"_s + marked(8),                                // a drive's current folder
            u"\\\\server\\share\\"_s + marked(9),               // a share
            u"//server/share/"_s + marked(10),                  // a share with "/"
            u"/tmp/"_s + marked(11),                            // the shared temporary folder
            u"  ..\\"_s + marked(12),                           // blanks before the climb
            u".."_s + QChar(0) + u"\\"_s + marked(13),          // NUL after a climb
            u"sub"_s + QChar(0) + u"\\..\\..\\"_s + marked(14), // NUL, then a climb
            u"..\\"_s + QChar(1) + marked(15),                  // a control character
        };
    }

    // Inside the folder however odd the name: written there, nowhere else.
    QStringList insidePaths() const
    {
        return {u"ok\\ok.txt"_s, u"con\\aux\\nul.txt"_s, u"lpt1\\x<y>z|w?*.txt"_s,
                u"..."_s + marked(16), u"dir..\\"_s + marked(17)};
    }

    // A database whose file store holds the hostile and the ordinary paths, and its backup.
    void prepareBackup(BatchScene& scene, const QString& backupFile)
    {
        BATCH_STEP(scene.setUp(false));
        BATCH_STEP(scene.createDatabase(u"ostrel_ts"_s));
        QVERIFY(scene.exec(u"create table backup_files (path char(255) not null, version int "
                           u"null, file_data IMAGE NULL)"_s,
                           u"ostrel_ts"_s));
        OdbcClient client;
        QVERIFY(client.connect(scene.port(), u"sa"_s, scene.password(), u"ostrel_ts"_s));
        for (const QString& path : hostilePaths(scene) + insidePaths()) {
            const OdbcResult r =
                client.execParams(u"insert into backup_files values (?, 1, ?)"_s,
                                  {path, QVariant(QByteArray("written by the restore"))});
            QVERIFY2(r.ok, qPrintable(r.error));
        }
        // Whatever the server made of NUL and control characters, each row is there.
        QCOMPARE(flatten(client.exec(u"select count(*) from backup_files"_s).resultSets.value(0)),
                 QStringList{QString::number(hostilePaths(scene).size() + insidePaths().size())});
        QVERIFY(QDir().mkpath(QFileInfo(backupFile).path()));
        QVERIFY(scene.exec(u"BACKUP DATABASE ostrel_ts TO DISK = "_s + sqlText(backupFile)));
    }

    // Nothing new outside the installation folder, in the scene or in the temporary folder.
    void checkWrittenInsideOnly(BatchScene& scene, const QString& installDir,
                                const QMap<QString, QByteArray>& before)
    {
        const QStringList moving{u"server/"_s, u"sim.log"_s, u"restored/"_s, u"zone/a/b/app/"_s};
        QCOMPARE(treeWithout(scene.path(u"x"_s).chopped(1), moving), before);
        QStringList stray = filesMarked(QDir::tempPath(), m_marker);
        stray.removeIf([&](const QString& path) { return path.startsWith(installDir); });
        QVERIFY2(stray.isEmpty(), qPrintable(stray.join(u'\n')));
        for (const QString& place : {u"/"_s, QDir::homePath(), QDir::currentPath()})
            QVERIFY(QDir(place).entryList({m_marker + u'*'}).isEmpty());
        // The ordinary files arrived, the odd names inside the folder too.
        QCOMPARE(readFile(installDir + u"ok/ok.txt"_s), QByteArray("written by the restore"));
        QVERIFY(QFileInfo::exists(installDir + u"con/aux/nul.txt"_s));
        QVERIFY(QFileInfo::exists(installDir + u"lpt1/x<y>z|w?*.txt"_s));
        QVERIFY(QFileInfo::exists(installDir + u"..."_s + marked(16)));
        QVERIFY(QFileInfo::exists(installDir + u"dir../"_s + marked(17)));
    }

private slots:
    void restore_data()
    {
        QTest::addColumn<bool>("window");
        QTest::newRow("from the window") << true;
        QTest::newRow("from the command line") << false;
    }

    void restore()
    {
        QFETCH(bool, window);
        BatchScene scene;
        const QString backupFile = scene.path(u"backups/store.bak"_s);
        BATCH_STEP(prepareBackup(scene, backupFile));
        const QString installDir = scene.path(u"zone/a/b/app/"_s);
        QVERIFY(writeFile(installDir + u"ostrel.exe"_s, "installed"));
        const QStringList moving{u"server/"_s, u"sim.log"_s, u"restored/"_s, u"zone/a/b/app/"_s};
        const QMap<QString, QByteArray> before = treeWithout(scene.path(u"x"_s).chopped(1), moving);
        const QString folder = scene.path(u"restored"_s);

        if (window) {
            ProgramFolder program;
            program.write(u"settings.ini"_s, u"[db]\nserver="_s + scene.server() +
                                                 u"\nuser_name=sa\npassword="_s + scene.password() +
                                                 u"\n[other]\ninstall_dir="_s + installDir +
                                                 u"\n"_s);
            ScriptedOperatorUi ui;
            dbsetupApp()->setErrorReporter(&ui);
            TFormDB form(ui, program.path());
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            form.findChild<QLineEdit*>(u"BackupFileName"_s)->setText(backupFile);
            form.findChild<QLineEdit*>(u"RestoreDBName"_s)->setText(u"copy"_s);
            form.findChild<QLineEdit*>(u"RestoreToDirectory"_s)->setText(folder);
            form.findChild<QCheckBox*>(u"isRestoreFromDB"_s)->setChecked(true);
            ui.answers = {true};
            QTest::mouseClick(form.findChild<QPushButton*>(u"BRestoreDB"_s), Qt::LeftButton);
            QStringList texts;
            for (const auto& shown : ui.shown)
                texts << shown.text;
            QVERIFY2(ui.shown.size() == 3, qPrintable(texts.join(u"\n---\n"_s)));
            // Every row that was not written is named in one warning.
            QCOMPARE(ui.shown[1].icon, OperatorUi::Icon::Warning);
            QStringList lines = ui.shown[1].text.split(u"\r\n"_s);
            QCOMPARE(lines.takeFirst(), u"Не все файлы программы извлечены из базы:"_s);
            QVERIFY2(lines.size() == hostilePaths(scene).size(), qPrintable(lines.join(u'\n')));
            QCOMPARE(ui.shown[2].text, u"База восстановлена."_s);
        } else {
            RunResult r;
            BATCH_STEP(scene.run({u"-restore_db"_s, u"/db_name:copy"_s, u"/file:"_s + backupFile,
                                  u"/path_db:"_s + folder, u"/install_dir:"_s + installDir,
                                  u"/restore_file"_s},
                                 r));
            // The rows left out are named (whether the run then counts as failed is the batch
            // mode's affair); every one of them.
            QVERIFY2(r.err.contains(u"Не все файлы программы извлечены из базы:"_s),
                     qPrintable(r.err));
            for (int i = 1; i <= hostilePaths(scene).size(); ++i)
                QVERIFY2(r.err.contains(marked(i)), qPrintable(marked(i)));
            // NUL and control characters of stored names never reach the terminal raw.
            QVERIFY(std::none_of(r.err.begin(), r.err.end(), [](QChar c) {
                return c.unicode() < 0x20 && c != u'\n' && c != u'\t';
            }));
        }
        QVERIFY(scene.databases().contains(u"copy"_s));
        checkWrittenInsideOnly(scene, installDir, before);
    }
};

DBSETUP_GUI_TEST_MAIN(TestHostilePaths)
#include "tst_hostilepaths.moc"
