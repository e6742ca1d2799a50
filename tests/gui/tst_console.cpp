// The console tab against bin/sqlsim: the chooser, queries into the shared result set, updates
// with their row counts, paging, export, and field texts in the regional settings.
#include "DBWorkU.h"
#include "DefaultLocale.h"
#include "GuiFixture.h"
#include "TextDecoding.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
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
        return openForm(folder, ui, m_sim.settings(more), 2);
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
        runConsole(*form, u"UPDATE dbo.n SET i = i + 1"_s, u"BExecSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(label(*form), text);
        runConsole(*form, u"SET NOCOUNT ON\nUPDATE dbo.n SET i = i + 1"_s, u"BExecSQL"_s);
        QCOMPARE(label(*form), u"Результат неизвестен."_s);
        // A failing update keeps the label.
        runConsole(*form, u"UPDATE dbo.nosuch SET i = 1"_s, u"BExecSQL"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(label(*form), u"Результат неизвестен."_s);
    }

    // A batch: the sum over the statements that reported a count, and over how many; one count
    // among other statements reads as for one statement.
    void batchCounts_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("two updates")
            << u"UPDATE dbo.n SET i = i WHERE i < 2\nUPDATE dbo.n SET i = i WHERE i >= 2"_s
            << u"Обработано 5 записей в 2 инструкциях"_s << u"По инструкциям: 2 + 3"_s;
        QTest::newRow("one count and a select")
            << u"UPDATE dbo.n SET i = i WHERE i < 2; SELECT * FROM dbo.n"_s
            << u"Обработано 2 записи"_s << QString();
        QTest::newRow("21 inserts")
            << u"INSERT INTO dbo.n VALUES (9, NULL, NULL)\n"_s.repeated(21)
            << u"Обработано 21 запись в 21 инструкции"_s
            << u"По инструкциям: "_s + QStringList(21, u"1"_s).join(u" + "_s);
    }
    void batchCounts()
    {
        QFETCH(QString, sql);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        QVERIFY(m_sim.exec(u"DELETE FROM shop.dbo.n; INSERT INTO shop.dbo.n VALUES (0, NULL, "
                           u"NULL), (1, NULL, NULL), (2, NULL, NULL), (3, NULL, NULL), (4, NULL, "
                           u"NULL)"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        runConsole(*form, sql, u"BExecSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(label(*form), text);
        QCOMPARE(form->findChild<QLabel*>(u"LWorkRecordCount"_s)->toolTip(), toolTip);
    }

    // A statement without a result set is carried out; opening then fails and says so.
    void queryWithoutResult()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        runConsole(*form, u"CREATE TABLE dbo.made (a int)"_s, u"BOpenSQL"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text, u"Запрос не вернул набор записей."_s);
        QVERIFY(!form->session().console().result().isOpen());
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
        // Made current while the pick is handled; the idle window holds no database.
        QCOMPARE(m_sim.log().last(), u"batch: USE master"_s);
        QVERIFY(m_sim.log().contains(u"batch: USE [stock]"_s));
        QCOMPARE(form->session().connection().defaultDatabase(), u"master"_s);
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
        runConsole(*form, u"SELECT i, name, note FROM dbo.n ORDER BY i"_s, u"BOpenSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(form->session().console().result().fetchedCount(), QueryResult::pageSize);
        QCOMPARE(form->session().console().result().currentRow(), 0);

        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(form->findChild<QPushButton*>(u"BCopyBuffer"_s), Qt::LeftButton);
        const QString text = QGuiApplication::clipboard()->text();
        const QStringList lines = text.split(u"\r\n"_s);
        QCOMPARE(lines.size(), 1 + 1200 + 1); // header, rows, the empty rest after the last CR LF
        QCOMPARE(lines[0], u"i\tname\tnote"_s);
        QCOMPARE(lines[1], u"1\tИмя 1\t"_s);
        QCOMPARE(lines[2], u"2\tИмя 2\ta\tb"_s);
        // The rows past the grid's went to the clipboard without being kept, and the tab says so.
        auto* note = form->findChild<QLabel*>(u"LExportNote"_s);
        QCOMPARE(form->session().console().result().fetchedCount(), QueryResult::pageSize);
        QCOMPARE(note->text(),
                 u"В таблице 500 записей из 1200: остальные выгружены без сохранения."_s);
        QCOMPARE(note->toolTip(), note->text() + u" Выполните запрос снова, чтобы увидеть их."_s);
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavLast"_s), Qt::LeftButton);
        QCOMPARE(form->session().console().result().currentRow(), QueryResult::pageSize - 1);

        // A second export would lack them: it refuses and writes nothing.
        const QString file = folder.path() + u"export"_s;
        ui.fileAnswers = {file};
        QTest::mouseClick(form->findChild<QPushButton*>(u"BSaveExcel"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 1);
        QVERIFY2(ui.shown[0].text.startsWith(u"Записи этого результата, которых нет в таблице"_s),
                 qPrintable(ui.shown[0].text));
        QVERIFY(!QFile::exists(file + u".xls"_s));
        ui.shown.clear();

        // Run again: the same text in Windows-1251 in the file; a cancelled dialog writes nothing.
        runConsole(*form, u"SELECT i, name, note FROM dbo.n ORDER BY i"_s, u"BOpenSQL"_s);
        QVERIFY(note->text().isEmpty());
        ui.fileAnswers = {std::nullopt, file};
        QTest::mouseClick(form->findChild<QPushButton*>(u"BSaveExcel"_s), Qt::LeftButton);
        QVERIFY(!QFile::exists(file + u".xls"_s));
        QTest::mouseClick(form->findChild<QPushButton*>(u"BSaveExcel"_s), Qt::LeftButton);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(ui.dialogs.last().title, u"Укажите файл"_s);
        QCOMPARE(readFile(file + u".xls"_s), platform::encodeWindows1251(text));

        // Browsed to the end first, the grid keeps every row and exports them again and again.
        runConsole(*form, u"SELECT i, name, note FROM dbo.n ORDER BY i"_s, u"BOpenSQL"_s);
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavLast"_s), Qt::LeftButton);
        QCOMPARE(form->session().console().result().currentRow(), 1199);
        QTest::mouseClick(form->findChild<QPushButton*>(u"BCopyBuffer"_s), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
        QTest::mouseClick(form->findChild<QPushButton*>(u"BCopyBuffer"_s), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
        QVERIFY(note->text().isEmpty());
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
        runConsole(*form, u"SELECT * FROM people ORDER BY id"_s, u"BOpenSQL"_s);
        QueryResult& result = form->session().console().result();
        QVERIFY2(result.isEditable(), qPrintable(result.editTarget().readOnlyReason));
        QCOMPARE(result.editTarget().keyColumns, QList<int>{0});

        auto* status = form->findChild<QLabel*>(u"LStatus"_s);
        QVERIFY(result.setData(result.index(1, 2), u"Псков"_s));
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavPost"_s), Qt::LeftButton);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(status->text(), u"Изменения записи сохранены."_s);
        QVERIFY(status->isVisible());
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
        QCOMPARE(status->text(), u"Новая запись сохранена."_s);

        result.setCurrentRow(0);
        ui.answers = {true};
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavDelete"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.last().text, u"Удалить запись?"_s);
        QCOMPARE(rows(), (QStringList{u"2|Борис|Псков"_s, u"3|Вера|NULL"_s, u"4|Глеб|NULL"_s}));
        QCOMPARE(status->text(), u"Запись удалена."_s);
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
        runConsole(*form, u"SELECT a, b FROM nokey ORDER BY b"_s, u"BOpenSQL"_s);
        QueryResult& result = form->session().console().result();
        QVERIFY(result.isEditable());
        QVERIFY(result.editTarget().keyColumns.isEmpty());
        QVERIFY(m_sim.exec(u"UPDATE shop.dbo.nokey SET b = N'z' WHERE b = N'x'"_s));
        result.setData(result.index(0, 0), u"5"_s);
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavPost"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text,
                 u"Запись изменена или удалена другим пользователем. Изменения не сохранены."_s);
        QVERIFY(!form->findChild<QLabel*>(u"LStatus"_s)->isVisible()); // nothing saved to say
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
        runConsole(*form, u"SELECT n.i, p.name FROM n JOIN people p ON p.id = n.i"_s,
                   u"BOpenSQL"_s);
        QVERIFY(form->session().console().result().isOpen());
        QVERIFY(!form->session().console().result().isEditable());
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavEdit"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text,
                 u"Результат запроса нельзя изменить: запрос читает не одну таблицу."_s);
        QVERIFY(!form->session().console().result().setData(
            form->session().console().result().index(0, 0), u"9"_s));
    }

    // Without a result both buttons report it and touch nothing: the clipboard keeps its text,
    // no file appears, an existing one keeps its bytes. The save dialog still comes first.
    void exportWithoutResult_data()
    {
        QTest::addColumn<QStringList>("queries");
        QTest::addColumn<bool>("existingFile");
        const QStringList failed{u"SELECT * FROM dbo.nosuch"_s};
        const QStringList failedSecond{u"SELECT i FROM dbo.n"_s, u"SELECT * FROM dbo.nosuch"_s};
        QTest::newRow("never run") << QStringList{} << false;
        QTest::newRow("never run, file exists") << QStringList{} << true;
        QTest::newRow("failed query") << failed << false;
        QTest::newRow("failed query, file exists") << failed << true;
        QTest::newRow("failed after a good one") << failedSecond << false;
        QTest::newRow("failed after a good one, file exists") << failedSecond << true;
    }
    void exportWithoutResult()
    {
        QFETCH(QStringList, queries);
        QFETCH(bool, existingFile);
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        for (const QString& sql : queries)
            runConsole(*form, sql, u"BOpenSQL"_s);
        QCOMPARE(ui.shown.size(), queries.isEmpty() ? 0 : 1); // the failed query's own error
        QVERIFY(!form->session().console().result().isOpen());
        const QString message = u"Нет результата запроса: выполните запрос."_s;

        QGuiApplication::clipboard()->setText(u"прежний текст"_s);
        QTest::mouseClick(form->findChild<QPushButton*>(u"BCopyBuffer"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), queries.isEmpty() ? 1 : 2);
        QCOMPARE(ui.shown.last().icon, OperatorUi::Icon::Error);
        QCOMPARE(ui.shown.last().text, message);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"прежний текст"_s);

        const QString file = folder.file(u"export.xls"_s);
        if (existingFile)
            QVERIFY(writeFile(file, "old bytes"));
        const QStringList before = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        ui.fileAnswers = {file};
        QTest::mouseClick(form->findChild<QPushButton*>(u"BSaveExcel"_s), Qt::LeftButton);
        QCOMPARE(ui.dialogs.size(), 1);
        QCOMPARE(ui.shown.last().text, message);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), before);
        if (existingFile)
            QCOMPARE(readFile(file), QByteArray("old bytes"));
        else
            QVERIFY(!QFile::exists(file));
    }

    // Under Russian regional settings the grid, the clipboard and the file show a decimal comma
    // and day.month.year; an edit typed that way reaches the server in its own form.
    void russianRegionalSettings()
    {
        QVERIFY(m_sim.exec(
            u"CREATE TABLE shop.dbo.sale (id int PRIMARY KEY, name nvarchar(20), amount "
            u"decimal(10,2), at datetime, rate float); INSERT INTO shop.dbo.sale VALUES (1, "
            u"N'Ёлка', 1234.5, '2024-02-05 10:15:00', 0.1), (2, N'Шар', -0.75, "
            u"'2023-12-31 23:59:59.997', NULL)"_s));
        const DefaultLocale locale(QLocale(QLocale::Russian, QLocale::Russia));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        runConsole(*form, u"SELECT * FROM sale ORDER BY id"_s, u"BOpenSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        auto* grid = form->findChild<QTableView*>(u"ListLRecord"_s);
        const auto shown = [grid](int row, int column) {
            return grid->model()->index(row, column).data().toString();
        };
        QCOMPARE(shown(0, 2), u"1234,50"_s);
        QCOMPARE(shown(0, 3), u"05.02.2024 10:15:00"_s);
        QCOMPARE(shown(0, 4), u"0,1"_s);
        QCOMPARE(shown(1, 3), u"31.12.2023 23:59:59,997"_s);

        QTest::mouseClick(form->findChild<QPushButton*>(u"BCopyBuffer"_s), Qt::LeftButton);
        const QString expected = u"id\tname\tamount\tat\trate\r\n"
                                 u"1\tЁлка\t1234,50\t05.02.2024 10:15:00\t0,1\r\n"
                                 u"2\tШар\t-0,75\t31.12.2023 23:59:59,997\t\r\n"_s;
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        const QString file = folder.file(u"продажи.xls"_s);
        ui.fileAnswers = {file};
        QTest::mouseClick(form->findChild<QPushButton*>(u"BSaveExcel"_s), Qt::LeftButton);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(readFile(file), platform::encodeWindows1251(expected));

        // The operator edits in the grid's editor, which offers the shown text.
        const QModelIndex amount = grid->model()->index(0, 2);
        grid->setCurrentIndex(amount);
        grid->edit(amount);
        auto* editor = grid->findChild<QLineEdit*>();
        QVERIFY(editor != nullptr);
        QCOMPARE(editor->text(), u"1234,50"_s);
        editor->setText(u"12,5"_s);
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::sendPostedEvents(); // the delegate commits through a queued call
        QCOMPARE(shown(0, 2), u"12,5"_s);
        QVERIFY(form->session().console().result().setData(grid->model()->index(0, 3),
                                                           u"06.03.2024 9:05"_s));
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavPost"_s), Qt::LeftButton);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        OdbcClient client;
        QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"shop"_s));
        QCOMPARE(flatten(client.exec(u"SELECT amount, at, rate FROM dbo.sale ORDER BY id"_s)
                             .resultSets.value(0)),
                 (QStringList{u"12.50|2024-03-06 09:05:00.000|0.1"_s,
                              u"-0.75|2023-12-31 23:59:59.997|NULL"_s}));
        QCOMPARE(shown(0, 3), u"06.03.2024 09:05:00"_s);

        // A date the Russian form cannot read reaches the server as typed, which refuses it.
        QVERIFY(form->session().console().result().setData(grid->model()->index(1, 3),
                                                           u"31.02.2024"_s));
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavPost"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 1);
        QVERIFY2(ui.shown[0].text.contains(u"The conversion of a nvarchar data type to a datetime "
                                           u"data type resulted in an out-of-range value."_s),
                 qPrintable(ui.shown[0].text));
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
        auto* note = form->findChild<QLabel*>(u"LExportNote"_s);
        for (const QSize size : {tab->size(), QSize(700, 420)}) {
            tab->resize(size);
            QCOMPARE(save->geometry().bottomRight() + QPoint(1, 1),
                     QPoint(size.width() - 10, size.height() - 5));
            QCOMPARE(copy->x() + copy->width() + 5, save->x());
            QCOMPARE(copy->y(), save->y());
            // The note after an export fills the room under the grid, left of the buttons.
            QCOMPARE(note->y(), save->y() - 4);
            QCOMPARE(note->geometry().bottom() + 1, size.height());
            QCOMPARE(note->geometry().right() + 1 + 5, copy->x());
        }
    }

    // The list's identity probe has a statement of its own: the console's result stays.
    void listProbeLeavesTheResult()
    {
        QVERIFY(
            m_sim.exec(u"CREATE TABLE stock.dbo.DB_PROPERTY (Name varchar(50), Value varchar(50)); "
                       u"INSERT INTO stock.dbo.DB_PROPERTY VALUES ('DB_Name', 'ostrel_ts')"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui, u"[other]\ndb_name_file_add=ostrel_ts\n"_s);
        runConsole(*form, u"SELECT i FROM dbo.n"_s, u"BOpenSQL"_s);
        QCOMPARE(form->session().console().result().fieldNames(), QStringList{u"i"_s});
        form->findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(0);
        auto* list = form->findChild<QTableWidget*>(u"ListDB"_s);
        list->setCurrentCell(int(listedNames(*form).indexOf(u"stock"_s)), 0);
        QVERIFY(form->findChild<QCheckBox*>(u"isFileInDB"_s)->isEnabled()); // it was probed
        QCOMPARE(form->session().console().result().fieldNames(), QStringList{u"i"_s});
    }
};

DBSETUP_GUI_TEST_MAIN(TestConsole)
#include "tst_console.moc"
