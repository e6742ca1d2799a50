// Hostile names through every statement the window builds: each flow runs once with ordinary
// names and once with names that would end a statement and drop the database "victim". The
// hostile run must send exactly what the ordinary run sent, each name escaped where it stands,
// show the same messages with the hostile names in them, and leave "victim" untouched.
#include "DBWorkU.h"
#include "EditTarget.h"
#include "GuiFixture.h"
#include "HostileText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

using namespace Qt::StringLiterals;
using namespace security;

namespace {

struct Names
{
    QString database;
    QString file;
    QString folder;
    QString table;
    QString column;
    QString tag; // the setting db_name_file_add and the DB_PROPERTY value it finds
};

Names ordinaryNames()
{
    return {u"plain_db42"_s,  u"plain_file42"_s, u"plain_dir42"_s,
            u"plain_tbl42"_s, u"plain_col42"_s,  u"plain_tag42"_s};
}

// A connection string cannot carry ";": the start-up flow's name goes without it.
const QString startupFlow = u"start-up from a UDL file"_s;
const QString hostileStartupDatabase = u"база' OR 'a'='a' --]"_s;

Names hostileNames()
{
    return {hostileDatabase, hostileFile, hostileFolder, hostileTable, hostileColumn, hostileTag};
}

QString literal(const QString& text)
{
    return u"N'"_s + QString(text).replace(u"'"_s, u"''"_s) + u'\'';
}

QString bracketed(const QString& name)
{
    return u'[' + QString(name).replace(u"]"_s, u"]]"_s) + u']';
}

// What one run leaves to compare.
struct Outcome
{
    QStringList sent; // the simulator's log entries of the flow
    QList<ScriptedOperatorUi::Shown> shown;
    QStringList databases;
    QStringList victim; // rows of victim.dbo.t
};

// One run of a flow: a simulator of its own, the database under the run's names with its files
// in a folder of the run's folder name, and the window on a program folder of its own.
class WindowRun
{
public:
    explicit WindowRun(Names names) : n(std::move(names)) {}

    Names n;
    LoggedSqlsim sim;
    QTemporaryDir root;
    ProgramFolder program;
    ScriptedOperatorUi ui;
    std::unique_ptr<TFormDB> form;

    QString rootPath() const { return root.path(); }
    QString base() const { return root.path() + u'/' + n.folder + u'/'; }
    QString dataFile() const { return base() + n.file + u".mdf"_s; }
    QString logFile() const { return base() + n.file + u"_log.ldf"_s; }
    QString installDir() const { return base() + u"app/"_s; }
    QString appFile() const { return installDir() + n.folder + u'/' + n.file + u".txt"_s; }
    QString backupFile() const { return base() + u"backups/"_s + n.file + u".bak"_s; }

    void setUp()
    {
        QVERIFY(root.isValid());
        QVERIFY2(sim.start(), sim.process().stderrText().constData());
        QVERIFY(QDir().mkpath(base()));
        QVERIFY(sim.exec(u"CREATE DATABASE victim"_s));
        QVERIFY(
            sim.exec(u"CREATE TABLE victim.dbo.t (i int); INSERT INTO victim.dbo.t VALUES (1)"_s));
        const QString db = bracketed(n.database);
        QVERIFY(
            sim.exec(u"CREATE DATABASE %1 ON (NAME = %2, FILENAME = %3) LOG ON (NAME = %4, "
                     u"FILENAME = %5)"_s.arg(db, literal(n.database), literal(dataFile()),
                                             literal(n.database + u"_log"_s), literal(logFile()))));
        QVERIFY(sim.exec(u"USE %1; CREATE TABLE DB_PROPERTY (Name varchar(50), Value "
                         u"varchar(100)); INSERT INTO DB_PROPERTY VALUES ('DB_Name', %2)"_s.arg(
                             db, literal(n.tag))));
        QVERIFY(sim.exec(u"USE %1; CREATE TABLE %2 (id int NOT NULL PRIMARY KEY, %3 "
                         u"nvarchar(50)); INSERT INTO %2 VALUES (1, N'один'), (2, N'два')"_s.arg(
                             db, bracketed(n.table), bracketed(n.column))));
        QVERIFY(sim.exec(u"USE %1; CREATE TABLE DBUsers (Login nvarchar(128), UserExCode int, "
                         u"GtdCounter int, ElCopyCounter int); INSERT INTO DBUsers VALUES ('sa', "
                         u"7, 8, 9)"_s.arg(db)));
        QVERIFY(sim.exec(u"USE %1; EXEC('CREATE PROCEDURE AutoExecute AS SELECT 1')"_s.arg(db)));
        QVERIFY(writeFile(appFile(), u"данные программы"_s.toUtf8()));
        program.write(u"settings.ini"_s, sim.settings(u"[other]\ninstall_dir="_s + installDir() +
                                                      u"\ndb_name_file_add="_s + n.tag +
                                                      u"\nmax_size_file_add_db=0\n"_s));
    }

