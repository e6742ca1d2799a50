#pragma once

#include "BackgroundCall.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class QueryResult;

namespace Ui {
class TSqlQueryTab;
}
class EventGuard;
class Session;
namespace db {
class Connection;
}

// The tab "SQL запрос": a statement batch against a chosen database, its result in a grid with
// a navigator, and the result's export.
class TSqlQueryTab : public QWidget
{
    Q_OBJECT

public:
    explicit TSqlQueryTab(QWidget* parent = nullptr);
    ~TSqlQueryTab() override;
    // The session it shows and the guard that runs its handlers; nullptr for both unbinds it.
    void bind(Session* session, EventGuard* guard);

    // The database the operator picked last (the chooser shows it while the list holds it).
    QString rememberedName() const { return m_remembered; }

    void BOpenSQLClick();
    void BExecSQLClick();
    void BCopyBufferClick();
    void BSaveExcelClick();
    // "Остановить" (Esc): asks the server to stop the running statement.
    void stopStatement();
    // Whether a statement of the console is running.
    bool isRunning() const { return m_call.isRunning(); }
    // Before the result is replaced or closed, or its database changed under it: an unsaved
    // change of the result (a cell still being typed in too) is saved or dropped as the operator
    // answers. False when the operator goes back to the grid, or saving failed (said): whatever
    // was to come must not happen.
    bool settleUnsavedEdits();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs a handler of this tab, its errors shown by the window's error report.
    void guarded(const std::function<void()>& handler);
    void fastenControls();
    void TabSQLQueryShow();
    void DBNameDropDown();
    void DBNameEnter();
    void DBNameSQLChange(const QString& name);
    // Runs work (statements on connection) off the GUI thread, the window alive but unavailable
    // except "Остановить"; a stop the operator asked for fails with stoppedText.
    void runStatement(db::Connection& connection, const std::function<void()>& work,
                      const QString& stoppedText);
    // The chooser's database, named exactly as the server gave it.
    QString chosenDatabase() const;
    // The statement text as typed, lines joined by CR LF.
    QString statementText() const;
    void bindGrid();
    void updateNavigator();
    // Tells the operator why the result cannot be changed; false when it can.
    bool sayWhyReadOnly();
    void editRecord();
    void insertRecord();
    void deleteRecord();
    void followCurrentRecord(int row);
    // The grid, on this tab, at the current record: the question may come from another tab.
    void backToGrid();
    // Says, after an export or a cut-short reading, why the grid lacks rows of the result.
    void showExportNote();
    // A short note in the status line beside the navigator, gone after a few seconds: what was
    // just done (a record saved, an export). It covers the affected-rows line meanwhile.
    void showStatus(const QString& text);
    void clearStatus();
    // The status line while a statement runs: "Выполняется… 00:12".
    void showRunning();

    QueryResult& result();

    const std::unique_ptr<Ui::TSqlQueryTab> ui;
    Session* m_session = nullptr;
    EventGuard* m_guard = nullptr;
    BackgroundCall m_call;
    QString m_remembered;
    QString m_lastExportFile;
    QTimer m_statusTimer;    // clears a note of the status line
    QTimer m_runningTicker;  // updates the running time each second
    QElapsedTimer m_running; // since the statement started
};

// The running time of a statement as the status line shows it: "00:12" (minutes and seconds),
// "01:02:03" past an hour.
QString RunningTimeText(qint64 seconds);
// What "Выполнить апдейт" did, from the count of each statement that reported one: "Обработано
// 5 записей" for one statement; the sum "Обработано 7 записей в 2 инструкциях" for several;
// "Результат неизвестен." when none reported a count.
QString AffectedRowsText(const QList<qint64>& counts);
