// The operator's jobs walked on one window, in order, in the demo's own configuration: the
// program folder is written by "scripts/demo --prepare" (the same settings.ini, dbs.xml and sample
// databases the demo opens, identity probe on), so the two cannot drift apart. Each step must
// leave the window able to do the next.
#include "DBWorkU.h"
#include "GuiFixture.h"
#include "TextDecoding.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>

using namespace Qt::StringLiterals;

class TestDemoScenario : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;
    ProgramFolder m_folder;
    QString m_backup;

    // Databases on the server, as a second client sees them.
    QStringList serverDatabases()
    {
        OdbcClient client;
        if (!client.connect(m_sim.port(), u"sa"_s, m_sim.password()))
            return {};
        return flatten(client
                           .exec(u"SELECT name FROM sys.databases WHERE database_id > 4 "
                                 u"ORDER BY name"_s)
                           .resultSets.value(0));
    }

    QStringList query(const QString& database, const QString& sql)
    {
        OdbcClient client;
        if (!client.connect(m_sim.port(), u"sa"_s, m_sim.password(), database))
            return {};
        return flatten(client.exec(sql).resultSets.value(0));
    }

    std::unique_ptr<TFormDB> openWindow(ScriptedOperatorUi& ui)
    {
        return openForm(m_folder, ui, QString()); // the demo's own settings.ini
    }

    static void consoleRun(TFormDB& form, const QString& database, const QString& sql)
    {
        control<QTabWidget>(form, u"Page"_s)->setCurrentIndex(2);
        auto* chooser = control<QComboBox>(form, u"DBNameSQL"_s);
        chooser->setCurrentIndex(chooser->findText(database));
        control<QPlainTextEdit>(form, u"SQLText"_s)->setPlainText(sql);
        clickControl(form, u"BOpenSQL"_s);
    }

    // Restores the demo's backup from the restore tab; returns what the operator was shown.
    QStringList restore(TFormDB& form, ScriptedOperatorUi& ui, const QString& name,
                        const QString& folder, bool replace)
    {
        control<QTabWidget>(form, u"Page"_s)->setCurrentIndex(1);
        control<QLineEdit>(form, u"BackupFileName"_s)->setText(m_backup);
        control<QLineEdit>(form, u"RestoreDBName"_s)->setText(name);
        control<QLineEdit>(form, u"RestoreToDirectory"_s)->setText(folder);
        control<QCheckBox>(form, u"isReplaceDB"_s)->setChecked(replace);
        ui.shown.clear();
        ui.answers = {true};
        clickControl(form, u"BRestoreDB"_s);
        control<QTabWidget>(form, u"Page"_s)->setCurrentIndex(0);
        return shownTexts(ui).mid(1);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.process().stderrText().constData());
        prepareDemo(m_sim, m_folder);
        if (QTest::currentTestFailed())
            return;
        m_backup = m_folder.path() + u"backups/ostrel_ts.bak"_s;
        QVERIFY(QDir().mkpath(QFileInfo(m_backup).path()));
    }

    // One window, the jobs in the order a person does them.
    void operatorJobs()
    {
        ScriptedOperatorUi ui;
        auto form = openWindow(ui);
        QVERIFY(form);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(shownTexts(ui).join(u'\n')));
        QCOMPARE(listedNames(*form),
                 (QStringList{u"ostrel_ts"_s, u"ostrel_ts_2023"_s, u"sklad"_s}));
        auto* fileInDB = control<QCheckBox>(*form, u"isFileInDB"_s);
        QVERIFY2(fileInDB->isEnabled(), "the identity probe of the sample database");

        // Select a row (the probe runs there), detach it.
        QVERIFY(selectListedRow(*form, u"sklad"_s));
        QVERIFY(!fileInDB->isEnabled()); // sklad has no DB_PROPERTY
        ui.answers = {true};
        clickControl(*form, u"BDeleteDB"_s);
        QCOMPARE(shownTexts(ui), QStringList{u"Вы действительно хотете отключить базу данных "
                                             u"\"sklad\"?"_s});
        QCOMPARE(listedNames(*form), (QStringList{u"ostrel_ts"_s, u"ostrel_ts_2023"_s}));
        QCOMPARE(serverDatabases(), (QStringList{u"ostrel_ts"_s, u"ostrel_ts_2023"_s}));

        // Attach it back from the catalogue: the file fields fill in from dbs.xml.
        ui.shown.clear();
        control<QComboBox>(*form, u"DBName"_s)->setEditText(u"sklad"_s);
        const QString data = m_folder.path() + u"app/Data/"_s;
        QCOMPARE(control<QLineEdit>(*form, u"DBFileName"_s)->text(), data + u"sklad.mdf"_s);
        QCOMPARE(control<QLineEdit>(*form, u"DBLogFileName"_s)->text(), data + u"sklad_log.ldf"_s);
        clickControl(*form, u"bAttachDB"_s);
        QCOMPARE(shownTexts(ui), QStringList{u"База подключена"_s});
        QCOMPARE(control<QTableWidget>(*form, u"ListDB"_s)->currentRow(), 2);

        // Reconnect the selected row.
        ui.shown.clear();
        clickControl(*form, u"BReConnectDB"_s);
        QCOMPARE(shownTexts(ui), QStringList{u"База переподключена"_s});
        QVERIFY(serverDatabases().contains(u"sklad"_s));
        QCOMPARE(query(u"sklad"_s, u"SELECT count(*) FROM stock"_s), QStringList{u"5"_s});

        // Back up the sample database with the application's files.
        QVERIFY(selectListedRow(*form, u"ostrel_ts"_s));
        QVERIFY(fileInDB->isEnabled());
        fileInDB->setChecked(true);
        ui.shown.clear();
        ui.fileAnswers = {m_backup};
        clickControl(*form, u"BBackupDB"_s);
        QCOMPARE(shownTexts(ui), QStringList{u"Резервное копирование базы \"ostrel_ts\" успешно "
                                             u"завершено.\r\nФайл копии: "_s +
                                             m_backup});
        QVERIFY(query(u"ostrel_ts"_s, u"SELECT rtrim(path) FROM backup_files"_s)
                    .contains(u"ostrel.ini"_s));

        // A change after the backup, which the restore over the selected database takes back.
        QVERIFY(m_sim.exec(u"UPDATE ostrel_ts.dbo.orders SET status = N'Изменён' WHERE id = 1"_s));
        QCOMPARE(restore(*form, ui, u"ostrel_ts"_s, data, true),
                 QStringList{u"База восстановлена."_s});
        QCOMPARE(query(u"ostrel_ts"_s, u"SELECT status FROM orders WHERE id = 1"_s),
                 QStringList{u"Отгружен"_s});

        // A copy under a new name, into a folder of its own.
        const QString copies = m_folder.path() + u"copies"_s;
        QCOMPARE(restore(*form, ui, u"ostrel_copy"_s, copies, false),
                 QStringList{u"База восстановлена."_s});
        QCOMPARE(query(u"ostrel_copy"_s, u"SELECT count(*) FROM orders"_s), QStringList{u"14"_s});
        QVERIFY(QFile::exists(copies + u"/ostrel_ts.mdf"_s)); // a folder of its own: the names stay

        // A copy beside its original, in the folder the restore tab offers: its files are named
        // after the copy, the original's stay in use.
        QCOMPARE(restore(*form, ui, u"ostrel_beside"_s, data, false),
                 QStringList{u"База восстановлена."_s});
        QVERIFY(QFile::exists(data + u"ostrel_beside.mdf"_s));
        QVERIFY(QFile::exists(data + u"ostrel_beside_log.ldf"_s));
        QCOMPARE(query(u"ostrel_beside"_s, u"SELECT count(*) FROM orders"_s), QStringList{u"14"_s});
        QCOMPARE(query(u"ostrel_ts"_s, u"SELECT count(*) FROM orders"_s), QStringList{u"14"_s});

        // A console query, an edited row posted, the result exported.
        ui.shown.clear();
        consoleRun(*form, u"ostrel_ts"_s, u"select id, name, city from clients order by id"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(shownTexts(ui).join(u'\n')));
        QueryResult& result = form->session().console().result();
        QCOMPARE(result.rowCount(), 12);
        QVERIFY(result.isEditable());
        QVERIFY(result.setData(result.index(2, 2), u"Климовск"_s));
        clickControl(*form, u"NavPost"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(shownTexts(ui).join(u'\n')));
        QCOMPARE(query(u"ostrel_ts"_s, u"SELECT city FROM clients WHERE id = 3"_s),
                 QStringList{u"Климовск"_s});
        QGuiApplication::clipboard()->clear();
        clickControl(*form, u"BCopyBuffer"_s);
        const QStringList lines = QGuiApplication::clipboard()->text().split(u"\r\n"_s);
        QCOMPARE(lines.value(0), u"id\tname\tcity"_s);
        QCOMPARE(lines.value(3), u"3\tИП Соколова Анна Викторовна\tКлимовск"_s);
        QCOMPARE(lines.size(), 14); // header, 12 records, and the empty text after the last CR LF
        const QString exported = m_folder.path() + u"clients.xls"_s;
        ui.fileAnswers = {exported};
        clickControl(*form, u"BSaveExcel"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(shownTexts(ui).join(u'\n')));
        QCOMPARE(readFile(exported), platform::encodeWindows1251(lines.join(u"\r\n"_s)));

        // And the first job works again after all of it.
        control<QTabWidget>(*form, u"Page"_s)->setCurrentIndex(0);
        QVERIFY(selectListedRow(*form, u"ostrel_ts_2023"_s));
        ui.shown.clear();
        ui.answers = {true};
        clickControl(*form, u"BDeleteDB"_s);
        QCOMPARE(ui.shown.size(), 1);
        QVERIFY(!serverDatabases().contains(u"ostrel_ts_2023"_s));
        QCOMPARE(ui.unexpectedQuestions, 0);
    }

    // Between statements the console's session is in master, as the server reports its current
    // database: after a query read whole, a failed one, and a half-read one once its last rows
    // are fetched; the list's identity probe runs on the window's own session and leaves the
    // console alone.
    void consoleSessionLeavesItsDatabase()
    {
        ScriptedOperatorUi ui;
        auto form = openWindow(ui);
        QVERIFY(form);
        const auto session = [&form] {
            return form->session().console().connection().defaultDatabase();
        };
        QVERIFY(selectListedRow(*form, u"sklad"_s));
        QVERIFY(selectListedRow(*form, u"ostrel_ts"_s));
        QVERIFY(!form->session().console().result().isOpen());
        QCOMPARE(form->session().connection().defaultDatabase(), u"master"_s);
        consoleRun(*form, u"ostrel_ts"_s, u"select * from orders"_s);
        QCOMPARE(form->session().console().result().rowCount(), 14);
        QCOMPARE(session(), u"master"_s);
        consoleRun(*form, u"ostrel_ts"_s, u"select * from no_such_table"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(session(), u"master"_s);
        consoleRun(*form, u"ostrel_ts"_s,
                   u"select a.id from clients a, clients b, clients c, clients d"_s);
        QVERIFY(!form->session().console().result().isComplete());
        QCOMPARE(session(), u"ostrel_ts"_s); // still reading there
        form->session().console().result().last();
        QCOMPARE(form->session().console().result().rowCount(), 12 * 12 * 12 * 12);
        QCOMPARE(session(), u"master"_s);
    }

    // A console query in the database the operator then works on, read whole or only in part,
    // must not keep that database from being restored over, detached or reconnected.
    void afterConsoleQuery_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("complete");
        QTest::newRow("read whole") << u"select * from stock"_s << true;
        // 5^5 rows: more than the first page, so the rest waits on the server.
        QTest::newRow("half read") << u"select a.id from stock a, stock b, stock c, stock d, "
                                      u"stock e"_s
                                   << false;
    }
    void afterConsoleQuery()
    {
        QFETCH(QString, sql);
        QFETCH(bool, complete);
        const QString skladBackup = m_folder.path() + u"backups/sklad.bak"_s;
        if (!QFile::exists(skladBackup))
            QVERIFY(m_sim.exec(u"BACKUP DATABASE sklad TO DISK = N'"_s + skladBackup +
                               u"' WITH INIT"_s));
        ScriptedOperatorUi ui;
        auto form = openWindow(ui);
        QVERIFY(form);
        QVERIFY(selectListedRow(*form, u"sklad"_s));

        // Restore over it with "Заменить", straight after the query (the restore tab does not
        // touch the console's result).
        consoleRun(*form, u"sklad"_s, sql);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(shownTexts(ui).join(u'\n')));
        QCOMPARE(form->session().console().result().isComplete(), complete);
        control<QTabWidget>(*form, u"Page"_s)->setCurrentIndex(1);
        control<QLineEdit>(*form, u"BackupFileName"_s)->setText(skladBackup);
        control<QLineEdit>(*form, u"RestoreDBName"_s)->setText(u"sklad"_s);
        control<QLineEdit>(*form, u"RestoreToDirectory"_s)
            ->setText(m_folder.path() + u"app/Data"_s);
        control<QCheckBox>(*form, u"isReplaceDB"_s)->setChecked(true);
        ui.answers = {true};
        clickControl(*form, u"BRestoreDB"_s);
        QCOMPARE(shownTexts(ui).mid(1), QStringList{u"База восстановлена."_s});

        // Query again, then reconnect the selected row.
        ui.shown.clear();
        consoleRun(*form, u"sklad"_s, sql);
        QCOMPARE(form->session().console().result().isComplete(), complete);
        control<QTabWidget>(*form, u"Page"_s)->setCurrentIndex(0);
        QVERIFY(selectListedRow(*form, u"sklad"_s));
        clickControl(*form, u"BReConnectDB"_s);
        QCOMPARE(shownTexts(ui), QStringList{u"База переподключена"_s});

        // Query again, then detach it.
        ui.shown.clear();
        consoleRun(*form, u"sklad"_s, sql);
        control<QTabWidget>(*form, u"Page"_s)->setCurrentIndex(0);
        QVERIFY(selectListedRow(*form, u"sklad"_s));
        ui.answers = {true};
        clickControl(*form, u"BDeleteDB"_s);
        QCOMPARE(ui.shown.size(), 1); // the question, and no error after it
        QVERIFY(!serverDatabases().contains(u"sklad"_s));

        // Attached again for the next row.
        ui.shown.clear();
        control<QComboBox>(*form, u"DBName"_s)->setEditText(u"sklad"_s);
        clickControl(*form, u"bAttachDB"_s);
        QCOMPARE(shownTexts(ui), QStringList{u"База подключена"_s});
    }
};

DBSETUP_GUI_TEST_MAIN(TestDemoScenario)
#include "tst_demoscenario.moc"
