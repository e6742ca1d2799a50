#pragma once

#include "ConsoleSession.h"
#include "DatabaseFlows.h"
#include "DatabaseList.h"
#include "NameValueList.h"
#include "RecentFolders.h"
#include "ServerConnection.h"
#include "ServerDisk.h"
#include "Settings.h"

#include <QIODevice>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class OperatorUi;

// The login the connection is made with: the connection panel's four fields.
struct LoginFields
{
    QString server;
    QString userName;
    QString password;
    bool windowsLogin = false;
};

// Everything one run of the program works with, window or batch: the settings, the connection
// and the console's session to one server, what is known of the server's disk, the list of its
// databases, and the operations on whole databases with their questions to the operator. The
// window shows it and forwards the operator's edits; the batch mode runs it without any GUI.
class Session : public QObject, private ConnectionPanel
{
    Q_OBJECT

public:
    // settingsDir holds settings.ini and dbs.xml (the folder chosen at start; tests give their
    // own).
    Session(OperatorUi& operatorUi, const QString& settingsDir);
    ~Session() override;

    OperatorUi& operatorUi() const { return m_operator; }
    const QString& settingsDir() const { return m_settingsDir; }
    QString settingsPath() const;

    // Start-up: settings.ini applied in its fixed order (the login, the Windows tick, which
    // connects when it changes, then the UDL file), the current database defaulting to
    // "ostrel_ts". Returns what was read, for the window's own fields; when reading failed, only
    // the login is applied and the caller ends start-up with the failure.
    Settings loadSettings();
    // Keeps one of the operator's choices in settings.ini for the next start; a file that cannot
    // be written is said once, and the choice holds for this run.
    void rememberSetting(const QString& key, const QString& value);
    // dbs.xml: the catalogue's names for the attach tab; its paths are kept here.
    QStringList loadCatalogue();

    // What settings.ini, a UDL file or a connection string set up.
    const QString& installDir() const { return m_installDir; }
    const QString& currentDBName() const { return m_currentDBName; }
    const QString& apprNamePathName() const { return m_apprNamePathName; }
    qint64 maxSizeAddDB() const { return m_maxSizeAddDB; }
    const QString& dbNameFileAdd() const { return m_dbNameFileAdd; }
    const NameValueList& listDBPath() const { return m_listDBPath; }
    // The connection string of the open connection, as built from the login.
    const QString& connectString() const { return m_connectString; }

    // The login. Setting the fields does not connect; a change of the Windows tick does, as the
    // operator's click on it.
    const LoginFields& login() const { return m_login; }
    void setServerName(const QString& text) { m_login.server = text; }
    void setUserName(const QString& text) override { m_login.userName = text; }
    void setPasswordText(const QString& text) { m_login.password = text; }
    void setWindowsLogin(bool on);
    // A batch run's UDL file or connection string, applied as start-up applies settings.ini's.
    void loadConnectString(const QString& udlPath) { m_server.LoadConnectString(udlPath); }
    void parseConnectString(const QString& text) { m_server.ParseConnectString(text); }

    // Connects with the login, or keeps the open connection when it is unchanged. A failed
    // attempt is no error: connectionShown says so and the result is false.
    bool connectServer();
    // Why the last attempt failed; empty after a success.
    const QString& lastConnectFailure() const { return m_server.lastFailure(); }

    // The one connection to the server.
    db::Connection& connection() { return m_connection; }
    // The console's result and its own session to the same server.
    ConsoleSession& console() { return m_console; }
    // The disk the server's files are on: this machine's, or the server's own when it runs on
    // another machine.
    ServerDisk& serverDisk() { return m_disk; }

    // The restore folder to offer: the installation's Data folder, or the server's default data
    // folder when the server runs on another machine. Follows the connection.
    const QString& restoreFolder() const { return m_restoreFolder; }
    // The operator's own choice, kept until the next server.
    void setRestoreFolder(const QString& folder) { m_restoreFolder = folder; }

    // The newest backup file of the current database in the server's history, or "".
    QString lastBackupFile();

    // Where a file dialog for that kind of file starts: preferred when it is there, else the
    // folder of the last such file the operator chose or used (this machine's from an earlier
    // run too), else fallback. Backups and database files are the server's: on the server's
    // disk when it runs on another machine; exports are always this machine's.
    QString startFolder(RecentFolders::Kind kind, const QString& preferred,
                        const QString& fallback);
    // A file of that kind chosen or used: the next dialog for such files starts in its folder.
    void rememberFile(RecentFolders::Kind kind, const QString& file);

