// The console tab against bin/sqlsim: the chooser, queries into the shared result set, updates
// with their row counts, paging, and export.
#include "DBWorkU.h"
#include "GuiFixture.h"
#include "TextDecoding.h"

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>

using namespace Qt::StringLiterals;

class TestConsole : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;

    std::unique_ptr<TFormDB> open(ProgramFolder& folder, ScriptedOperatorUi& ui,
                                  const QString& more = {})
    {
        folder.write(u"settings.ini"_s, m_sim.settings(more));
        dbsetupApp()->setErrorReporter(&ui);
        auto form = std::make_unique<TFormDB>(ui, folder.path());
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            return nullptr;
        form->findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(2);
        return form;
    }

    static void run(TFormDB& form, const QString& sql, const QString& button)
    {
        form.findChild<QPlainTextEdit*>(u"SQLText"_s)->setPlainText(sql);
        QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton);
    }

    static QString label(const TFormDB& form)
    {
        return form.findChild<QLabel*>(u"LWorkRecordCount"_s)->text();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.process().stderrText().constData());
        QVERIFY(m_sim.exec(u"CREATE DATABASE shop"_s));
        QVERIFY(m_sim.exec(u"CREATE DATABASE stock"_s));
        QVERIFY(
            m_sim.exec(u"CREATE TABLE shop.dbo.n (i int, name nvarchar(20), note nvarchar(20))"_s));
    }

    void updateCounts_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("text");
        QTest::newRow("1") << 1 << u"Обработано 1 запись"_s;
        QTest::newRow("2") << 2 << u"Обработано 2 записи"_s;
        QTest::newRow("5") << 5 << u"Обработано 5 записей"_s;
        QTest::newRow("11") << 11 << u"Обработано 11 записей"_s;
        QTest::newRow("21") << 21 << u"Обработано 21 запись"_s;
        QTest::newRow("0") << 0 << u"Обработано 0 записей"_s;
    }
    void updateCounts()
    {
        QFETCH(int, rows);
        QFETCH(QString, text);
        QVERIFY(m_sim.exec(u"DELETE FROM shop.dbo.n"_s));
        for (int i = 0; i < rows; ++i)
            QVERIFY(m_sim.exec(u"INSERT INTO shop.dbo.n VALUES (%1, N'имя', NULL)"_s.arg(i)));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui, u"[other]\nx=1\n"_s);
        QCOMPARE(form->findChild<QComboBox*>(u"DBNameSQL"_s)->currentText(), u"shop"_s);
        run(*form, u"UPDATE dbo.n SET i = i + 1"_s, u"BExecSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(label(*form), text);
        run(*form, u"SET NOCOUNT ON\nUPDATE dbo.n SET i = i + 1"_s, u"BExecSQL"_s);
        QCOMPARE(label(*form), u"Результат неизвестен."_s);
        // A failing update keeps the label.
        run(*form, u"UPDATE dbo.nosuch SET i = 1"_s, u"BExecSQL"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(label(*form), u"Результат неизвестен."_s);
    }

    // A statement without a result set is carried out; opening then fails and says so.
    void queryWithoutResult()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        run(*form, u"CREATE TABLE dbo.made (a int)"_s, u"BOpenSQL"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text, u"Запрос не вернул набор записей."_s);
        QVERIFY(!form->CommonQuery.isOpen());
        QVERIFY(m_sim.exec(u"SELECT * FROM shop.dbo.made"_s));
        QVERIFY(m_sim.exec(u"DROP TABLE shop.dbo.made"_s));
    }

    // The chooser keeps the picked database across tab changes and falls back to the first.
    void chooser()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        auto* chooser = form->findChild<QComboBox*>(u"DBNameSQL"_s);
        QCOMPARE(chooser->count(), 2);
        QTest::keyClick(chooser, Qt::Key_Down); // the operator picks "stock"
        QCOMPARE(chooser->currentText(), u"stock"_s);
        QCOMPARE(form->Connection.defaultDatabase(), u"stock"_s);
        auto* page = form->findChild<QTabWidget*>(u"Page"_s);
        page->setCurrentIndex(0);
        page->setCurrentIndex(2);
        QCOMPARE(chooser->currentText(), u"stock"_s);
        QVERIFY(m_sim.exec(u"DROP DATABASE stock"_s));
        page->setCurrentIndex(0); // the list is read again
        page->setCurrentIndex(2);
        QCOMPARE(chooser->currentText(), u"shop"_s);
        QVERIFY(m_sim.exec(u"CREATE DATABASE stock"_s));
    }

    // Rows come in pages; "last" and export read the rest.
    void pagedResultAndExport()
    {
        QVERIFY(m_sim.exec(u"DELETE FROM shop.dbo.n"_s));
        QVERIFY(
            m_sim.exec(u"WITH d AS (SELECT 1 AS i UNION ALL SELECT i + 1 FROM d WHERE i < 1200) "
                       u"INSERT INTO shop.dbo.n SELECT i, N'Имя ' + CAST(i AS nvarchar(10)), "
                       u"CASE WHEN i % 2 = 0 THEN N'a\tb' END FROM d OPTION (MAXRECURSION 0)"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        run(*form, u"SELECT i, name, note FROM dbo.n ORDER BY i"_s, u"BOpenSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(form->CommonQuery.fetchedCount(), QueryResult::pageSize);
        QCOMPARE(form->CommonQuery.currentRow(), 0);

        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(form->findChild<QPushButton*>(u"BCopyBuffer"_s), Qt::LeftButton);
        const QString text = QGuiApplication::clipboard()->text();
        const QStringList lines = text.split(u"\r\n"_s);
        QCOMPARE(lines.size(), 1 + 1200 + 1); // header, rows, the empty rest after the last CR LF
        QCOMPARE(lines[0], u"i\tname\tnote"_s);
        QCOMPARE(lines[1], u"1\tИмя 1\t"_s);
        QCOMPARE(lines[2], u"2\tИмя 2\ta\tb"_s);
        QCOMPARE(form->CommonQuery.fetchedCount(), 1200);

        // The same text in Windows-1251 in the file; a cancelled dialog writes nothing.
        const QString file = folder.path() + u"export"_s;
        ui.fileAnswers = {std::nullopt, file};
        QTest::mouseClick(form->findChild<QPushButton*>(u"BSaveExcel"_s), Qt::LeftButton);
        QVERIFY(!QFile::exists(file + u".xls"_s));
        QTest::mouseClick(form->findChild<QPushButton*>(u"BSaveExcel"_s), Qt::LeftButton);
        QCOMPARE(ui.dialogs.last().title, u"Укажите файл"_s);
        QCOMPARE(readFile(file + u".xls"_s), platform::encodeWindows1251(text));

        QTest::mouseClick(form->findChild<QToolButton*>(u"NavLast"_s), Qt::LeftButton);
        QCOMPARE(form->CommonQuery.currentRow(), 1199);
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavFirst"_s), Qt::LeftButton);
        QCOMPARE(form->findChild<QTableView*>(u"ListLRecord"_s)->currentIndex().row(), 0);
    }

    // Editing a row posts an UPDATE that changes exactly that row; insert and delete too.
    void editInsertDelete()
    {
        QVERIFY(m_sim.exec(u"CREATE TABLE shop.dbo.people (id int PRIMARY KEY, name nvarchar(20), "
                           u"city nvarchar(20)); INSERT INTO shop.dbo.people VALUES (1, N'Анна', "
                           u"N'Тверь'), (2, N'Борис', N'Тверь'), (3, N'Вера', NULL)"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        run(*form, u"SELECT * FROM people ORDER BY id"_s, u"BOpenSQL"_s);
        QueryResult& result = form->CommonQuery;
        QVERIFY2(result.isEditable(), qPrintable(result.editTarget().readOnlyReason));
        QCOMPARE(result.editTarget().keyColumns, QList<int>{0});

        QVERIFY(result.setData(result.index(1, 2), u"Псков"_s));
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavPost"_s), Qt::LeftButton);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        OdbcClient client;
        QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"shop"_s));
        const auto rows = [&] {
            return flatten(client.exec(u"SELECT id, name, city FROM dbo.people ORDER BY id"_s)
                               .resultSets.value(0));
        };
        QCOMPARE(rows(), (QStringList{u"1|Анна|Тверь"_s, u"2|Борис|Псков"_s, u"3|Вера|NULL"_s}));

        QTest::mouseClick(form->findChild<QToolButton*>(u"NavInsert"_s), Qt::LeftButton);
        QCOMPARE(result.currentRow(), 3);
        result.setData(result.index(3, 0), u"4"_s);
        result.setData(result.index(3, 1), u"Глеб"_s);
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavPost"_s), Qt::LeftButton);
        QCOMPARE(rows().last(), u"4|Глеб|NULL"_s);

        result.setCurrentRow(0);
        ui.answers = {true};
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavDelete"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.last().text, u"Удалить запись?"_s);
        QCOMPARE(rows(), (QStringList{u"2|Борис|Псков"_s, u"3|Вера|NULL"_s, u"4|Глеб|NULL"_s}));
        QCOMPARE(result.fetchedCount(), 3);
        QCOMPARE(result.text(0, 1), u"Борис"_s);
    }

    // A row changed by someone else since it was read: nothing is written, and the operator
    // is told. Without a key every original value has to match.
    void concurrentChange()
    {
        QVERIFY(m_sim.exec(u"CREATE TABLE shop.dbo.nokey (a int, b nvarchar(10)); INSERT INTO "
                           u"shop.dbo.nokey VALUES (1, N'x'), (1, N'y')"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        run(*form, u"SELECT a, b FROM nokey ORDER BY b"_s, u"BOpenSQL"_s);
        QueryResult& result = form->CommonQuery;
        QVERIFY(result.isEditable());
        QVERIFY(result.editTarget().keyColumns.isEmpty());
        QVERIFY(m_sim.exec(u"UPDATE shop.dbo.nokey SET b = N'z' WHERE b = N'x'"_s));
        result.setData(result.index(0, 0), u"5"_s);
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavPost"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text,
                 u"Запись изменена или удалена другим пользователем. Изменения не сохранены."_s);
        OdbcClient client;
        QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"shop"_s));
        QCOMPARE(
            flatten(client.exec(u"SELECT a, b FROM dbo.nokey ORDER BY b"_s).resultSets.value(0)),
            (QStringList{u"1|y"_s, u"1|z"_s}));
        QVERIFY(result.isModified()); // the change is still there to cancel
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavCancel"_s), Qt::LeftButton);
        QCOMPARE(result.text(0, 0), u"1"_s);
    }

    void joinIsReadOnly()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        run(*form, u"SELECT n.i, p.name FROM n JOIN people p ON p.id = n.i"_s, u"BOpenSQL"_s);
        QVERIFY(form->CommonQuery.isOpen());
        QVERIFY(!form->CommonQuery.isEditable());
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavEdit"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text,
                 u"Результат запроса нельзя изменить: запрос читает не одну таблицу."_s);
        QVERIFY(!form->CommonQuery.setData(form->CommonQuery.index(0, 0), u"9"_s));
    }

    // The export buttons keep to the bottom right-hand corner of the tab.
    void exportButtonsInTheCorner()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        auto* tab = form->findChild<QWidget*>(u"TabSQLQuery"_s);
        auto* save = form->findChild<QPushButton*>(u"BSaveExcel"_s);
        auto* copy = form->findChild<QPushButton*>(u"BCopyBuffer"_s);
        for (const QSize size : {tab->size(), QSize(700, 420)}) {
            tab->resize(size);
            QCOMPARE(save->geometry().bottomRight() + QPoint(1, 1),
                     QPoint(size.width() - 10, size.height() - 5));
            QCOMPARE(copy->x() + copy->width() + 5, save->x());
            QCOMPARE(copy->y(), save->y());
        }
    }

    // The list's identity probe and the console share the result set.
    void sharedWithTheList()
    {
        QVERIFY(
            m_sim.exec(u"CREATE TABLE stock.dbo.DB_PROPERTY (Name varchar(50), Value varchar(50)); "
                       u"INSERT INTO stock.dbo.DB_PROPERTY VALUES ('DB_Name', 'ostrel_ts')"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui, u"[other]\ndb_name_file_add=ostrel_ts\n"_s);
        run(*form, u"SELECT i FROM dbo.n"_s, u"BOpenSQL"_s);
        QCOMPARE(form->CommonQuery.fieldNames(), QStringList{u"i"_s});
        form->findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(0);
        auto* list = form->findChild<QTableWidget*>(u"ListDB"_s);
        list->setCurrentCell(int(listedNames(*form).indexOf(u"stock"_s)), 0);
        QCOMPARE(form->CommonQuery.fieldNames(), QStringList{u"value"_s});
        QCOMPARE(form->CommonQuery.text(0, 0), u"ostrel_ts"_s);
    }
};

DBSETUP_GUI_TEST_MAIN(TestConsole)
#include "tst_console.moc"