    bool detachDatabase() { return sim.exec(u"EXEC sp_detach_db "_s + literal(n.database)); }

    void openWindow()
    {
        dbsetupApp()->setErrorReporter(&ui);
        form = std::make_unique<TFormDB>(ui, program.path());
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QVERIFY(form->session().connection().isOpen());
    }

    void click(const QString& button) const
    {
        QTest::mouseClick(form->findChild<QPushButton*>(button), Qt::LeftButton);
    }

    void selectDatabase(const QString& name) const
    {
        const int row = int(listedNames(*form).indexOf(name));
        QVERIFY2(row >= 0, qPrintable(listedNames(*form).join(u", "_s)));
        form->findChild<QTableWidget*>(u"ListDB"_s)->setCurrentCell(row, 0);
    }

    qsizetype mark = 0;
    void markLog() { mark = QFileInfo(sim.logPath()).size(); }
    QStringList sentSinceMark() const
    {
        QFile file(sim.logPath());
        if (!file.open(QIODevice::ReadOnly) || !file.seek(mark))
            return {};
        return logEntries(QString::fromUtf8(file.readAll()));
    }

    QStringList query(const QString& sql, const QString& database = {})
    {
        const OdbcResult r = sim.process().query(sql, database);
        if (!r.ok)
            return {u"<error> "_s + r.error};
        return flatten(r.resultSets.value(0));
    }

    void finish(Outcome& out)
    {
        out.sent = sentSinceMark();
        out.shown = ui.shown;
        out.databases = query(u"SELECT name FROM sys.databases WHERE database_id > 4 ORDER BY "
                              u"name"_s);
        out.victim = query(u"SELECT i FROM victim.dbo.t"_s);
    }
};

} // namespace

class TestHostileNames : public QObject
{
    Q_OBJECT

