#include "Session.h"

#include "DatabaseSessions.h"
#include "MyMSSQL.h"
#include "OperatorUi.h"
#include "XMLUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>

using namespace Qt::StringLiterals;

namespace {
constexpr int formCommandTimeoutSeconds = 3600;
}

Session::Session(OperatorUi& operatorUi, const QString& settingsDir)
    : m_operator(operatorUi), m_settingsDir(settingsDir)
{
    m_connection.setCommandTimeout(formCommandTimeoutSeconds);
}

Session::~Session() = default;

QString Session::settingsPath() const
{
    return m_settingsDir + u"settings.ini"_s;
}

Settings Session::loadSettings()
{
    const Settings s = ReadSettingsFile(settingsPath());
    m_login.server = s.server;
    m_login.userName = s.userName;
    m_login.password = s.password;
    emit loginChanged();
    setWindowsLogin(s.windowsLogin);
    if (s.failure)
        return s;
    m_installDir = s.installDir;
    m_maxSizeAddDB = s.maxSizeAddDB;
    m_dbNameFileAdd = s.dbNameFileAdd;
    if (!s.fileUdl.isEmpty())
        m_server.LoadConnectString(s.fileUdl);
    if (m_currentDBName.isEmpty())
        m_currentDBName = u"ostrel_ts"_s;
    m_restoreFolder = m_installDir + u"Data"_s;
    m_apprNamePathName = s.apprNamePathName;
    return s;
}

void Session::rememberSetting(const QString& key, const QString& value)
{
    if (!WriteOtherSetting(settingsPath(), key, value))
        m_operator.showMessage(OperatorUi::Icon::Warning, u"Внимание"_s,
                               u"Не удалось сохранить настройку в файле \""_s +
                                   QDir::toNativeSeparators(settingsPath()) + u"\"."_s);
}

QStringList Session::loadCatalogue()
{
    DBCatalogue catalogue;
    LoadDBList(m_settingsDir + u"dbs.xml"_s, catalogue);
    m_listDBPath = catalogue.paths;
    return catalogue.items;
}

void Session::setWindowsLogin(bool on)
{
    if (on == m_login.windowsLogin)
        return;
    m_login.windowsLogin = on;
    emit loginChanged();
    connectServer();
}

void Session::setServer(const QString& text)
{
    m_login.server = text;
    emit loginChanged();
}

void Session::setPassword(const QString& text)
{
    m_login.password = text;
    emit loginChanged();
}

void Session::showConnected(bool connected, const QString& reason)
{
    emit connectionShown(connected, reason);
}

bool Session::connectServer()
{
    const bool connected = m_server.ConnectServer();
    if (connected)
        adaptToServerDisk();
    return connected;
}

void Session::adaptToServerDisk()
{
    const QString startUpFolder = m_installDir + u"Data"_s;
    const QString before = m_restoreFolder;
    const QString key = m_connection.provider() + u'\n' + m_connection.connectionString();
    if (key != m_diskAdaptedFor) {
        m_diskAdaptedFor = key;
        const QString previous = m_serverRestoreFolder;
        // The installation folder is on this machine, not on a server on another one.
        m_serverRestoreFolder = m_disk.isRemote() ? m_disk.defaultDataFolder() : QString();
        if (!previous.isEmpty() && m_restoreFolder == previous)
            m_restoreFolder =
                m_serverRestoreFolder.isEmpty() ? startUpFolder : m_serverRestoreFolder;
    }
    // Start-up may set the folder after the first connection.
    if (!m_serverRestoreFolder.isEmpty() && m_restoreFolder == startUpFolder)
        m_restoreFolder = m_serverRestoreFolder;
    if (m_restoreFolder != before)
        emit restoreFolderChanged(m_restoreFolder);
}

QString Session::lastBackupFile()
{
    return LastBackupFile(m_connection, m_currentDBName);
}

QString Session::startFolder(RecentFolders::Kind kind, const QString& preferred,
                             const QString& fallback)
{
    const bool onServer = kind != RecentFolders::Kind::Export && m_disk.isRemote();
    const auto exists = [&](const QString& folder) {
        if (folder.isEmpty())
            return false;
        return onServer ? m_disk.folderExists(folder).value_or(false) : QFileInfo(folder).isDir();
    };
    if (exists(preferred))
        return preferred;
    // A folder that is gone (a removed stick, a temporary folder) is no place to start.
    const QString last = m_recentFolders.folder(kind, onServer ? m_login.server : QString());
    return exists(last) ? last : fallback;
}

