// Editing rows that hold a datetime in the console's grid on a session whose DATEFORMAT is not
// year-month-day: the operator (or a login whose language is Russian) has set "SET DATEFORMAT
// dmy" on the program's connection, over which the edits are written. The values go to the
// server as text in the form yyyy-mm-dd hh:mm:ss.fff, which SQL Server reads as year, day,
// month under dmy: the row must still be found by its original values, and the date written
// must be the one the operator typed. Then a row of every date and time type, shown, exported
// and edited in the C locale and in Russian regional settings.
#include "DBWorkU.h"
#include "DefaultLocale.h"
#include "GuiFixture.h"
#include "TextDecoding.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

// Finds the second row only when dmy is in force on the session that runs it (year, day,
// month); under mdy the server refuses month 13.
const QString dmyProbe = u"UPDATE dbo.visits SET note = note WHERE at = '2024-13-02 09:00'"_s;

// The first row of dbo.moments as the driver reads it, which the C locale shows.
const QStringList firstRow{u"2024-02-05"_s,
                           u"10:15:00.1234567"_s,
                           u"2024-02-05 10:15:00.1234567"_s,
                           u"2024-02-05 10:15:00.1234567 +03:00"_s,
                           u"2024-02-05 10:15:00.003"_s,
                           u"2024-02-05 10:16:00"_s,
                           u"первая"_s};

} // namespace