    // The flows, each a function of the run it works in.
    void runFlow(const QString& flow, WindowRun& run, Outcome& out)
    {
        const Names& n = run.n;
        if (flow == u"attach"_s || flow == u"attach with log file and Windows login"_s) {
            QVERIFY(run.detachDatabase());
            run.openWindow();
            run.markLog();
            if (flow == u"attach"_s) {
                run.form->findChild<QComboBox*>(u"DBName"_s)->setEditText(n.database);
                run.form->findChild<QLineEdit*>(u"DBFileName"_s)->setText(run.dataFile());
                run.form->findChild<QLineEdit*>(u"DBLogFileName"_s)->clear();
                run.click(u"bAttachDB"_s);
            } else {
                run.form->AddUserToDBUsers(n.database, run.dataFile(), true, run.logFile());
            }
            QCOMPARE(run.query(u"SELECT name FROM master.dbo.sysobjects WHERE type = 'P' AND "
                               u"name = "_s +
                               literal(n.database + u"_AutoExec"_s)),
                     QStringList{n.database + u"_AutoExec"_s});
        } else if (flow == u"detach"_s || flow == u"reconnect"_s) {
            run.openWindow();
            run.selectDatabase(n.database);
            run.markLog();
            run.ui.answers = {true};
            const bool detach = flow == u"detach"_s;
            run.click(detach ? u"BDeleteDB"_s : u"BReConnectDB"_s);
            // Done, not refused in both runs alike: a database in use would be refused in both.
            const QString done = detach ? u"Вы действительно хотете отключить базу данных \""_s +
                                              n.database + u"\"?"_s
                                        : u"База переподключена"_s;
            QStringList texts;
            for (const ScriptedOperatorUi::Shown& s : run.ui.shown)
                texts << s.text;
            QCOMPARE(texts, QStringList{done});
            QCOMPARE(listedNames(*run.form).contains(n.database), !detach);
        } else if (flow == u"file-store probe"_s) {
            run.openWindow();
            run.markLog();
            run.selectDatabase(n.database);
            // The probe found the tag: the backup may store the application files.
            QVERIFY(run.form->findChild<QCheckBox*>(u"isFileInDB"_s)->isEnabled());
        } else if (flow == u"backup with files"_s) {
            run.openWindow();
            run.selectDatabase(n.database);
            run.markLog();
            backUpFromWindow(run);
            QVERIFY(QFileInfo(run.backupFile()).isFile());
            QCOMPARE(run.query(u"SELECT rtrim(path) FROM backup_files"_s, n.database),
                     QStringList{n.folder + u"\\\\"_s + n.file + u".txt"_s});
        } else if (flow == u"restore with extraction"_s) {
            run.openWindow();
            run.selectDatabase(n.database);
            backUpFromWindow(run);
            QVERIFY(QFile::remove(run.appFile()));
            run.ui.shown.clear();
            run.markLog();
            const QString copy = n.database + u"_2"_s;
            run.form->findChild<QLineEdit*>(u"BackupFileName"_s)->setText(run.backupFile());
            run.form->findChild<QLineEdit*>(u"RestoreDBName"_s)->setText(copy);
            run.form->findChild<QLineEdit*>(u"RestoreToDirectory"_s)
                ->setText(run.base() + u"restored"_s);
            run.form->findChild<QCheckBox*>(u"isRestoreFromDB"_s)->setChecked(true);
            run.ui.answers = {true};
            run.click(u"BRestoreDB"_s);
            QCOMPARE(readFile(run.appFile()), u"данные программы"_s.toUtf8());
            QCOMPARE(run.query(u"SELECT "_s + bracketed(n.column) + u" FROM "_s +
                                   bracketed(n.table) + u" ORDER BY id"_s,
                               copy),
                     (QStringList{u"один"_s, u"два"_s}));
            QVERIFY(QFileInfo(run.base() + u"restored/"_s + n.file + u".mdf"_s).isFile());
        } else if (flow == u"a copy beside its original"_s) {
            // A copy beside its original: its files are named after the copy, whatever the name.
            run.openWindow();
            run.selectDatabase(n.database);
            backUpFromWindow(run);
            run.ui.shown.clear();
            run.markLog();
            run.form->findChild<QLineEdit*>(u"BackupFileName"_s)->setText(run.backupFile());
            run.form->findChild<QLineEdit*>(u"RestoreDBName"_s)->setText(n.database + u"_2"_s);
            // Into the folder of the original, whose files are in use.
            run.form->findChild<QLineEdit*>(u"RestoreToDirectory"_s)->setText(run.base());
            const QStringList before = QDir(run.base()).entryList({u"*.mdf"_s}, QDir::Files);
            run.ui.answers = {true};
            run.click(u"BRestoreDB"_s);
            QCOMPARE(run.ui.shown.size(), 2);
            QCOMPARE(run.ui.shown[1].text, u"База восстановлена."_s);
            QCOMPARE(QDir(run.base()).entryList({u"*.mdf"_s}, QDir::Files).size(),
                     before.size() + 1);
            QCOMPARE(run.query(u"SELECT "_s + bracketed(n.column) + u" FROM "_s +
                                   bracketed(n.table) + u" ORDER BY id"_s,
                               n.database + u"_2"_s),
                     (QStringList{u"один"_s, u"два"_s}));
        } else if (flow == startupFlow) {
            // The newest backup of the current database, named by a UDL file: backed up before
            // "victim", so a condition widened by the name would find victim's file instead.
            QVERIFY(QDir().mkpath(run.base() + u"backups"_s));
            QVERIFY(run.sim.exec(u"BACKUP DATABASE "_s + bracketed(n.database) + u" TO DISK = "_s +
                                 literal(run.backupFile())));
            QVERIFY(run.sim.exec(u"BACKUP DATABASE victim TO DISK = "_s +
                                 literal(run.base() + u"backups/victim.bak"_s)));
            QVERIFY(writeFile(run.program.file(u"conn.udl"_s),
                              (u"[oledb]\r\nProvider=SQLOLEDB.1;User ID=sa;Password="_s +
                               run.sim.password() + u";Initial Catalog="_s + n.database +
                               u";Data Source=127.0.0.1,"_s + QString::number(run.sim.port()) +
                               u"\r\n"_s)
                                  .toUtf8()));
            run.program.write(u"settings.ini"_s,
                              run.sim.settings(u"file_udl="_s + run.program.file(u"conn.udl"_s) +
                                               u"\n[other]\ninstall_dir="_s + run.installDir() +
                                               u"\n"_s));
            run.markLog();
            run.openWindow();
            QCOMPARE(run.form->session().currentDBName(), n.database);
            QCOMPARE(run.form->findChild<QLineEdit*>(u"BackupFileName"_s)->text(),
                     run.backupFile());
        } else if (flow == u"console"_s) {
            consoleFlow(run);
        } else {
            QFAIL(qPrintable(u"unknown flow "_s + flow));
        }
        run.finish(out);
    }

