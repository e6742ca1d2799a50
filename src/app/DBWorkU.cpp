#include "DBWorkU.h"

#include "Anchors.h"
#include "AttachTab.h"
#include "BackupFileName.h"
#include "BatchCommand.h"
#include "FormPlacement.h"
#include "ProgramVersion.h"
#include "RestoreTab.h"
#include "SqlQueryTab.h"
#include "TextFieldKeys.h"
#include "WindowState.h"
#include "ui_DBWorkU.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QShortcut>

using namespace Qt::StringLiterals;

namespace {

constexpr int timer1IntervalMs = 500;

QFont pixelFont(QFont font, const QString& family, int pixels)
{
    if (!family.isEmpty())
        font.setFamily(family);
    font.setPixelSize(pixels);
    return font;
}

} // namespace

TFormDB::TFormDB(OperatorUi& operatorUi, const QString& settingsDir, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TFormDB>()), m_session(operatorUi, settingsDir)
{
    setFont(pixelFont(font(), u"MS Sans Serif"_s, 11));
    ui->setupUi(this);
    ui->LDBConnect->setFont(pixelFont(ui->LDBConnect->font(), u"Arial"_s, 15));
    ui->Password->setStyleSheet(u"lineedit-password-character: 42"_s); // "*", whatever the style
    // The caption fills the button in the narrow Windows font; others need a pixel less.
    ui->BRefreshConnect->setFont(pixelFont(font(), {}, 10));
    // The controls stand where they were drawn for the default size, which is also the least:
    // a larger window gives its room to the status line, the fields, the lists and the grid.
    setMinimumSize(size());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    auto* panel = new Anchors(ui->PanelDB, {width(), ui->PanelDB->minimumHeight()});
    panel->fasten({ui->LDBConnect, ui->LDBConnectReason}, Qt::LeftEdge | Qt::RightEdge);
    attachTab()->bind(&m_session, &m_guard);
    restoreTab()->bind(&m_session, &m_guard);
    sqlQueryTab()->bind(&m_session, &m_guard);
    connect(&m_guard, &EventGuard::failed, this, [this](const QString& message) {
        // The status line says "connected" only while it is so; the next attempt reconnects.
        if (m_connectedShown && !m_session.connection().isOpen())
            showConnected(false, message);
    });
    connect(&m_guard, &EventGuard::idle, this, [this] {
        // The operator closed the window while an operation ran; its last message has been read.
        if (m_closeAfterOperation) {
            m_closeAfterOperation = false;
            QTimer::singleShot(0, this, &QWidget::close);
        }
    });
    connect(&m_guard, &EventGuard::busyChanged, this, &TFormDB::showBusy);
    // A backup, restore or detach first settles the console's unsaved change with the operator.
    m_session.console().editsSettler = [this] {
        return sqlQueryTab()->settleUnsavedEdits();
    };

    for (QLineEdit* field : {ui->Server, ui->UserName, ui->Password})
        field->installEventFilter(this);
    pressOnEnter({ui->Server, ui->UserName, ui->Password}, ui->BRefreshConnect);
    // From any control, the editor and the grid included, which keep Ctrl+Tab for themselves.
    for (const auto& [keys, step] :
         {std::pair{QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
          std::pair{QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
          std::pair{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
          std::pair{QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1}})
        connect(new QShortcut(keys, this), &QShortcut::activated, this,
                [this, step] { stepTab(step); });
    connect(ui->Server, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_session.setServerName(text); });
    connect(ui->UserName, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_session.setUserName(text); });
    connect(ui->Password, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_session.setPasswordText(text); });
    connect(&m_session, &Session::loginChanged, this, &TFormDB::showLogin);
    connect(&m_session, &Session::connectionShown, this, &TFormDB::showConnected);
    connect(ui->BRefreshConnect, &QPushButton::clicked, this,
            [this] { handleEvent([this] { BRefreshConnectClick(); }); });
    // Start-up ticks the box too; there an error must end start-up instead of being shown here.
    connect(ui->isAuthorization, &QCheckBox::toggled, this, [this] {
        if (m_starting)
            isAuthorizationClick();
        else
            handleEvent([this] { isAuthorizationClick(); });
    });
    Timer1.setInterval(timer1IntervalMs);
    Timer1.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, [this] { handleEvent([this] { Timer1Timer(); }); });
    connect(restoreTab(), &TRestoreTab::backupFileChosen, &Timer1, qOverload<>(&QTimer::start));

    m_starting = true;
    try {
        FormCreate();
    } catch (const std::exception& error) {
        // The rest of start-up is skipped; the window still comes up.
        ShowErrorReport(m_session.operatorUi(), error);
    }
    m_starting = false;
}

TFormDB::~TFormDB()
{
    // Focus moving while the window goes away is no operator's doing, and the handlers it
    // would run must not reach state that is already gone.
    m_closing = true;
    m_session.console().editsSettler = nullptr;
    attachTab()->bind(nullptr, nullptr);
    restoreTab()->bind(nullptr, nullptr);
    sqlQueryTab()->bind(nullptr, nullptr);
}

