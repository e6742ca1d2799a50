// The console keeps the operator's work (the demo's configuration, bin/sqlsim): unsaved changes,
// the rows of a long result, and files the export would replace.
#include "DBWorkU.h"
#include "DatabaseSessions.h"
#include "GuiFixture.h"
#include "TextDecoding.h"

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

using namespace Qt::StringLiterals;

class TestConsoleWork : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;
    ProgramFolder m_folder;

    std::unique_ptr<TFormDB> openConsole(ScriptedOperatorUi& ui, const QString& sql)
    {
        auto form = openForm(m_folder, ui, QString(), 2);
        auto* chooser = control<QComboBox>(*form, u"DBNameSQL"_s);
        chooser->setCurrentIndex(chooser->findText(u"ostrel_ts"_s));
        runConsole(*form, sql, u"BOpenSQL"_s);
        return form;
    }

    QString firstCity()
    {
        OdbcClient client;
        client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"ostrel_ts"_s);
        return flatten(client.exec(u"SELECT city FROM clients WHERE id = 1"_s).resultSets.value(0))
            .value(0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.process().stderrText().constData());
        prepareDemo(m_sim, m_folder);
    }

    // A city typed and left in the grid's editor, then something would replace the result, take
    // the database (a backup from the attach tab) or close the window. Answers: 0 save, 1 drop,
    // 2 go back.
    void unsavedChange_data()
    {
        QTest::addColumn<QString>("trigger"); // a button, or "close"
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("typed"); // null: the shown text again
        QTest::addColumn<bool>("goesOn");
        QTest::newRow("run, save") << u"BOpenSQL"_s << 0 << u"Тула"_s << true;
        QTest::newRow("run, drop") << u"BOpenSQL"_s << 1 << u"Тверь"_s << true;
        QTest::newRow("run, back") << u"BOpenSQL"_s << 2 << u"Тверь"_s << false;
        QTest::newRow("run, saving refused") << u"BOpenSQL"_s << 0 << QString(60, u'я') << false;
        QTest::newRow("run, nothing changed") << u"BOpenSQL"_s << 0 << QString() << true;
        QTest::newRow("refresh, back") << u"NavRefresh"_s << 2 << u"Тверь"_s << false;
        QTest::newRow("backup, back") << u"BBackupDB"_s << 2 << u"Тверь"_s << false;
        QTest::newRow("backup, drop") << u"BBackupDB"_s << 1 << u"Тверь"_s << true;
        QTest::newRow("close, back") << u"close"_s << 2 << u"Тверь"_s << false;
        QTest::newRow("close, save") << u"close"_s << 0 << u"Псков"_s << true;
    }
    void unsavedChange()
    {
        QFETCH(QString, trigger);
        QFETCH(int, answer);
        QFETCH(QString, typed);
        QFETCH(bool, goesOn);
        const QString before = firstCity();
        ScriptedOperatorUi ui;
        auto form = openConsole(ui, clientsSql());
        QueryResult& result = form->session().console().result();
        auto* grid = control<QTableView>(*form, u"ListLRecord"_s);
        grid->setCurrentIndex(result.index(0, 2));
        grid->edit(grid->currentIndex());
        typed = typed.isNull() ? before : typed;
        grid->findChild<QLineEdit*>()->setText(typed);

        const QString backup = m_folder.file(QLatin1String(QTest::currentDataTag()) + u".bak"_s);
        ui.fileAnswers = {backup};
        ui.choices = {answer};
        control<QPlainTextEdit>(*form, u"SQLText"_s)->setPlainText(u"select 1 as n"_s);
        if (trigger == u"close"_s)
            form->close();
        else
            control<QAbstractButton>(*form, trigger)->click(); // the backup's tab is hidden
        const bool asked = typed != before;
        const bool saved = asked && answer == 0 && goesOn;
        QCOMPARE(ui.choiceButtons.value(0).join(u'/'),
                 asked ? u"Сохранить/Отменить/Вернуться"_s : QString());
        QCOMPARE(shownTexts(ui).value(0), asked ? u"Изменения в таблице результата запроса не "
                                                  u"сохранены.\r\nСохранить их, отменить или "
                                                  u"вернуться к таблице?"_s
                                                : QString());
        QCOMPARE(ui.shown.size() > int(asked) && ui.shown.last().icon == OperatorUi::Icon::Error,
                 asked && answer == 0 && !goesOn); // the server's refusal
        QCOMPARE(firstCity(), saved ? typed : before);
        QCOMPARE(result.isModified(), !goesOn);
        QCOMPARE(result.fieldNames().size(), goesOn && trigger == u"BOpenSQL"_s ? 1 : 3);
        QCOMPARE(QFile::exists(backup), goesOn && trigger == u"BBackupDB"_s);
        QCOMPARE(form->isVisible(), !goesOn || trigger != u"close"_s);
        QCOMPARE(control<QTabWidget>(*form, u"Page"_s)->currentIndex(), 2);
    }

    // The list's identity check runs a statement of its own: clicking through the list leaves
    // the console's result, and a change not yet saved in it, as they were.
    void listClickKeepsTheResult()
    {
        ScriptedOperatorUi ui;
        auto form = openConsole(ui, clientsSql());
        QueryResult& result = form->session().console().result();
        QVERIFY(result.setData(result.index(0, 2), u"Тула"_s));
        QVERIFY(result.isModified());
        QVERIFY(selectListedRow(*form, u"sklad"_s));
        QVERIFY(selectListedRow(*form, u"ostrel_ts"_s));
        QVERIFY(result.isModified());
        QCOMPARE(result.fieldNames().size(), 3);
        QCOMPARE(result.text(0, 2), u"Тула"_s);
        QVERIFY(ui.shown.isEmpty());
    }

    // A result read page by page holds the database; an operation ends the reading, not the
    // rows the grid has, and the tab says why the rest is missing.
    void longResultThenOperation()
    {
        ScriptedOperatorUi ui;
        auto form = openConsole(ui, u"with d as (select 1 as i union all select i + 1 from d "
                                    u"where i < 1200) select i from d option (maxrecursion 0)"_s);
        QueryResult& result = form->session().console().result();
        QCOMPARE(OtherSessions(form->session().connection(), u"ostrel_ts"_s).size(), 1);
        ui.fileAnswers = {m_folder.file(u"long.bak"_s)};
        control<QAbstractButton>(*form, u"BBackupDB"_s)->click();
        QVERIFY(QFile::exists(m_folder.file(u"long.bak"_s)));
        QVERIFY(OtherSessions(form->session().connection(), u"ostrel_ts"_s).isEmpty());
        QCOMPARE(result.fetchedCount(), QueryResult::pageSize);
        QCOMPARE(result.text(QueryResult::pageSize - 1, 0), u"500"_s);
        auto* note = control<QLabel>(*form, u"LExportNote"_s);
        QCOMPARE(note->text(), u"Остальные записи не прочитаны из-за операции с базой: их покажет "
                               u"повторный запрос."_s);
        QVERIFY(note->toolTip().startsWith(u"В таблице 500 записей."_s));
        // Nor does an export pass the 500 off as the whole result.
        clickControl(*form, u"BCopyBuffer"_s);
        QVERIFY(ui.shown.last().text.contains(u"чтение прервано операцией с базой данных"_s));
    }

    void exportToFile_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("typed");  // the name given in the dialog
        QTest::addColumn<bool>("exists");    // export.xls is there before
        QTest::addColumn<bool>("replace");   // the answer when asked
        QTest::addColumn<int>("lost");       // characters Windows-1251 lacks ("€" it has)
        QTest::addColumn<QString>("status"); // the status line afterwards
        const QString foreign = u"select N'Müller' as a, N'北京, €' as b"_s;
        const QString copied = u"Скопировано в буфер: 12 записей."_s;
        const QString saved = u"Сохранено в файл \"export.xls\": 12 записей."_s;
        QTest::newRow("new file") << clientsSql() << u"export.xls"_s << false << false << 0
                                  << saved;
        QTest::newRow("kept") << clientsSql() << u"export.xls"_s << true << false << 0 << copied;
        QTest::newRow("replaced") << clientsSql() << u"export.xls"_s << true << true << 0 << saved;
        QTest::newRow("typed without extension")
            << clientsSql() << u"export"_s << true << false << 0 << copied;
        QTest::newRow("characters lost") << foreign << u"export.xls"_s << false << false << 3
                                         << u"Сохранено в файл \"export.xls\": 1 запись."_s;
    }
    void exportToFile()
    {
        QFETCH(QString, sql);
        QFETCH(QString, typed);
        QFETCH(bool, exists);
        QFETCH(bool, replace);
        QFETCH(int, lost);
        QFETCH(QString, status);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"export.xls"_s);
        if (exists)
            QVERIFY(writeFile(file, "old bytes"));
        ScriptedOperatorUi ui;
        auto form = openConsole(ui, sql);
        clickControl(*form, u"BCopyBuffer"_s);
        auto* line = control<QLabel>(*form, u"LStatus"_s);
        ui.fileAnswers = {dir.filePath(typed)};
        ui.answers = {replace};
        clickControl(*form, u"BSaveExcel"_s);
        QStringList told;
        if (exists)
            told << u"Файл \"%1\" уже существует. Заменить его?"_s.arg(file);
        if (lost > 0)
            told << u"Файл \"%1\" записан. В кодировке Windows-1251 нет части символов "
                    u"результата: они заменены знаком \"?\" (символов: %2)."_s.arg(file)
                        .arg(lost);
        QCOMPARE(shownTexts(ui), told);
        QCOMPARE(line->text(), status);
        QCOMPARE(readFile(file), exists && !replace ? QByteArray("old bytes")
                                                    : platform::encodeWindows1251(
                                                          QGuiApplication::clipboard()->text()));
    }

private:
    static QString clientsSql() { return u"select id, name, city from clients order by id"_s; }
};

DBSETUP_GUI_TEST_MAIN(TestConsoleWork)
#include "tst_consolework.moc"
