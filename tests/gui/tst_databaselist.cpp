// The attach tab's list of the server's databases, its selection handler, the catalogue-driven
// file fields, and the connection panel that refreshes the list, against bin/sqlsim.
#include "AttachTab.h"
#include "DBWorkU.h"
#include "GuiFixture.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

using namespace Qt::StringLiterals;

namespace {

const QString listQuery = u"batch: SELECT * FROM master.dbo.sysdatabases"_s;

QTableWidget* listOf(const TFormDB& form)
{
    return form.findChild<QTableWidget*>(u"ListDB"_s);
}

QCheckBox* fileInDB(const TFormDB& form)
{
    return form.findChild<QCheckBox*>(u"isFileInDB"_s);
}

} // namespace

class TestDatabaseList : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;

    // A window on the simulator, settings extended by more ("[other]" lines).
    std::unique_ptr<TFormDB> open(ProgramFolder& folder, ScriptedOperatorUi& ui,
                                  const QString& more = {})
    {
        return openForm(folder, ui, m_sim.settings(u"[other]\n"_s + more));
    }

    void dropUserDatabases()
    {
        OdbcClient client;
        QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password()));
        const OdbcResult r = client.exec(
            u"SELECT name FROM sys.databases WHERE name NOT IN ('master','model','msdb','tempdb')"_s);
        QVERIFY(r.ok);
        for (const QString& name : flatten(r.resultSets.value(0)))
            QVERIFY(client.exec(u"DROP DATABASE [%1]"_s.arg(name)).ok);
    }