void Session::rememberFile(RecentFolders::Kind kind, const QString& file)
{
    const bool onServer = kind != RecentFolders::Kind::Export && m_disk.isRemote();
    m_recentFolders.remember(kind, FolderOf(file), onServer ? m_login.server : QString());
}

void Session::refreshDatabases()
{
    m_databases.clear();
    if (m_connection.isOpen())
        m_databases = ReadAttachedDatabases(m_connection);
}

bool Session::isApplicationDatabase(const QString& database)
{
    // A statement of its own: the console's result and the operator's edits in it stay.
    return !m_dbNameFileAdd.isEmpty() &&
           IsApplicationDatabase(m_connection, database, m_dbNameFileAdd);
}

FlowContext Session::flowContext()
{
    return FlowContext{m_connection, m_operator, m_settingsDir, m_apprNamePathName, m_maxSizeAddDB,
                       ServerProgress{[] { QCoreApplication::processEvents(); },
                                      [this](int percent, const QString& step) {
                                          showServerPercent(percent, step);
                                      },
                                      {},
                                      stopRequested},
                       freeBytes, wrapOutput, false, &m_disk, std::nullopt,
                       // Without a display the summary line says what the box would.
                       !unattended};
}

void Session::showServerPercent(int percent, const QString& step)
{
    m_operator.operationProgress(percent, step);
    emit serverPercent(percent, step);
    if (percent >= 0)
        m_operator.note(ProgressText(percent, step));
}

BackupOutcome Session::backupDB(const QString& databaseName, const QString& installDir,
                                const QString& backupFile, bool addFiles, bool showProgress,
                                bool verify, bool copyOnly)
{
    m_console.release();
    const QScopedValueRollback running(m_operationRunning, true);
    FlowContext context = flowContext();
    const BackupOutcome outcome = BackupDB(context, databaseName, installDir, backupFile, addFiles,
                                           showProgress, verify, copyOnly);
    if (outcome.made)
        emit backupMade(backupFile);
    return outcome;
}

void Session::restoreDB(const QString& databaseName, const QString& backupFile,
                        const QString& restoreFolder, const QString& installDir, bool replace,
                        bool extractFiles, bool showProgress, bool askVersion)
{
    m_console.release();
    const QScopedValueRollback running(m_operationRunning, true);
    FlowContext context = flowContext();
    RestoreDB(context, databaseName, backupFile, restoreFolder, installDir, replace, extractFiles,
              showProgress, askVersion);
}

QString Session::attachDB(const QString& databaseName, const QString& dataFile,
                          const QString& logFile, bool windowsLogin)
{
    m_console.release();
    return AddUserToDBUsers(m_connection, databaseName, dataFile, windowsLogin, logFile, &m_disk);
}

void Session::detachDB(const QString& databaseName)
{
    m_console.release();
    m_connection.setDefaultDatabase(u"master"_s);
    // Others in the database: ended with the operator's consent by the detach's own batch, else
    // the server refuses.
    const SessionClosing closing =
        DecideClosing(m_connection, m_operator, databaseName, std::nullopt, m_disk.rights());
    RunAlone(m_connection, m_operator, databaseName, closing, neededRight::detach,
             [&](const QString& prefix) { MSSQLDetachDB(databaseName, m_connection, prefix); });
}

QString Session::reattachDB(const QString& databaseName, const QString& dataFile)
{
    m_console.release();
    m_connection.setDefaultDatabase(u"master"_s);
    const SessionClosing closing =
        DecideClosing(m_connection, m_operator, databaseName, std::nullopt, m_disk.rights());
    const bool windowsLogin = m_login.windowsLogin;
    QString warning;
    // A detach that fails is the failure to report: attaching would only hide it behind an error
    // of its own.
    RunAlone(m_connection, m_operator, databaseName, closing, neededRight::detach,
             [&](const QString& prefix) {
                 MSSQLDetachDB(databaseName, m_connection, prefix);
                 warning = attachDB(databaseName, dataFile, QString(), windowsLogin);
             });
    return warning;
}

void Session::leaveDatabaseWhenIdle()
{
    if (m_connection.isOpen() && !m_connection.isExecuting())
        m_connection.leaveDatabase();
}