    // The server's databases as last listed (an attach appends its row without asking again).
    const QList<AttachedDatabase>& databases() const { return m_databases; }
    // Reads the list from the server; empty without a connection.
    void refreshDatabases();
    // A database just attached, at the end of the list.
    void appendDatabase(const AttachedDatabase& database) { m_databases.append(database); }
    // Whether the database holds the application's identity row (db_name_file_add); false when
    // that setting is empty.
    bool isApplicationDatabase(const QString& database);

    // The operations on whole databases. Each first settles the console's result (an unsaved
    // change saved or dropped as the operator answers; CancelledByOperator when the operator
    // goes back to it).
    BackupOutcome backupDB(const QString& databaseName, const QString& installDir,
                           const QString& backupFile, bool addFiles, bool showProgress,
                           bool verify = false, bool copyOnly = false);
    void restoreDB(const QString& databaseName, const QString& backupFile,
                   const QString& restoreFolder, const QString& installDir, bool replace,
                   bool extractFiles, bool showProgress, bool askVersion);
    // Attaches a database and, for a Windows login, gives it a row in the database's DBUsers.
    // Returns what the attach could not do (its start-up procedure), for the operator.
    QString attachDB(const QString& databaseName, const QString& dataFile, const QString& logFile,
                     bool windowsLogin);
    // Detaches after asking about the database's other sessions.
    void detachDB(const QString& databaseName);
    // Detaches and attaches again from the data file; returns the attach's warning.
    QString reattachDB(const QString& databaseName, const QString& dataFile);
    // Whether a backup or restore runs (the window cannot close meanwhile).
    bool operationRunning() const { return m_operationRunning; }

    // Idle, the program holds no database: another program may restore over it or detach it.
    void leaveDatabaseWhenIdle();

    // A batch run without a display: the summary line says what a success box would.
    bool unattended = false;
    // Whether a stop was asked for (a signal to a batch run): the running statement is cancelled
    // and the flow recovers as after a failure. Never throws.
    std::function<bool()> stopRequested;
    // Where free space is looked up before a backup; tests make the disk as full as they need.
    std::function<std::optional<quint64>(const QString& path)> freeBytes;
    // Wraps each file written (extracted application files, exports); tests make the disk fill
    // up part way.
    std::function<std::unique_ptr<QIODevice>(QIODevice& file)> wrapOutput;

    // What the backup and restore flows work with, for a caller that sets more of it.
    FlowContext flowContext();

signals:
    // The login changed from a UDL file or a connection string.
    void loginChanged();
    // A backup was made into that file (the name the server wrote it under).
    void backupMade(const QString& file);
    // "connected", or not with the driver's or the server's reason (never a password).
    void connectionShown(bool connected, const QString& reason);
    // The offered restore folder changed with the server.
    void restoreFolderChanged(const QString& folder);
    // The server's progress of a backup or restore; < 0 clears it.
    void serverPercent(int percent, const QString& step);

private:
    // After a connection to another server: a server on another machine gets its own default
    // restore folder in place of the one under the installation folder, and back.
    void adaptToServerDisk();
    void showServerPercent(int percent, const QString& step);

    // ConnectionPanel
    QString server() const override { return m_login.server; }
    void setServer(const QString& text) override;
    QString userName() const override { return m_login.userName; }
    QString password() const override { return m_login.password; }
    void setPassword(const QString& text) override;
    bool isAuthorization() const override { return m_login.windowsLogin; }
    void setAuthorization(bool on) override { setWindowsLogin(on); }
    void showConnected(bool connected, const QString& reason) override;

    OperatorUi& m_operator;
    QString m_settingsDir;
    LoginFields m_login;
    QString m_connectString;
    QString m_installDir;
    QString m_currentDBName;
    QString m_apprNamePathName;
    qint64 m_maxSizeAddDB = 0;
    QString m_dbNameFileAdd;
    NameValueList m_listDBPath;
    db::Connection m_connection;
    ConsoleSession m_console{m_connection};
    ServerConnection m_server{m_connection, *this, m_connectString, m_currentDBName};
    ServerDisk m_disk{m_connection};
    QString m_restoreFolder;
    QString m_diskAdaptedFor;      // the connection adaptToServerDisk last looked at
    QString m_serverRestoreFolder; // the restore folder it put in place of the start-up one
    QList<AttachedDatabase> m_databases;
    bool m_operationRunning = false;
    RecentFolders m_recentFolders;
};