class TestConsoleDates : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;

    std::unique_ptr<TFormDB> open(ProgramFolder& folder, ScriptedOperatorUi& ui)
    {
        return openForm(folder, ui, m_sim.settings(), 2);
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
        // No primary key: a row is found by every original value, the datetime among them.
        QVERIFY(m_sim.exec(u"CREATE TABLE shop.dbo.visits (at datetime, note nvarchar(20))"_s));
        // Every date and time type, each in its own TDS type; no key either.
        QVERIFY(m_sim.exec(u"CREATE TABLE shop.dbo.moments (d date, t time(7), d2 datetime2(7), "
                           u"dto datetimeoffset(7), dt datetime, sd smalldatetime, "
                           u"note nvarchar(20))"_s));
    }

    void cleanupTestCase()
    {
        m_sim.process().stop();
        const QByteArray errors = m_sim.process().stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    void editUnderDmy_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("note"); // picks the row
        QTest::addColumn<int>("column");   // 0: at, 1: note
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("stored"); // at|note, by at
        QTest::newRow("another cell of the row")
            << u"C"_s << u"первая"_s << 1 << u"изменена"_s
            << QStringList{u"2024-02-05 10:15:00.000|изменена"_s,
                           u"2024-02-13 09:00:00.000|вторая"_s};
        // Read as year, day, month this row's day is no date at all.
        QTest::newRow("another cell of a row after the 12th")
            << u"C"_s << u"вторая"_s << 1 << u"изменена"_s
            << QStringList{u"2024-02-05 10:15:00.000|первая"_s,
                           u"2024-02-13 09:00:00.000|изменена"_s};
        QTest::newRow("the datetime") << u"C"_s << u"первая"_s << 0 << u"2024-03-06 09:05:00.000"_s
                                      << QStringList{u"2024-02-13 09:00:00.000|вторая"_s,
                                                     u"2024-03-06 09:05:00.000|первая"_s};
        QTest::newRow("the datetime, Russian regional settings")
            << u"ru_RU"_s << u"первая"_s << 0 << u"06.03.2024 9:05"_s
            << QStringList{u"2024-02-13 09:00:00.000|вторая"_s,
                           u"2024-03-06 09:05:00.000|первая"_s};
    }

    void editUnderDmy()
    {
        QFETCH(QString, locale);
        QFETCH(QString, note);
        QFETCH(int, column);
        QFETCH(QString, typed);
        QFETCH(QStringList, stored);
        QVERIFY(m_sim.exec(u"DELETE FROM shop.dbo.visits; INSERT INTO shop.dbo.visits VALUES "
                           u"('2024-02-05T10:15:00', N'первая'), ('2024-02-13T09:00:00', "
                           u"N'вторая')"_s));
        const DefaultLocale regional{QLocale(locale)};
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QVERIFY(form != nullptr);

        runConsole(*form, u"SET DATEFORMAT dmy"_s, u"BExecSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        runConsole(*form, dmyProbe, u"BExecSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(label(*form), u"Обработано 1 запись"_s); // dmy is in force for the edits

        runConsole(*form, u"SELECT at, note FROM dbo.visits ORDER BY at"_s, u"BOpenSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QueryResult& result = form->session().console().result();
        QVERIFY2(result.isEditable(), qPrintable(result.editTarget().readOnlyReason));
        QVERIFY(result.editTarget().keyColumns.isEmpty());
        const int row = note == u"первая"_s ? 0 : 1;
        QCOMPARE(result.text(row, 1), note);
        QVERIFY(result.setData(result.index(row, column), typed));
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavPost"_s), Qt::LeftButton);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QVERIFY(!result.isModified());

        OdbcClient client;
        QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"shop"_s));
        const OdbcResult read = client.exec(
            u"SELECT CONVERT(varchar(23), at, 121), note FROM dbo.visits ORDER BY at"_s);
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(flatten(read.resultSets.value(0)), stored);

        // Writing the row leaves the operator's setting as it was.
        runConsole(*form, dmyProbe, u"BExecSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(label(*form), u"Обработано 1 запись"_s);
    }

    // A row of every date and time type: shown and exported in the regional settings, one cell
    // edited and written back, the row found again by every other original value (the server
    // reads each text parameter in the column's type).
    void everyDateAndTimeType_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("shown"); // the grid's and the export's fields
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored"); // the edited field afterwards, as the driver reads it
        const QStringList russian{u"05.02.2024"_s,
                                  u"10:15:00,1234567"_s,
                                  u"05.02.2024 10:15:00,1234567"_s,
                                  u"05.02.2024 10:15:00,1234567 +03:00"_s,
                                  u"05.02.2024 10:15:00,003"_s,
                                  u"05.02.2024 10:16:00"_s,
                                  u"первая"_s};
        const auto row = [&](const char* tag, const QString& locale, int column,
                             const QString& typed, const QString& stored) {
            QTest::newRow(tag) << locale << (locale == u"C"_s ? firstRow : russian) << column
                               << typed << stored;
        };
        row("C, another cell", u"C"_s, 6, u"изменена"_s, u"изменена"_s);
        row("ru_RU, another cell", u"ru_RU"_s, 6, u"изменена"_s, u"изменена"_s);
        row("C, date", u"C"_s, 0, u"2024-03-06"_s, u"2024-03-06"_s);
        row("ru_RU, date", u"ru_RU"_s, 0, u"06.03.2024"_s, u"2024-03-06"_s);
        row("ru_RU, time(7)", u"ru_RU"_s, 1, u"11:30:00,5"_s, u"11:30:00.5000000"_s);
        row("C, time(7)", u"C"_s, 1, u"11:30:00.0000001"_s, u"11:30:00.0000001"_s);
        row("ru_RU, datetime2(7)", u"ru_RU"_s, 2, u"06.03.2024 09:05:00,0000001"_s,
            u"2024-03-06 09:05:00.0000001"_s);
        row("ru_RU, datetimeoffset(7)", u"ru_RU"_s, 3, u"06.03.2024 09:05:00 -05:00"_s,
            u"2024-03-06 09:05:00.0000000 -05:00"_s);
        row("C, datetimeoffset(7)", u"C"_s, 3, u"2024-03-06 09:05:00.1 +00:00"_s,
            u"2024-03-06 09:05:00.1000000 +00:00"_s);
        row("C, datetime", u"C"_s, 4, u"2024-03-06 09:05:00.007"_s, u"2024-03-06 09:05:00.007"_s);
        row("ru_RU, datetime", u"ru_RU"_s, 4, u"06.03.2024 9:05:00,003"_s,
            u"2024-03-06 09:05:00.003"_s);
        // smalldatetime keeps the minute: 29.999 seconds round up.
        row("ru_RU, smalldatetime", u"ru_RU"_s, 5, u"06.03.2024 9:05:29,999"_s,
            u"2024-03-06 09:06:00"_s);
        row("C, smalldatetime", u"C"_s, 5, u"2024-03-06 09:05"_s, u"2024-03-06 09:05:00"_s);
    }

    void everyDateAndTimeType()
    {
        QFETCH(QString, locale);
        QFETCH(QStringList, shown);
        QFETCH(int, column);
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        const QString columns = u"d, t, d2, dto, dt, sd, note"_s;
        QVERIFY(m_sim.exec(u"DELETE FROM shop.dbo.moments; INSERT INTO shop.dbo.moments VALUES "
                           u"('2024-02-05', '10:15:00.1234567', '2024-02-05 10:15:00.1234567', "
                           u"'2024-02-05 10:15:00.1234567 +03:00', '2024-02-05 10:15:00.003', "
                           u"'2024-02-05 10:15:30', N'первая'), ('2024-02-05', "
                           u"'10:15:00.1234568', '2024-02-05 10:15:00.1234568', "
                           u"'2024-02-05 10:15:00.1234568 +03:00', '2024-02-05 10:15:00.007', "
                           u"'2024-02-05 10:16:00', N'первая')"_s));
        const DefaultLocale regional{QLocale(locale)};
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QVERIFY(form != nullptr);

        runConsole(*form, u"SELECT %1 FROM dbo.moments ORDER BY dt"_s.arg(columns), u"BOpenSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QueryResult& result = form->session().console().result();
        QCOMPARE(result.record(0), shown);

        QTemporaryDir dir;
        ui.fileAnswers = {dir.filePath(u"moments"_s)};
        clickControl(*form, u"BSaveExcel"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        const QStringList lines =
            platform::decodeWindows1251(readFile(dir.filePath(u"moments.xls"_s))).split(u"\r\n"_s);
        QCOMPARE(lines.value(0), QString(columns).remove(u' ').replace(u',', u'\t'));
        QCOMPARE(lines.value(1), shown.join(u'\t'));

        // The second row differs from the first by 100 ns or 1/300 second in each date and
        // time column: the write-back must compare every one of them at its full precision.
        QVERIFY2(result.isEditable(), qPrintable(result.editTarget().readOnlyReason));
        QVERIFY(result.setData(result.index(0, column), typed));
        QTest::mouseClick(form->findChild<QToolButton*>(u"NavPost"_s), Qt::LeftButton);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QVERIFY(!result.isModified());

        OdbcClient client;
        QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"shop"_s));
        const OdbcResult read = client.exec(
            u"SELECT %1 FROM dbo.moments ORDER BY CASE WHEN dt = '2024-02-05 10:15:00.007' "
            u"AND t = '10:15:00.1234568' THEN 1 ELSE 0 END"_s.arg(columns));
        QVERIFY2(read.ok, qPrintable(read.error));
        const QStringList rows = flatten(read.resultSets.value(0));
        QCOMPARE(rows.size(), 2);
        QStringList edited = rows[0].split(u'|');
        QCOMPARE(edited.value(column), stored);
        // Nothing else of the row changed, and the other row not at all.
        QStringList before = firstRow;
        edited.removeAt(column);
        before.removeAt(column);
        QCOMPARE(edited, before);
        QCOMPARE(rows[1], u"2024-02-05|10:15:00.1234568|2024-02-05 10:15:00.1234568|"
                          u"2024-02-05 10:15:00.1234568 +03:00|2024-02-05 10:15:00.007|"
                          u"2024-02-05 10:16:00|первая"_s);
    }
};

DBSETUP_GUI_TEST_MAIN(TestConsoleDates)
#include "tst_consoledates.moc"
