#pragma once

#include "Connection.h"
#include "DatabaseFlows.h"
#include "NameValueList.h"
#include "OperatorUi.h"
#include "PathMacros.h"
#include "QueryResult.h"
#include "ServerConnection.h"
#include "ServerDisk.h"

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class TFormDB;
}
class TAttachTab;
class TRestoreTab;
class TSqlQueryTab;
class QLineEdit;

// The main window: the connection panel on top, the three working tabs below, and the state
// every operation shares. Each tab is a class of its own that reaches this state through the
// window.
class TFormDB : public QWidget, private ConnectionPanel
{
    Q_OBJECT

public:
    // programDir holds settings.ini and dbs.xml (the executable's folder; tests give their own).
    explicit TFormDB(OperatorUi& operatorUi, const QString& programDir = GetAppDir(),
                     QWidget* parent = nullptr);
    ~TFormDB() override;

    static QString captionPrefix();

    QString _ConnectString;
    QString _InstallDir;
    QString _CurrentDBName;
    QString _ApprNamePathName;
    qint64 _MaxSizeAddDB = 0;
    QString _DBNameFileAdd;
    NameValueList _ListDBPath;

    // The one connection to the server.
    db::Connection Connection;
    // The console's result set (also used by the list's identity probe). It reads over a
    // session of its own to the same server, so that a long result can stay open, fetched page
    // by page, while the list, backup and the rest use the main connection.
    db::Connection QueryConnection;
    QueryResult CommonQuery;
    // Opens CommonQuery on a statement run in the database. The console's session returns to
    // master once the result is read whole (or the statement failed), so that it holds no
    // database between queries.
    void OpenCommonQuery(const QString& database, const QString& sql, int timeoutSeconds);
    // The same in two steps, for a statement run off the GUI thread while the window is busy:
    // ReadCommonQuery runs it over the console's session (opened when needed) and touches no
    // control; ShowCommonQuery, on the GUI thread, makes it CommonQuery.
    QueryResult::FirstPage ReadCommonQuery(const QString& database, const QString& sql,
                                           int timeoutSeconds);
    void ShowCommonQuery(QueryResult::FirstPage page);
    // Before an operation on a whole database (attach, detach, backup, restore): an unsaved change
    // of the console's result is saved or dropped as the operator answers; a result still being
    // read stops reading and keeps the rows it has (its session holds the database), and the
    // console's session returns to master. Throws CancelledByOperator when the operator goes back
    // to the grid (or saving failed, which was said): the operation must not run.
    void ReleaseConsoleSession();
    // Runs the shown result's statement again, once an unsaved change is settled.
    void RefreshCommonQuery();
    // Lets the console's result be written back when it comes from one table: changes go over
    // the main connection in the database, each in a transaction that only commits when it
    // touched exactly the one row.
    void MakeCommonQueryEditable(const QString& database, const QString& sql);
    // Tidies the restore tab's backup file name half a second after it was set.
    QTimer Timer1;

    // The disk the server's files are on: this machine's, or the server's own when it runs on
    // another machine (then the browse buttons show the server's disks).
    ServerDisk& serverDisk() { return m_disk; }

