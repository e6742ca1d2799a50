#include "DBWorkU.h"

#include "AttachTab.h"
#include "BackupFileName.h"
#include "CommandLine.h"
#include "DatabaseSessions.h"
#include "FormPlacement.h"
#include "IniFile.h"
#include "MyException.h"
#include "MyMSSQL.h"
#include "ProgramVersion.h"
#include "RestoreTab.h"
#include "SqlQueryTab.h"
#include "StatementText.h"
#include "StderrOperatorUi.h"
#include "XMLUtils.h"
#include "ui_AttachTab.h"
#include "ui_DBWorkU.h"
#include "ui_RestoreTab.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QScopedValueRollback>
#include <QSignalBlocker>

using namespace Qt::StringLiterals;

namespace {

constexpr int formCommandTimeoutSeconds = 3600;
constexpr int timer1IntervalMs = 500;

QFont pixelFont(QFont font, const QString& family, int pixels)
{
    if (!family.isEmpty())
        font.setFamily(family);
    font.setPixelSize(pixels);
    return font;
}

} // namespace

TFormDB::TFormDB(OperatorUi& operatorUi, const QString& programDir, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TFormDB>()), m_operator(operatorUi),
      m_programDir(programDir), m_server(Connection, *this, _ConnectString, _CurrentDBName)
{
    setFont(pixelFont(font(), u"MS Sans Serif"_s, 11));
    ui->setupUi(this);
    ui->LDBConnect->setFont(pixelFont(ui->LDBConnect->font(), u"Arial"_s, 15));
    ui->Password->setStyleSheet(u"lineedit-password-character: 42"_s); // "*", whatever the style
    // The caption fills the button in the narrow Windows font; others need a pixel less.
    ui->BRefreshConnect->setFont(pixelFont(font(), {}, 10));
    setFixedSize(643, 508);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    attachTab()->setForm(this);
    restoreTab()->setForm(this);
    sqlQueryTab()->setForm(this);

    for (QLineEdit* field : {ui->Server, ui->UserName, ui->Password})
        field->installEventFilter(this);
    connect(ui->BRefreshConnect, &QPushButton::clicked, this,
            [this] { handleEvent([this] { BRefreshConnectClick(); }); });
    // Start-up ticks the box too; there an error must end start-up instead of being shown here.
    connect(ui->isAuthorization, &QCheckBox::toggled, this, [this] {
        if (m_starting)
            isAuthorizationClick();
        else
            handleEvent([this] { isAuthorizationClick(); });
    });
    // A result read to its end frees the console's session, which then leaves its database.
    connect(&CommonQuery, &QueryResult::readWhole, this, [this] { leaveConsoleDatabase(); });
    Timer1.setInterval(timer1IntervalMs);
    Timer1.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, [this] { handleEvent([this] { Timer1Timer(); }); });

    m_starting = true;
    try {
        FormCreate();
    } catch (const std::exception& error) {
        // The rest of start-up is skipped; the window still comes up.
        ShowErrorReport(m_operator, error);
    }
    m_starting = false;
}

TFormDB::~TFormDB()
{
    // Focus moving while the window goes away is no operator's doing, and the handlers it
    // would run must not reach state that is already gone.
    m_closing = true;
    attachTab()->setForm(nullptr);
    restoreTab()->setForm(nullptr);
    sqlQueryTab()->setForm(nullptr);
}

QString TFormDB::captionPrefix()
{
    return u"Настройка базы данных. Версия: "_s;
}