private slots:
    void initTestCase() { QVERIFY2(m_sim.start(), m_sim.process().stderrText().constData()); }
    void init() { dropUserDatabases(); }

    void emptyServerGivesOneEmptyRow()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QCOMPARE(listedNames(*form), QStringList{QString()});
        QCOMPARE(listOf(*form)->item(0, 1)->text(), QString());
        QVERIFY(ui.shown.isEmpty());
    }

    void systemDatabasesNeverShow()
    {
        for (const QString& name : {u"PUBS"_s, u"northwind"_s, u"shop"_s, u"stock"_s})
            QVERIFY(m_sim.exec(u"CREATE DATABASE "_s + name));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QCOMPARE(listedNames(*form), (QStringList{u"shop"_s, u"stock"_s}));
        OdbcClient client;
        QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password()));
        const OdbcResult files =
            client.exec(u"SELECT filename FROM master.dbo.sysdatabases WHERE name = 'shop'"_s);
        QCOMPARE(listOf(*form)->item(0, 1)->text(), flatten(files.resultSets.value(0)).value(0));
    }

    void withoutConnectionOneEmptyRow()
    {
        QVERIFY(m_sim.exec(u"CREATE DATABASE shop"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui, u"db_name_file_add=ostrel_ts\n"_s);
        QCOMPARE(listedNames(*form), QStringList{u"shop"_s});
        form->session().connection().close();
        form->RefreshListDB();
        QCOMPARE(listedNames(*form), QStringList{QString()});
    }

    // The current row stays where it was, or moves up to the new last row.
    void currentRowKeptOrMovedToLast()
    {
        for (const QString& name : {u"a1"_s, u"a2"_s, u"a3"_s})
            QVERIFY(m_sim.exec(u"CREATE DATABASE "_s + name));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QTableWidget* list = listOf(*form);
        list->setCurrentCell(2, 0);
        QVERIFY(m_sim.exec(u"EXEC sp_detach_db 'a3'"_s));
        form->RefreshListDB();
        QCOMPARE(listedNames(*form), (QStringList{u"a1"_s, u"a2"_s}));
        QCOMPARE(list->currentRow(), 1);
        list->setCurrentCell(0, 0);
        QVERIFY(m_sim.exec(u"CREATE DATABASE a4"_s));
        form->RefreshListDB();
        QCOMPARE(list->currentRow(), 0);
    }

    // With an identity to look for, picking a row makes it current and probes it.
    void selectionProbesIdentity()
    {
        QVERIFY(m_sim.exec(u"CREATE DATABASE app"_s));
        QVERIFY(
            m_sim.exec(u"CREATE TABLE app.dbo.DB_PROPERTY (Name varchar(50), Value varchar(50)); "
                       u"INSERT INTO app.dbo.DB_PROPERTY VALUES ('DB_Name', 'ostrel_ts')"_s));
        QVERIFY(m_sim.exec(u"CREATE DATABASE plain"_s));
        QVERIFY(m_sim.exec(u"CREATE DATABASE other"_s));
        QVERIFY(
            m_sim.exec(u"CREATE TABLE other.dbo.DB_PROPERTY (Name varchar(50), Value varchar(50)); "
                       u"INSERT INTO other.dbo.DB_PROPERTY VALUES ('DB_Name', 'elsewhere')"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui, u"db_name_file_add=ostrel_ts\n"_s);
        QCOMPARE(listedNames(*form), (QStringList{u"app"_s, u"plain"_s, u"other"_s}));
        QTableWidget* list = listOf(*form);

        // The first row was probed when the list was filled: the application's own database.
        // The probe is a statement of its own, in the selected database; the console's result is
        // not touched, and the idle window holds no database.
        const QString probe =
            u"batch: SELECT value FROM DB_PROPERTY WHERE Name='DB_Name' and Value=N'ostrel_ts'"_s;
        const auto probedIn = [&](const QString& database) {
            const QStringList log = m_sim.log();
            const qsizetype at = log.lastIndexOf(probe);
            return at > 0 && log[at - 1] == u"batch: USE ["_s + database + u']';
        };
        QVERIFY(probedIn(u"app"_s));
        QCOMPARE(form->session().connection().defaultDatabase(), u"master"_s);
        QVERIFY(fileInDB(*form)->isEnabled());
        QVERIFY(!form->session().console().result().isOpen());
        fileInDB(*form)->setChecked(true);

        list->setCurrentCell(1, 0); // no DB_PROPERTY: the probe fails quietly
        QVERIFY(probedIn(u"plain"_s));
        QVERIFY(!fileInDB(*form)->isEnabled());
        QVERIFY(!fileInDB(*form)->isChecked());

        list->setCurrentCell(2, 0); // another application's identity
        QVERIFY(probedIn(u"other"_s));
        QVERIFY(!fileInDB(*form)->isEnabled());
        QCOMPARE(form->session().connection().defaultDatabase(), u"master"_s);
        QVERIFY(!form->session().console().result().isOpen());

        list->setCurrentCell(0, 0);
        QVERIFY(fileInDB(*form)->isEnabled());
        fileInDB(*form)->setChecked(true);
        form->RefreshListDB(); // the tick survives a refresh of the same row
        QVERIFY(fileInDB(*form)->isChecked());
        QVERIFY(ui.shown.isEmpty());
    }

    void withoutIdentityNothingChanges()
    {
        QVERIFY(m_sim.exec(u"CREATE DATABASE app"_s));
        QVERIFY(m_sim.exec(u"CREATE DATABASE plain"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        const qsizetype before = m_sim.log().size();
        listOf(*form)->setCurrentCell(1, 0);
        QCOMPARE(form->session().connection().defaultDatabase(), u"master"_s);
        QVERIFY(!form->session().console().result().isOpen());
        QCOMPARE(m_sim.log().size(), before); // nothing sent
        QVERIFY(!fileInDB(*form)->isEnabled());
    }

    // A quote in the identity stays inside its literal.
    void identityWithQuote()
    {
        QVERIFY(m_sim.exec(u"CREATE DATABASE app"_s));
        QVERIFY(
            m_sim.exec(u"CREATE TABLE app.dbo.DB_PROPERTY (Name varchar(50), Value varchar(50)); "
                       u"INSERT INTO app.dbo.DB_PROPERTY VALUES ('DB_Name', 'x')"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui, u"db_name_file_add=x' OR 'a'='a\n"_s);
        QVERIFY(!fileInDB(*form)->isEnabled());
        QVERIFY(m_sim.log().contains(
            u"batch: SELECT value FROM DB_PROPERTY WHERE Name='DB_Name' and Value=N'x'' OR ''a''=''a'"_s));
    }

    void copyRow_data()
    {
        QTest::addColumn<bool>("withDatabase");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("emptyRow");
        QTest::newRow("Ctrl+C") << true << Qt::KeyboardModifiers(Qt::ControlModifier) << false;
        QTest::newRow("Ctrl+Shift+C")
            << true << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier) << false;
        QTest::newRow("empty row") << false << Qt::KeyboardModifiers(Qt::ControlModifier) << true;
    }
    void copyRow()
    {
        QFETCH(bool, withDatabase);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, emptyRow);
        if (withDatabase)
            QVERIFY(m_sim.exec(u"CREATE DATABASE shop"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QTableWidget* list = listOf(*form);
        QGuiApplication::clipboard()->setText(u"before"_s);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_C, modifiers);
        const QString expected = emptyRow ? u"\t"_s : u"shop\t"_s + list->item(0, 1)->text();
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    }

    void doubleClickOpensDataFolder()
    {
        QVERIFY(m_sim.exec(u"CREATE DATABASE shop"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QTableWidget* list = listOf(*form);
        const QString file = list->item(0, 1)->text();
        QVERIFY(QFileInfo::exists(file));
        emit list->cellDoubleClicked(0, 1);
        QCOMPARE(ui.openedFolders, QStringList{QFileInfo(file).absolutePath() + u'/'});
    }

    void catalogueFillsFileFields_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("dataFile");
        QTest::addColumn<QString>("logFile");
        QTest::newRow("known name, other case")
            << u"SHOP"_s << u"%1shop.mdf"_s << u"/missing/default/shop.ldf"_s;
        QTest::newRow("unknown name") << u"market"_s << u"typed.mdf"_s << u"typed.ldf"_s;
        QTest::newRow("both defaults")
            << u"stock"_s << u"/missing/stock-default.mdf"_s << u"/missing/stock-default.ldf"_s;
    }
    void catalogueFillsFileFields()
    {
        QFETCH(QString, typed);
        QFETCH(QString, dataFile);
        QFETCH(QString, logFile);
        ProgramFolder folder;
        const QString existing = folder.path();
        folder.write(u"dbs.xml"_s,
                     u"<dbs><db name=\"Shop\" path_mdf=\"%1shop.mdf\" default_mdf=\"/d/shop.mdf\" "
                     u"path_ldf=\"/missing/shop.ldf\" default_ldf=\"/missing/default/shop.ldf\"/>"
                     u"<db name=\"stock\" path_mdf=\"/missing/stock.mdf\" "
                     u"default_mdf=\"/missing/stock-default.mdf\" path_ldf=\"\" "
                     u"default_ldf=\"/missing/stock-default.ldf\"/></dbs>"_s.arg(existing));
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        auto* dataField = form->findChild<QLineEdit*>(u"DBFileName"_s);
        auto* logField = form->findChild<QLineEdit*>(u"DBLogFileName"_s);
        dataField->setText(u"typed.mdf"_s);
        logField->setText(u"typed.ldf"_s);
        auto* box = form->findChild<QComboBox*>(u"DBName"_s);
        box->setFocus();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), typed);
        QCOMPARE(dataField->text(), dataFile.contains(u"%1"_s) ? dataFile.arg(existing) : dataFile);
        QCOMPARE(logField->text(), logFile);
    }

    void ctrlASelectsAll()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        auto* dataField = form->findChild<QLineEdit*>(u"DBFileName"_s);
        dataField->setText(u"/data/shop.mdf"_s);
        dataField->setFocus();
        dataField->deselect();
        QTest::keyClick(dataField, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(dataField->selectedText(), u"/data/shop.mdf"_s);
    }

    // Tabbing through the panel without typing re-reads the list at each exit but never logs in
    // again; a changed field reconnects.
    void panelExitsRefreshTheList()
    {
        QVERIFY(m_sim.exec(u"CREATE DATABASE shop"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        const qsizetype logins = m_sim.count(u"login:"_s);
        const qsizetype lists = m_sim.count(listQuery);
        auto* server = form->findChild<QLineEdit*>(u"Server"_s);
        server->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), u"isAuthorization"_s);
        QCOMPARE(m_sim.count(u"login:"_s), logins);
        QCOMPARE(m_sim.count(listQuery), lists + 3);

        auto* password = form->findChild<QLineEdit*>(u"Password"_s);
        password->setFocus();
        password->setText(u"wrong"_s);
        QTest::keyClick(password, Qt::Key_Tab);
        QCOMPARE(form->findChild<QLabel*>(u"LDBConnect"_s)->text(),
                 u"Соединение не было установлено"_s);
        QCOMPARE(listedNames(*form), QStringList{QString()});
        QVERIFY(ui.shown.isEmpty()); // a failed connection shows only in the status

        password->setFocus();
        password->setText(m_sim.password());
        QTest::mouseClick(form->findChild<QPushButton*>(u"BRefreshConnect"_s), Qt::LeftButton);
        QCOMPARE(form->findChild<QLabel*>(u"LDBConnect"_s)->text(), u"Соединение установлено"_s);
        QCOMPARE(listedNames(*form), QStringList{u"shop"_s});
    }

    // The tick switches the credentials off and connects with the system's login; the list is
    // not re-read by it.
    void authorizationTick()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        const qsizetype lists = m_sim.count(listQuery);
        auto* tick = form->findChild<QCheckBox*>(u"isAuthorization"_s);
        tick->click();
        QVERIFY(!form->findChild<QLineEdit*>(u"UserName"_s)->isEnabled());
        QVERIFY(!form->findChild<QLineEdit*>(u"Password"_s)->isEnabled());
        QCOMPARE(form->findChild<QLineEdit*>(u"Password"_s)->text(), m_sim.password());
        QVERIFY(!form->session().connection().isOpen()); // no Windows account here
        tick->click();
        QVERIFY(form->findChild<QLineEdit*>(u"UserName"_s)->isEnabled());
        QVERIFY(form->session().connection().isOpen());
        QCOMPARE(m_sim.count(listQuery), lists);
    }

    // A list query that fails is reported by the default error report, from the button.
    void listFailureIsReported()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        m_sim.process().stop();
        QTest::mouseClick(form->findChild<QPushButton*>(u"BRefreshConnect"_s), Qt::LeftButton);
        QVERIFY(!ui.shown.isEmpty());
        QCOMPARE(ui.shown.last().caption, u"Настройка базы данных"_s);
        QVERIFY(!ui.shown.last().text.contains(m_sim.password()));
        QVERIFY(m_sim.process().restart());
    }
};

DBSETUP_GUI_TEST_MAIN(TestDatabaseList)
#include "tst_databaselist.moc"