    static void backUpFromWindow(WindowRun& run)
    {
        auto* fileInDB = run.form->findChild<QCheckBox*>(u"isFileInDB"_s);
        QVERIFY(fileInDB->isEnabled());
        fileInDB->setChecked(true);
        run.ui.fileAnswers = {run.backupFile()};
        run.click(u"BBackupDB"_s);
        QCOMPARE(run.ui.shown.size(), 1);
        QCOMPARE(run.ui.shown[0].text, u"Резервное копирование базы \""_s + run.n.database +
                                           u"\" успешно завершено.\r\nФайл копии: "_s +
                                           run.backupFile());
    }

    // The chooser, a query of one table, and a row changed, added and deleted through the grid.
    static void consoleFlow(WindowRun& run)
    {
        const Names& n = run.n;
        run.openWindow();
        run.form->findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(2);
        auto* chooser = run.form->findChild<QComboBox*>(u"DBNameSQL"_s);
        run.markLog();
        const int index = chooser->findText(n.database);
        QVERIFY(index >= 0);
        chooser->setCurrentIndex(index);
        emit chooser->activated(index); // the operator's pick: made current, then idle in master
        QVERIFY(run.sentSinceMark().contains(u"batch: USE "_s + bracketed(n.database)));
        QCOMPARE(run.form->session().connection().defaultDatabase(), u"master"_s);
        run.form->findChild<QPlainTextEdit*>(u"SQLText"_s)
            ->setPlainText(u"select * from "_s + bracketed(n.table));
        run.click(u"BOpenSQL"_s);
        QVERIFY2(run.ui.shown.isEmpty(), qPrintable(run.ui.shown.value(0).text));
        QueryResult& result = run.form->session().console().result();
        QVERIFY2(result.isEditable(), qPrintable(result.editTarget().readOnlyReason));
        QCOMPARE(result.fieldNames(), (QStringList{u"id"_s, n.column}));
        result.setCurrentRow(0);
        QVERIFY(result.setData(result.index(0, 1), u"первый"_s));
        result.post();
        result.insertRecord();
        const int added = result.currentRow();
        QVERIFY(result.setData(result.index(added, 0), 3));
        QVERIFY(result.setData(result.index(added, 1), u"три"_s));
        result.post();
        result.setCurrentRow(1);
        result.deleteRecord();
        QCOMPARE(run.query(u"SELECT id, "_s + bracketed(n.column) + u" FROM "_s +
                               bracketed(n.table) + u" ORDER BY id"_s,
                           n.database),
                 (QStringList{u"1|первый"_s, u"3|три"_s}));
        // An update typed by the operator runs in the chosen database.
        run.form->findChild<QPlainTextEdit*>(u"SQLText"_s)
            ->setPlainText(u"update "_s + bracketed(n.table) + u" set "_s + bracketed(n.column) +
                           u" = N'все'"_s);
        run.click(u"BExecSQL"_s);
        QVERIFY2(run.ui.shown.isEmpty(), qPrintable(run.ui.shown.value(0).text));
    }

private slots:
    // Comment marks, ";" and keywords inside a name or a string are the name's, not the
    // statement's: the result of one table stays editable, two statements never are.
    void analyzeNames_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("result");
        QTest::addColumn<QString>("table"); // "" when read-only
        QTest::addColumn<QStringList>("columns");
        const QStringList two{u"id"_s, hostileColumn};
        const QString table = bracketed(hostileTable);
        QTest::newRow("hostile table") << u"select * from "_s + table << two << table << two;
        QTest::newRow("hostile table and column listed")
            << u"select id, "_s + bracketed(hostileColumn) + u" from "_s + table << two << table
            << two;
        QTest::newRow("block comment marks in a name")
            << u"select * from [a /* b */ c]"_s << two << u"[a /* b */ c]"_s << two;
        QTest::newRow("keywords in a name") << u"select id, [join; union into] from t"_s
                                            << QStringList{u"id"_s, u"join; union into"_s} << u"t"_s
                                            << QStringList{u"id"_s, u"join; union into"_s};
        QTest::newRow("comment marks and semicolon in a string")
            << u"select * from t where name = 'a;b -- c /* d' -- note"_s << two << u"t"_s << two;
        QTest::newRow("a comment after a hostile name")
            << u"select * from "_s + table + u" -- note"_s << two << table << two;
        QTest::newRow("second statement after a hostile name")
            << u"select * from "_s + table + u"; drop database victim"_s << two << QString()
            << QStringList();
        QTest::newRow("second statement after a string")
            << u"select * from t where a = 'x'; drop database victim"_s << two << QString()
            << QStringList();
    }
    void analyzeNames()
    {
        QFETCH(QString, sql);
        QFETCH(QStringList, result);
        QFETCH(QString, table);
        QFETCH(QStringList, columns);
        const EditTarget t = AnalyzeSelect(sql, result);
        QVERIFY2(t.editable() == !table.isEmpty(), qPrintable(t.readOnlyReason));
        if (t.editable()) {
            QCOMPARE(t.table, table);
            QCOMPARE(t.columns, columns);
        }
    }

    // The yardstick itself: each place a name can stand in the log, escaped as it must be.
    void hostileLogOfOrdinary_data()
    {
        QTest::addColumn<QString>("ordinary");
        QTest::addColumn<QString>("hostile");
        QTest::newRow("bare name and literal")
            << u"batch: select 1 from plain_db42.dbo.sysobjects where name= N'plain_db42_x'"_s
            << u"batch: select 1 from [база'; DROP DATABASE victim --]]].dbo.sysobjects where "
               u"name= N'база''; DROP DATABASE victim --]_x'"_s;
        QTest::newRow("bracketed name")
            << u"batch: USE [plain_db42]"_s << u"batch: USE [база'; DROP DATABASE victim --]]]"_s;
        QTest::newRow("a name joined to more")
            << u"batch: DROP PROCEDURE plain_db42_AutoExec"_s
            << u"batch: DROP PROCEDURE [база'; DROP DATABASE victim --]]_AutoExec]"_s;
        QTest::newRow("statement of sp_executesql")
            << u"rpc: sp_executesql N'UPDATE [plain_db42] SET a = ''plain_db42''', N'@P1 int'"_s
            << u"rpc: sp_executesql N'UPDATE [база''; DROP DATABASE victim --]]] SET a = "
               u"''база''''; DROP DATABASE victim --]''', N'@P1 int'"_s;
        QTest::newRow("procedure values")
            << u"rpc: sp_detach_db N'plain_db42', N'TRUE'"_s
            << u"rpc: sp_detach_db N'база''; DROP DATABASE victim --]', N'TRUE'"_s;
        QTest::newRow("login") << u"login: sa database=plain_db42"_s
                               << u"login: sa database=база'; DROP DATABASE victim --]"_s;
    }
    void hostileLogOfOrdinary()
    {
        QFETCH(QString, ordinary);
        QFETCH(QString, hostile);
        QCOMPARE(hostileLog(logEntries(ordinary + u'\n'), {{u"plain_db42"_s, hostileDatabase}}),
                 QStringList{hostile});
    }

    void windowFlows_data()
    {
        QTest::addColumn<QString>("flow");
        for (const char* flow :
             {"attach", "attach with log file and Windows login", "detach", "reconnect",
              "file-store probe", "backup with files", "restore with extraction",
              "a copy beside its original", "start-up from a UDL file", "console"})
            QTest::newRow(flow) << QString::fromUtf8(flow);
    }

    void windowFlows()
    {
        QFETCH(QString, flow);
        Outcome ordinary;
        Outcome hostile;
        WindowRun ordinaryRun(ordinaryNames());
        Names hostileSet = hostileNames();
        if (flow == startupFlow)
            hostileSet.database = hostileStartupDatabase;
        WindowRun hostileRun(hostileSet);
        for (auto [run, out] :
             {std::pair{&ordinaryRun, &ordinary}, std::pair{&hostileRun, &hostile}}) {
            run->setUp();
            if (QTest::currentTestFailed())
                return;
            runFlow(flow, *run, *out);
            if (QTest::currentTestFailed())
                return;
            run->form.reset();
        }
        const Names o = ordinaryNames();
        const Names h = hostileSet;
        const NamePairs names{{ordinaryRun.rootPath(), hostileRun.rootPath()},
                              {o.database, h.database},
                              {o.file, h.file},
                              {o.folder, h.folder},
                              {o.table, h.table},
                              {o.column, h.column},
                              {o.tag, h.tag}};

        QVERIFY(!ordinary.sent.isEmpty());
        const QStringList expected = withoutTimes(hostileLog(ordinary.sent, names));
        const QStringList actual = withoutTimes(hostile.sent);
        for (qsizetype i = 0; i < std::max(expected.size(), actual.size()); ++i)
            QVERIFY2(actual.value(i) == expected.value(i),
                     qPrintable(u"entry %1\nsent:     %2\nexpected: %3"_s.arg(i).arg(
                         actual.value(i), expected.value(i))));

        QCOMPARE(hostile.shown.size(), ordinary.shown.size());
        for (qsizetype i = 0; i < ordinary.shown.size(); ++i) {
            QCOMPARE(hostile.shown[i].icon, ordinary.shown[i].icon);
            QCOMPARE(hostile.shown[i].caption, ordinary.shown[i].caption);
            QCOMPARE(hostile.shown[i].text, replaced(ordinary.shown[i].text, names));
        }
        QStringList databases;
        for (const QString& name : ordinary.databases)
            databases << replaced(name, names);
        databases.sort();
        hostile.databases.sort();
        QCOMPARE(hostile.databases, databases);
        QVERIFY(hostile.databases.contains(u"victim"_s));
        QCOMPARE(hostile.victim, QStringList{u"1"_s});
    }
};

DBSETUP_GUI_TEST_MAIN(TestHostileNames)
#include "tst_hostilenames.moc"
