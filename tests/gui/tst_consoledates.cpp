// Editing rows that hold a datetime in the console's grid on a session whose DATEFORMAT is not
// year-month-day: the operator (or a login whose language is Russian) has set "SET DATEFORMAT
// dmy" on the program's connection, over which the edits are written. The values go to the
// server as text in the form yyyy-mm-dd hh:mm:ss.fff, which SQL Server reads as year, day,
// month under dmy: the row must still be found by its original values, and the date written
// must be the one the operator typed.
#include "DBWorkU.h"
#include "DefaultLocale.h"
#include "GuiFixture.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

// Finds the second row only when dmy is in force on the session that runs it (year, day,
// month); under mdy the server refuses month 13.
const QString dmyProbe = u"UPDATE dbo.visits SET note = note WHERE at = '2024-13-02 09:00'"_s;

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
        QueryResult& result = form->CommonQuery;
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
};

DBSETUP_GUI_TEST_MAIN(TestConsoleDates)
#include "tst_consoledates.moc"