void TFormDB::handleEvent(const std::function<void()>& handler)
{
    // The connections belong to the running statement; the window's controls are unavailable,
    // so only a timer or a focus change could get here.
    if (m_busy)
        return;
    ++m_handlerDepth;
    try {
        handler();
    } catch (const CancelledByOperator&) {
        // The operator went back; nothing to report.
    } catch (const std::exception& error) {
        // A statement stopped because the operator closes the window needs no message.
        if (!m_closeWhenIdle) {
            // The status line says "connected" only while it is so; the next attempt reconnects.
            if (m_connectedShown && !Connection.isOpen())
                showConnected(false, errorMessage(error));
            ShowErrorReport(m_operator, error);
        }
    }
    if (--m_handlerDepth > 0)
        return;
    // Idle, the window holds no database: an operation makes the database it needs current
    // while it runs, and afterwards another program may restore over it or detach it.
    if (Connection.isOpen() && !Connection.isExecuting())
        Connection.leaveDatabase();
    // The operator closed the window while an operation ran; its last message has been read.
    if (m_closeAfterOperation) {
        m_closeAfterOperation = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TFormDB::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    ui->PanelDB->setEnabled(!busy);
    if (busy) {
        for (int i = 0; i < ui->Page->count(); ++i)
            if (i != ui->Page->currentIndex() && ui->Page->isTabEnabled(i)) {
                ui->Page->setTabEnabled(i, false);
                m_tabsDisabled << i;
            }
        setCursor(Qt::WaitCursor);
    } else {
        for (const int i : std::as_const(m_tabsDisabled))
            ui->Page->setTabEnabled(i, true);
        m_tabsDisabled.clear();
        unsetCursor();
        if (m_closeWhenIdle)
            QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TFormDB::closeEvent(QCloseEvent* event)
{
    // A backup or restore is not left half done, nor its messages without a window: the window
    // closes once it has ended.
    if (m_operationRunning) {
        m_closeAfterOperation = true;
        m_operator.operationNote(u"Программа закроется, когда операция завершится."_s);
        event->ignore();
        return;
    }
    // The console's unsaved change is saved or dropped first; going back keeps the window open.
    if (!m_busy) {
        m_closeWhenIdle = false;
        if (!sqlQueryTab()->settleUnsavedEdits()) {
            event->ignore();
            return;
        }
    }
    if (m_busy) {
        m_closeWhenIdle = true;
        sqlQueryTab()->stopStatement();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

TAttachTab* TFormDB::attachTab() const
{
    return ui->TabAttachDB;
}

TRestoreTab* TFormDB::restoreTab() const
{
    return ui->TabRestoreDB;
}

TSqlQueryTab* TFormDB::sqlQueryTab() const
{
    return ui->TabSQLQuery;
}

void TFormDB::FormCreate()
{
    setWindowTitle(captionPrefix() + ProgramVersionText());
    _ListDBPath.clear();
    // Centred in the work area, then 70 pixels higher (not limited by the screen edge).
    PlaceForm(nullptr, this);
    move(x(), y() - 70);

    ReadSettings(m_programDir + u"settings.ini"_s);
    Connection.setCommandTimeout(formCommandTimeoutSeconds);
    ConnectServer();

    if (Connection.isOpen()) {
        try {
            restoreTab()->ui->BackupFileName->setText(GetLastBackupFile());
            if (!restoreTab()->ui->BackupFileName->text().isEmpty())
                Timer1.start();
        } catch (const std::exception&) {
            // Only a convenience: start-up goes on without it.
        }
    }

    DBCatalogue catalogue;
    LoadDBList(m_programDir + u"dbs.xml"_s, catalogue);
    _ListDBPath = catalogue.paths;
    attachTab()->setCatalogueNames(catalogue.items);
}

bool TFormDB::ConnectServer()
{
    const bool connected = m_server.ConnectServer();
    if (connected)
        adaptToServerDisk();
    return connected;
}

void TFormDB::adaptToServerDisk()
{
    QLineEdit* folder = restoreTab()->ui->RestoreToDirectory;
    const QString startUpFolder = _InstallDir + u"Data"_s;
    const QString key = Connection.provider() + u'\n' + Connection.connectionString();
    if (key != m_diskAdaptedFor) {
        m_diskAdaptedFor = key;
        const QString previous = m_serverRestoreFolder;
        // The installation folder is on this machine, not on a server on another one.
        m_serverRestoreFolder = m_disk.isRemote() ? m_disk.defaultDataFolder() : QString();
        if (!previous.isEmpty() && folder->text() == previous)
            folder->setText(m_serverRestoreFolder.isEmpty() ? startUpFolder
                                                            : m_serverRestoreFolder);
    }
    // Start-up may fill the field after the first connection.
    if (!m_serverRestoreFolder.isEmpty() && folder->text() == startUpFolder)
        folder->setText(m_serverRestoreFolder);
}

void TFormDB::RefreshListDB()
{
    attachTab()->RefreshListDB();
}

QString TFormDB::GetLastBackupFile()
{
    return LastBackupFile(Connection, _CurrentDBName);
}

void TFormDB::OpenCommonQuery(const QString& database, const QString& sql, int timeoutSeconds)
{
    CommonQuery.close(); // frees the console's session
    ShowCommonQuery(ReadCommonQuery(database, sql, timeoutSeconds));
}

QueryResult::FirstPage TFormDB::ReadCommonQuery(const QString& database, const QString& sql,
                                                int timeoutSeconds)
{
    if (!Connection.isOpen())
        Connection.open();
    if (!QueryConnection.isOpen() || QueryConnection.provider() != Connection.provider() ||
        QueryConnection.connectionString() != Connection.connectionString()) {
        QueryConnection.close();
        QueryConnection.setProvider(Connection.provider());
        QueryConnection.setConnectionString(Connection.connectionString());
        // Logged in to master and then moved: FreeTDS garbles a login's database whose name is
        // not ASCII, and the login fails.
        QueryConnection.setDefaultDatabase(u"master"_s);
        QueryConnection.open();
    }
    QueryConnection.setDefaultDatabase(database);
    m_commonQueryDatabase = database;
    m_commonQuerySql = sql;
    m_commonQueryTimeout = timeoutSeconds;
    try {
        return QueryResult::read(QueryConnection, sql, timeoutSeconds);
    } catch (...) {
        leaveConsoleDatabase();
        throw;
    }
}

void TFormDB::ShowCommonQuery(QueryResult::FirstPage page)
{
    CommonQuery.show(std::move(page));
    if (CommonQuery.isComplete())
        leaveConsoleDatabase();
}

void TFormDB::ReleaseConsoleSession()
{
    // A backup would lack an unsaved change, a restore or detach take its table away.
    if (!sqlQueryTab()->settleUnsavedEdits())
        throw CancelledByOperator();
    // The grid keeps its rows; only the reading, which holds the database, ends.
    CommonQuery.endReading();
    leaveConsoleDatabase();
}

void TFormDB::leaveConsoleDatabase()
{
    // A session that cannot even switch is of no use; closed, it holds nothing.
    if (QueryConnection.isOpen() && !QueryConnection.leaveDatabase())
        QueryConnection.close();
}

void TFormDB::MakeCommonQueryEditable(const QString& database, const QString& sql)
{
    Connection.setDefaultDatabase(database);
    const EditTarget target = FindEditTarget(Connection, sql, CommonQuery.fieldNames());
    CommonQuery.setEditTarget(target, [this, database](const BoundStatement& statement) {
        Connection.setDefaultDatabase(database);
        Connection.beginTrans();
        qint64 rows = 0;
        try {
            // The operator's own SET NOCOUNT ON must not hide how many rows were touched, and
            // dates go as "yyyy-mm-dd hh:mm:ss", which datetime reads year-day-month under
            // DATEFORMAT dmy (a Russian login's language sets it): both for this batch only.
            rows = Connection.executeParams(
                u"SET NOCOUNT OFF; SET DATEFORMAT ymd; "_s + statement.sql, statement.values);
        } catch (...) {
            Connection.rollbackTrans();
            throw;
        }
        if (rows != 1) {
            Connection.rollbackTrans();
            throw MyException(u"Запись изменена или удалена другим пользователем. Изменения не "
                              u"сохранены."_s);
        }
        Connection.commitTrans();
        return rows;
    });
}

void TFormDB::RefreshCommonQuery()
{
    if (!CommonQuery.isOpen() || !sqlQueryTab()->settleUnsavedEdits())
        return;
    const int row = CommonQuery.currentRow();
    const EditTarget target = CommonQuery.editTarget();
    OpenCommonQuery(m_commonQueryDatabase, m_commonQuerySql, m_commonQueryTimeout);
    if (target.editable())
        MakeCommonQueryEditable(m_commonQueryDatabase, m_commonQuerySql);
    while (CommonQuery.fetchedCount() <= row && CommonQuery.fetchRows(QueryResult::pageSize)) {
    }
    CommonQuery.setCurrentRow(row);
    if (CommonQuery.isComplete())
        leaveConsoleDatabase();
}

QString TFormDB::AddUserToDBUsers(const QString& databaseName, const QString& dataFile,
                                  bool windowsLogin, const QString& logFile)
{
    ReleaseConsoleSession();
    return ::AddUserToDBUsers(Connection, databaseName, dataFile, windowsLogin, logFile, &m_disk);
}

FlowContext TFormDB::flowContext()
{
    return FlowContext{Connection, m_operator, m_programDir, _ApprNamePathName, _MaxSizeAddDB,
                       ServerProgress{&TFormDB::PumpMessages,
                                      [this](int percent, const QString& step) {
                                          showServerPercent(percent, step);
                                      },
                                      {},
                                      stopRequested},
                       freeBytes, wrapOutput, false, &m_disk, std::nullopt,
                       // Without a display the summary line says what the box would.
                       !unattended};
}

void TFormDB::PumpMessages()
{
    QCoreApplication::processEvents();
}

void TFormDB::showServerPercent(int percent, const QString& step)
{
    QLabel* label = attachTab()->ui->LProgress;
    m_operator.operationProgress(percent, step);
    if (percent < 0) {
        label->clear();
        return;
    }
    label->setText(ProgressText(percent, step));
    m_operator.note(label->text());
}

BackupOutcome TFormDB::BackupDB(const QString& databaseName, const QString& installDir,
                                const QString& backupFile, bool addFiles, bool showProgress,
                                bool verify, bool copyOnly)
{
    ReleaseConsoleSession();
    const QScopedValueRollback running(m_operationRunning, true);
    FlowContext context = flowContext();
    return ::BackupDB(context, databaseName, installDir, backupFile, addFiles, showProgress, verify,
                      copyOnly);
}

void TFormDB::rememberSetting(const QString& key, const QString& value)
{
    const QString path = m_programDir + u"settings.ini"_s;
    if (!platform::writeIniValue(path, u"other"_s, key, value))
        m_operator.showMessage(OperatorUi::Icon::Warning, u"Внимание"_s,
                               u"Не удалось сохранить настройку в файле \""_s +
                                   QDir::toNativeSeparators(path) + u"\"."_s);
}

void TFormDB::RestoreDB(const QString& databaseName, const QString& backupFile,
                        const QString& restoreFolder, const QString& installDir, bool replace,
                        bool extractFiles, bool showProgress, bool askVersion)
{
    ReleaseConsoleSession();
    const QScopedValueRollback running(m_operationRunning, true);
    FlowContext context = flowContext();
    ::RestoreDB(context, databaseName, backupFile, restoreFolder, installDir, replace, extractFiles,
                showProgress, askVersion);
}

bool TFormDB::isCommandCMD(const QStringList& arguments)
{
    switch (batchModeOf(arguments)) {
    case BatchMode::Backup:
        RunBackupCommand(arguments);
        return true;
    case BatchMode::Restore:
        RunRestoreCommand(arguments);
        return true;
    case BatchMode::None:
        break;
    }
    return false;
}

QString TFormDB::connectForBatch(const QString& databaseName, const QString& fileUdl,
                                 const QString& connectionString)
{
    QString name = databaseName.isEmpty() ? _CurrentDBName : databaseName;
    // The UDL path is tested as written, before any macro expansion.
    if (!fileUdl.isEmpty() && QFileInfo(fileUdl).isFile()) {
        m_server.LoadConnectString(fileUdl);
        name = _CurrentDBName;
    }
    if (!connectionString.isEmpty()) {
        m_server.ParseConnectString(connectionString);
        if (!_CurrentDBName.isEmpty())
            name = _CurrentDBName;
    }
    if (!ConnectServer()) {
        // A script's log is all its operator reads: the server's or the driver's reason follows.
        const QString reason = m_server.lastFailure();
        const Error cause(reason);
        throw MyException({}, u"Не удалось подключиться к базе данных."_s,
                          reason.isEmpty() ? nullptr : &cause);
    }
    return name;
}

namespace {

// The option whose absence a flow's error comes from, for the script's author. Called from a
// handler: rethrows the error, with the advice when there is any.
[[noreturn]] void adviseOnFailure(const std::exception& error, const QStringList& advice)
{
    QStringList lines;
    for (const QString& line : advice)
        if (!line.isEmpty())
            lines << line;
    if (lines.isEmpty())
        throw;
    throw AdvisedError(error, lines.join(u' '));
}

const QString noFileAdvice =
    u"Не задан файл резервной копии: параметр /file:ПУТЬ (dbsetup --help)."_s;

} // namespace

void TFormDB::RunBackupCommand(const QStringList& arguments)
{
    const BackupOptions o = parseBackupOptions(arguments);
    const QString installDir = o.installDir.isEmpty() ? _InstallDir : o.installDir;
    const QString databaseName = connectForBatch(o.dbName, o.fileUdl, o.connectionString);
    // The flow does nothing for an empty name; a script must not read that as a backup made.
    if (databaseName.isEmpty())
        throw MyException(u"Не задано имя базы данных для резервного копирования."_s);
    BackupOutcome outcome;
    try {
        outcome = BackupDB(databaseName, installDir, o.file, o.addFiles, o.showProgress, o.verify,
                           o.copyOnly);
    } catch (const std::exception& error) {
        adviseOnFailure(error, {o.file.isEmpty() ? noFileAdvice : QString()});
    }
    // A script's log names what was made, whatever the progress flag; a window's operator has
    // the message box. Only the window's operator can decline the files question, which makes no
    // backup, and its notes are shown nowhere.
    QString summary = u"Резервная копия базы \""_s + databaseName + u"\" записана в файл \""_s +
                      o.file + u"\"."_s;
    if (!outcome.filesNotStored.isEmpty())
        summary += u" Файлы программы сохранены в ней не полностью: "_s + outcome.filesNotStored;
    m_operator.note(summary);
}

void TFormDB::RunRestoreCommand(const QStringList& arguments)
{
    const RestoreOptions o = parseRestoreOptions(arguments);
    const QString installDir = o.installDir.isEmpty() ? _InstallDir : o.installDir;
    const QString databaseName = connectForBatch(o.dbName, o.fileUdl, o.connectionString);
    // Whether the restore replaced a database is the first thing a script's log is read for; an
    // unanswered question leaves it unsaid rather than failing a restore that can go on.
    std::optional<bool> existed;
    try {
        const auto found = Connection.openRecordSet(
            u"SELECT DB_ID(N'"_s + sqltext::literalBody(databaseName) + u"') AS id"_s,
            Connection.commandTimeout());
        if (!found->isEmpty())
            existed = !found->isNull(u"id"_s);
    } catch (const std::exception&) {
    }
    // A batch run never asks about program versions, and application files it asked for and did
    // not get fail it: a script sees only the exit code.
    FlowContext context = flowContext();
    context.failOnUnwrittenFiles = true;
    // Nobody to ask: other sessions are ended only when the script says so; otherwise they are
    // left alone, and a restore they block names them.
    context.closeSessions = o.closeConnections;
    // Said as soon as it is so: an extraction that fails afterwards does not undo the restore.
    context.restored = [&] {
        QString summary =
            u"База \""_s + databaseName + u"\" восстановлена из файла \""_s + o.file + u"\""_s;
        if (existed)
            summary += *existed ? u" (заменена существующая база)"_s : u" (новая база)"_s;
        m_operator.note(summary + u'.');
    };
    try {
        ::RestoreDB(context, databaseName, o.file, o.pathDb, installDir, o.replace, o.extractFiles,
                    o.showProgress, false);
    } catch (const DatabaseInUse& error) {
        adviseOnFailure(error, {u"Чтобы отключить их перед восстановлением: параметр "
                                u"/close_connections."_s});
    } catch (const std::exception& error) {
        adviseOnFailure(error, {o.file.isEmpty() ? noFileAdvice : QString(),
                                o.pathDb.isEmpty() ? u"Не задана папка для файлов базы: параметр "
                                                     u"/path_db:ПАПКА (dbsetup --help)."_s
                                                   : QString()});
    }
}

void TFormDB::ServerExit()
{
    ConnectServer();
    RefreshListDB();
}

void TFormDB::BRefreshConnectClick()
{
    ServerExit();
}

void TFormDB::isAuthorizationClick()
{
    const bool sqlLogin = !ui->isAuthorization->isChecked();
    ui->UserName->setEnabled(sqlLogin);
    ui->Password->setEnabled(sqlLogin);
    ConnectServer();
}

bool TFormDB::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut && !m_closing) {
        // Only a move to another control counts: not the window losing activation or a popup.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            reason != Qt::MenuBarFocusReason)
            handleEvent([this] { ServerExit(); });
    }
    return QWidget::eventFilter(watched, event);
}

void TFormDB::Timer1Timer()
{
    QLineEdit* field = restoreTab()->ui->BackupFileName;
    field->setText(RemoveDoubleBackslashes(field->text()));
    Timer1.stop();
}

QString TFormDB::server() const
{
    return ui->Server->text();
}

void TFormDB::setServer(const QString& text)
{
    ui->Server->setText(text);
}

QString TFormDB::userName() const
{
    return ui->UserName->text();
}

void TFormDB::setUserName(const QString& text)
{
    ui->UserName->setText(text);
}

QString TFormDB::password() const
{
    return ui->Password->text();
}

void TFormDB::setPassword(const QString& text)
{
    ui->Password->setText(text);
}

bool TFormDB::isAuthorization() const
{
    return ui->isAuthorization->isChecked();
}

void TFormDB::setAuthorization(bool on)
{
    ui->isAuthorization->setChecked(on); // runs isAuthorizationClick when the tick changes
}

void TFormDB::showConnected(bool connected, const QString& reason)
{
    m_connectedShown = connected;
    ui->LDBConnect->setText(connected ? u"Соединение установлено"_s
                                      : u"Соединение не было установлено"_s);
    QPalette palette = ui->LDBConnect->palette();
    palette.setColor(QPalette::WindowText, connected ? Qt::blue : Qt::red);
    ui->LDBConnect->setPalette(palette);
    ui->LDBConnectReason->setPalette(palette);
    // Why it failed, where the operator sees it at once; the whole text also as the tooltip.
    ui->LDBConnect->setToolTip(reason);
    ui->LDBConnectReason->setText(reason);
    ui->LDBConnectReason->setToolTip(reason);
    ui->LDBConnectReason->setVisible(!reason.isEmpty());
}