QString TFormDB::captionPrefix()
{
    return u"Настройка базы данных. Версия: "_s;
}

void TFormDB::showBusy(bool busy)
{
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

void TFormDB::stepTab(int step)
{
    // The next tab that is available, round the end as the tab bar's own keys go.
    QTabWidget* page = ui->Page;
    const int count = page->count();
    for (int i = 1; i < count; ++i) {
        const int tab = ((page->currentIndex() + step * i) % count + count) % count;
        if (page->isTabEnabled(tab)) {
            page->setCurrentIndex(tab);
            return;
        }
    }
}

void TFormDB::closeEvent(QCloseEvent* event)
{
    // A backup or restore is not left half done, nor its messages without a window: the window
    // closes once it has ended.
    if (m_session.operationRunning()) {
        m_closeAfterOperation = true;
        m_session.operatorUi().operationNote(u"Программа закроется, когда операция завершится."_s);
        event->ignore();
        return;
    }
    // The console's unsaved change is saved or dropped first; going back keeps the window open.
    if (!isBusy()) {
        m_closeWhenIdle = false;
        m_guard.setClosingWhenIdle(false);
        if (!sqlQueryTab()->settleUnsavedEdits()) {
            event->ignore();
            return;
        }
    }
    if (isBusy()) {
        m_closeWhenIdle = true;
        m_guard.setClosingWhenIdle(true);
        sqlQueryTab()->stopStatement();
        event->ignore();
        return;
    }
    if (isVisible())
        saveWindowGeometry(*this);
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
    // Where the operator left it, while that is on a screen; else centred in the work area,
    // then 70 pixels higher (not limited by the screen edge).
    if (!restoreWindowGeometry(*this)) {
        PlaceForm(nullptr, this);
        move(x(), y() - 70);
    }

    const Settings settings = m_session.loadSettings();
    // The fields read before a failure are shown; the rest of start-up is skipped.
    attachTab()->showSettings(settings);
    if (settings.failure)
        std::rethrow_exception(settings.failure);
    attachTab()->setDatabaseName(m_session.currentDBName());
    // A restore name of its own wins; without one the restore goes to the current database.
    restoreTab()->showSettings(settings.restoreDBName.isEmpty() ? m_session.currentDBName()
                                                                : settings.restoreDBName);
    ConnectServer();

    if (m_session.connection().isOpen()) {
        try {
            restoreTab()->offerBackupFile(GetLastBackupFile());
            if (!restoreTab()->backupFileName().isEmpty())
                Timer1.start();
        } catch (const std::exception&) {
            // Only a convenience: start-up goes on without it.
        }
    }
    attachTab()->setCatalogueNames(m_session.loadCatalogue());
}

void TFormDB::showLogin()
{
    const LoginFields& login = m_session.login();
    ui->Server->setText(login.server);
    ui->UserName->setText(login.userName);
    ui->Password->setText(login.password);
    // Like the operator's click: the change handler runs when the tick changes.
    ui->isAuthorization->setChecked(login.windowsLogin);
}

bool TFormDB::ConnectServer()
{
    return m_session.connectServer();
}

void TFormDB::RefreshListDB()
{
    attachTab()->RefreshListDB();
}

QString TFormDB::GetLastBackupFile()
{
    return m_session.lastBackupFile();
}

QString TFormDB::AddUserToDBUsers(const QString& databaseName, const QString& dataFile,
                                  bool windowsLogin, const QString& logFile)
{
    return m_session.attachDB(databaseName, dataFile, logFile, windowsLogin);
}

BackupOutcome TFormDB::BackupDB(const QString& databaseName, const QString& installDir,
                                const QString& backupFile, bool addFiles, bool showProgress,
                                bool verify, bool copyOnly)
{
    return m_session.backupDB(databaseName, installDir, backupFile, addFiles, showProgress, verify,
                              copyOnly);
}

void TFormDB::RestoreDB(const QString& databaseName, const QString& backupFile,
                        const QString& restoreFolder, const QString& installDir, bool replace,
                        bool extractFiles, bool showProgress, bool askVersion)
{
    m_session.restoreDB(databaseName, backupFile, restoreFolder, installDir, replace, extractFiles,
                        showProgress, askVersion);
}

bool TFormDB::isCommandCMD(const QStringList& arguments)
{
    return RunBatchCommand(m_session, arguments);
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
    const bool windowsLogin = ui->isAuthorization->isChecked();
    ui->UserName->setEnabled(!windowsLogin);
    ui->Password->setEnabled(!windowsLogin);
    // The session connects when the tick is the operator's; one it set itself has connected.
    m_session.setWindowsLogin(windowsLogin);
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
    restoreTab()->setBackupFileName(RemoveDoubleBackslashes(restoreTab()->backupFileName()));
    Timer1.stop();
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
