#pragma once

#include "EventGuard.h"
#include "Session.h"
#include "SettingsFolder.h"

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class TFormDB;
}
class TAttachTab;
class TRestoreTab;
class TSqlQueryTab;

// The main window: the connection panel on top and the three working tabs below, a view over
// the session that holds the program's state, connections and operations.
class TFormDB : public QWidget
{
    Q_OBJECT

public:
    // settingsDir holds settings.ini and dbs.xml (the folder chosen at start; tests give their
    // own).
    explicit TFormDB(OperatorUi& operatorUi,
                     const QString& settingsDir = platform::settingsFolder(),
                     QWidget* parent = nullptr);
    ~TFormDB() override;

    static QString captionPrefix();

    Session& session() { return m_session; }
    TAttachTab* attachTab() const;
    TRestoreTab* restoreTab() const;
    TSqlQueryTab* sqlQueryTab() const;

    // Runs an event handler of the window: an error that leaves it is shown by the default error
    // report, as the operator expects, and the program carries on; a connection that the error
    // found lost turns the status line red. Errors never travel through Qt's own frames.
    void handleEvent(const std::function<void()>& handler) { m_guard.handleEvent(handler); }
    // While a console statement runs off the GUI thread: the panel and the other tabs are
    // unavailable, the cursor waits, and no other handler of the window runs.
    void setBusy(bool busy) { m_guard.setBusy(busy); }
    bool isBusy() const { return m_guard.isBusy(); }

    bool ConnectServer();
    void RefreshListDB();
    QString GetLastBackupFile();
    // Attaches a database and, for a Windows login, gives it a row in the database's DBUsers.
    // Returns what the attach could not do (its start-up procedure), for the operator.
    QString AddUserToDBUsers(const QString& databaseName, const QString& dataFile,
                             bool windowsLogin, const QString& logFile);
    BackupOutcome BackupDB(const QString& databaseName, const QString& installDir,
                           const QString& backupFile, bool addFiles, bool showProgress,
                           bool verify = false, bool copyOnly = false);
    void RestoreDB(const QString& databaseName, const QString& backupFile,
                   const QString& restoreFolder, const QString& installDir, bool replace,
                   bool extractFiles, bool showProgress, bool askVersion);
    // The batch mode over this window's session: runs it when the command line asks for one and
    // says so. Errors leave it.
    bool isCommandCMD(const QStringList& arguments);

    // The connection panel's handlers.
    void ServerExit();
    void BRefreshConnectClick();
    void isAuthorizationClick();

    // Whether the restore tab's backup file name is still to be tidied.
    bool backupFileTidyPending() const { return Timer1.isActive(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Closing while a console statement runs stops it first; the window closes once it has.
    // Closing while a backup or restore runs waits for it, and says so in the progress window.
    // The window's size and place are kept for the next start.
    void closeEvent(QCloseEvent* event) override;

private:
    // Start-up: runs once while the window is created; an error ends it and is reported.
    void FormCreate();
    // The panel's fields as the session's login has them.
    void showLogin();
    // "Соединение установлено" in blue, or "Соединение не было установлено" in red with the
    // reason.
    void showConnected(bool connected, const QString& reason);
    // Tidies the restore tab's backup file name half a second after it was set.
    void Timer1Timer();
    void showBusy(bool busy);
    // Ctrl+Tab, Ctrl+PgDn (step 1) and Ctrl+Shift+Tab, Ctrl+PgUp (step -1).
    void stepTab(int step);

    std::unique_ptr<Ui::TFormDB> ui;
    Session m_session;
    EventGuard m_guard{m_session};
    QTimer Timer1;
    bool m_starting = false;
    bool m_closing = false;
    QList<int> m_tabsDisabled;          // the tabs setBusy made unavailable
    bool m_closeWhenIdle = false;       // the operator closed the window while a statement ran
    bool m_closeAfterOperation = false; // the operator closed the window meanwhile
    bool m_connectedShown = false; // the status line says "Соединение установлено"
};