    OperatorUi& operatorUi() const { return m_operator; }
    // While a console statement runs off the GUI thread: the panel and the other tabs are
    // unavailable, the cursor waits, and no other handler of the window runs.
    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }
    // Runs an event handler of the window: an error that leaves it is shown by the default error
    // report, as the operator expects, and the program carries on; a connection that the error
    // found lost turns the status line red. Errors never travel through Qt's own frames.
    void handleEvent(const std::function<void()>& handler);
    // The tick "Учетная запись Windows NT": the connection uses the Windows login.
    bool windowsLogin() const { return isAuthorization(); }
    TAttachTab* attachTab() const;
    TRestoreTab* restoreTab() const;
    TSqlQueryTab* sqlQueryTab() const;

    bool ConnectServer();
    void RefreshListDB();
    QString GetLastBackupFile();

    // Attaches a database and, for a Windows login, gives it a row in the database's DBUsers.
    // Returns what the attach could not do (its start-up procedure), for the operator.
    QString AddUserToDBUsers(const QString& databaseName, const QString& dataFile,
                             bool windowsLogin, const QString& logFile);

    // Backup and restore with the window's state (the flows themselves live in src/admin).
    BackupOutcome BackupDB(const QString& databaseName, const QString& installDir,
                           const QString& backupFile, bool addFiles, bool showProgress,
                           bool verify = false, bool copyOnly = false);
    // Keeps one of the operator's choices in settings.ini for the next start; a file that cannot
    // be written is said once, and the choice holds for this run.
    void rememberSetting(const QString& key, const QString& value);
    void RestoreDB(const QString& databaseName, const QString& backupFile,
                   const QString& restoreFolder, const QString& installDir, bool replace,
                   bool extractFiles, bool showProgress, bool askVersion);
    // Processes pending window messages while the server works.
    static void PumpMessages();

    // The batch mode: runs it when the command line asks for one and says so. Errors leave it.
    bool isCommandCMD(const QStringList& arguments);
    void RunBackupCommand(const QStringList& arguments);
    void RunRestoreCommand(const QStringList& arguments);

    // A batch run that talks on stderr: the summary line says what a success box would.
    bool unattended = false;
    // Whether a stop was asked for (a signal to a batch run): the running statement is cancelled
    // and the flow recovers as after a failure. Never throws.
    std::function<bool()> stopRequested;
    // Where free space is looked up before a backup; tests make the disk as full as they need.
    std::function<std::optional<quint64>(const QString& path)> freeBytes;
    // Wraps each file the window writes (extracted application files, exports); tests make the
    // disk fill up part way.
    std::function<std::unique_ptr<QIODevice>(QIODevice& file)> wrapOutput;

    // The connection panel's handlers.
    void ServerExit();
    void BRefreshConnectClick();
    void isAuthorizationClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Closing while a console statement runs stops it first; the window closes once it has.
    // Closing while a backup or restore runs waits for it, and says so in the progress window.
    void closeEvent(QCloseEvent* event) override;

private:
    // Start-up: runs once while the window is created; an error ends it and is reported.
    void FormCreate();
    // Reads settings.ini into the panel, the tabs and the state fields.
    void ReadSettings(const QString& path);
    void Timer1Timer();
    FlowContext flowContext();
    // Applies the batch run's UDL file or connection string, connects, and names the database
    // the run works on.
    QString connectForBatch(const QString& databaseName, const QString& fileUdl,
                            const QString& connectionString);
    // The console's session leaves whatever database it is in (closed when it cannot).
    void leaveConsoleDatabase();
    // After a connection to another server: a server on another machine gets its own default
    // restore folder in place of the one under the installation folder, and back.
    void adaptToServerDisk();
    // The server's progress of a backup or restore ("Выполнено 40%"); < 0 clears it.
    void showServerPercent(int percent, const QString& step);

    // ConnectionPanel
    QString server() const override;
    void setServer(const QString& text) override;
    QString userName() const override;
    void setUserName(const QString& text) override;
    QString password() const override;
    void setPassword(const QString& text) override;
    bool isAuthorization() const override;
    void setAuthorization(bool on) override;
    void showConnected(bool connected, const QString& reason) override;

    std::unique_ptr<Ui::TFormDB> ui;
    OperatorUi& m_operator;
    QString m_commonQueryDatabase;
    QString m_commonQuerySql;
    int m_commonQueryTimeout = 0;
    QString m_programDir;
    ServerConnection m_server;
    ServerDisk m_disk{Connection};
    QString m_diskAdaptedFor;      // the connection adaptToServerDisk last looked at
    QString m_serverRestoreFolder; // the restore folder it put in place of the start-up one
    bool m_starting = false;
    bool m_closing = false;
    bool m_busy = false;
    QList<int> m_tabsDisabled;          // the tabs setBusy made unavailable
    bool m_closeWhenIdle = false;       // the operator closed the window while a statement ran
    bool m_operationRunning = false;    // a backup or restore runs (the window cannot close)
    bool m_closeAfterOperation = false; // the operator closed the window meanwhile
    int m_handlerDepth = 0;             // event handlers running, one inside another
    bool m_connectedShown = false; // the status line says "Соединение установлено"
};
