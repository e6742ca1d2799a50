// A console statement that runs long leaves the window alive: it runs off the GUI thread, the
// rest of the window waits, and "Остановить" or Esc stops it on the server.
#include "DBWorkU.h"
#include "GuiFixture.h"
#include "SqlQueryTab.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// What the window looked like while the statement ran, seen from inside its event loop.
struct WhileRunning
{
    bool seen = false;
    bool stopEnabled = false;
    bool runEnabled = true;
    bool panelEnabled = true;
    bool otherTabEnabled = true;
    Qt::CursorShape cursor = Qt::ArrowCursor;
    QString status; // the status line beside the stop button, when shown
};

enum class StopBy
{
    Button,
    Escape,
    Closing
};

// From the event loop the running statement spins, once it runs: records the window's state,
// then stops the statement the way the row says. Polls by event-loop turns, never by time.
void stopOnceRunning(TFormDB& form, WhileRunning& seen, StopBy by, int turnsLeft = 100000)
{
    QTimer::singleShot(0, &form, [&form, &seen, by, turnsLeft] {
        TSqlQueryTab* tab = form.sqlQueryTab();
        if (!tab->isRunning()) {
            if (turnsLeft > 0)
                stopOnceRunning(form, seen, by, turnsLeft - 1);
            return;
        }
        auto* stop = form.findChild<QPushButton*>(u"BStopSQL"_s);
        seen.seen = true;
        seen.stopEnabled = stop->isEnabled() && stop->isVisible();
        seen.runEnabled = form.findChild<QPushButton*>(u"BOpenSQL"_s)->isEnabled() ||
                          form.findChild<QPushButton*>(u"BExecSQL"_s)->isEnabled();
        seen.panelEnabled = form.findChild<QFrame*>(u"PanelDB"_s)->isEnabled();
        seen.otherTabEnabled = form.findChild<QTabWidget*>(u"Page"_s)->isTabEnabled(0);
        seen.cursor = form.cursor().shape();
        if (const auto* status = form.findChild<QLabel*>(u"LStatus"_s); status->isVisible())
            seen.status = status->text();
        switch (by) {
        case StopBy::Button:
            QTest::mouseClick(stop, Qt::LeftButton);
            break;
        case StopBy::Escape:
            QTest::keyClick(stop, Qt::Key_Escape);
            break;
        case StopBy::Closing:
            form.close();
            break;
        }
    });
}

} // namespace

class TestConsoleStop : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;

    std::unique_ptr<TFormDB> open(ProgramFolder& folder, ScriptedOperatorUi& ui)
    {
        return openForm(folder, ui, m_sim.settings(), 2);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.process().stderrText().constData());
        QVERIFY(m_sim.exec(u"CREATE DATABASE shop"_s));
        QString values;
        for (int i = 0; i < 100; ++i)
            values += (i > 0 ? u", ("_s : u"("_s) + QString::number(i) + u')';
        QVERIFY(m_sim.exec(u"CREATE TABLE shop.dbo.n (i int); INSERT INTO shop.dbo.n VALUES "_s +
                           values));
    }

    void stop_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("byEscape");
        QTest::addColumn<QString>("message");
        // 100^6 combinations: the server would count for days.
        const QString endless =
            u"select count(*) from n a, n b, n c, n d, n e, n f where a.i + b.i + c.i + d.i + "
            u"e.i + f.i = -1"_s;
        const QString queryStopped = u"Выполнение запроса остановлено."_s;
        const QString updateStopped = u"Выполнение апдейта остановлено. То, что сервер успел "
                                      u"выполнить до остановки, сохранено."_s;
        QTest::newRow("query, button") << u"BOpenSQL"_s << endless << false << queryStopped;
        QTest::newRow("query, Esc") << u"BOpenSQL"_s << endless << true << queryStopped;
        QTest::newRow("update, button")
            << u"BExecSQL"_s << u"update n set i = i where i = ("_s + endless + u")"_s << false
            << updateStopped;
        QTest::newRow("update, Esc")
            << u"BExecSQL"_s << u"update n set i = i where i = ("_s + endless + u")"_s << true
            << updateStopped;
    }
    void stop()
    {
        QFETCH(QString, button);
        QFETCH(QString, sql);
        QFETCH(bool, byEscape);
        QFETCH(QString, message);
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QVERIFY(form);

        WhileRunning seen;
        stopOnceRunning(*form, seen, byEscape ? StopBy::Escape : StopBy::Button);
        runConsole(*form, sql, button);
        QVERIFY(seen.seen);
        QVERIFY(seen.stopEnabled);
        QVERIFY(!seen.runEnabled);
        QVERIFY(!seen.panelEnabled);
        QVERIFY(!seen.otherTabEnabled);
        QCOMPARE(seen.cursor, Qt::WaitCursor);
        QVERIFY2(
            QRegularExpression(u"^Выполняется… \\d\\d:\\d\\d$"_s).match(seen.status).hasMatch(),
            qPrintable(seen.status));
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text, message);
        // Asked for, so said as information, not as a failure.
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Information);
        QVERIFY(!form->findChild<QLabel*>(u"LStatus"_s)->isVisible());

        // Everything is back as it was, and the next statement runs.
        QVERIFY(!form->findChild<QPushButton*>(u"BStopSQL"_s)->isEnabled());
        QVERIFY(form->findChild<QPushButton*>(u"BOpenSQL"_s)->isEnabled());
        QVERIFY(form->findChild<QFrame*>(u"PanelDB"_s)->isEnabled());
        QVERIFY(form->findChild<QTabWidget*>(u"Page"_s)->isTabEnabled(0));
        QCOMPARE(form->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(form->findChild<QLabel*>(u"LDBConnect"_s)->text(), u"Соединение установлено"_s);
        ui.shown.clear();
        runConsole(*form, u"select count(*) from n"_s, u"BOpenSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(form->session().console().result().text(0, 0), u"100"_s);
        runConsole(*form, u"update n set i = i where i < 3"_s, u"BExecSQL"_s);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QCOMPARE(form->findChild<QLabel*>(u"LWorkRecordCount"_s)->text(), u"Обработано 3 записи"_s);
        // A statement the server refuses is still a failure.
        runConsole(*form, u"update nosuch set i = 1"_s, u"BExecSQL"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Error);
    }

    void runningTime_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("seconds") << qint64(12) << u"00:12"_s;
        QTest::newRow("under an hour") << qint64(3599) << u"59:59"_s;
        QTest::newRow("an hour") << qint64(3600) << u"01:00:00"_s;
        QTest::newRow("days") << qint64(100 * 3600 + 61) << u"100:01:01"_s;
    }
    void runningTime()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(RunningTimeText(seconds), text);
    }

    // Closing the window while a statement runs stops it, says nothing, and then closes.
    void closeWhileRunning()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QVERIFY(form);
        WhileRunning seen;
        stopOnceRunning(*form, seen, StopBy::Closing);
        runConsole(
            *form,
            u"select count(*) from n a, n b, n c, n d, n e, n f where a.i + b.i + c.i + d.i + "
            u"e.i + f.i = -1"_s,
            u"BOpenSQL"_s);
        QVERIFY(seen.seen);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        QVERIFY(form->isVisible()); // not while the statement ran
        QCoreApplication::processEvents();
        QVERIFY(!form->isVisible());
    }
};

DBSETUP_GUI_TEST_MAIN(TestConsoleStop)
#include "tst_consolestop.moc"
