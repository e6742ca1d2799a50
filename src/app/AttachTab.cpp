#include "AttachTab.h"

#include "Anchors.h"
#include "BackupFileName.h"
#include "ColumnFit.h"
#include "DatabaseList.h"
#include "EventGuard.h"
#include "FileDrop.h"
#include "MyException.h"
#include "OperatorUi.h"
#include "Session.h"
#include "TextFieldKeys.h"
#include "ui_AttachTab.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSignalBlocker>

using namespace Qt::StringLiterals;

namespace {
// Where a row keeps its database's name as the server gave it; the row shows it trimmed.
constexpr int exactNameRole = Qt::UserRole;
// The names column is never narrower than it was drawn; the files column takes the rest.
constexpr int nameColumnWidth = 112;
} // namespace

TAttachTab::TAttachTab(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TAttachTab>())
{
    ui->setupUi(this);
    fastenControls();
    ui->ListDB->setColumnWidth(0, nameColumnWidth);
    ui->ListDB->horizontalHeader()->setStretchLastSection(true);
    ui->ListDB->verticalHeader()->setMinimumSectionSize(18);
    ui->ListDB->verticalHeader()->setDefaultSectionSize(18);
    setRowCount(1);
    ui->ListDB->setCurrentCell(0, 0);
    ui->ListDB->installEventFilter(this);

    auto* keys = new DBNameKeyDown(this);
    keys->attachTo(ui->DBFileName);
    keys->attachTo(ui->DBLogFileName);
    pressOnEnter({ui->DBName->lineEdit(), ui->DBFileName, ui->DBLogFileName}, ui->bAttachDB);

    connect(ui->ListDB, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int previousRow, int) {
                if (row != previousRow)
                    guarded([this] { ListDBClick(); });
            });
    connect(ui->ListDB, &QTableWidget::cellDoubleClicked, this,
            [this] { guarded([this] { ListDBDblClick(); }); });
    connect(ui->BBackupDB, &QPushButton::clicked, this,
            [this] { guarded([this] { BBackupDBClick(); }); });
    connect(ui->bAttachDB, &QPushButton::clicked, this,
            [this] { guarded([this] { bAttachDBClick(); }); });
    connect(ui->BDeleteDB, &QPushButton::clicked, this,
            [this] { guarded([this] { BDeleteDBClick(); }); });
    connect(ui->BReConnectDB, &QPushButton::clicked, this,
            [this] { guarded([this] { BReConnectDBClick(); }); });
    connect(ui->DBFileNameBrowse, &QToolButton::clicked, this, [this] {
        guarded([this] { browse(ui->DBFileName, u"Файл данных|*.MDF|Все файлы (*.*)|*.*"_s); });
    });
    connect(ui->DBLogFileNameBrowse, &QToolButton::clicked, this, [this] {
        guarded([this] {
            browse(ui->DBLogFileName, u"Журнал транзакций|*.LDF|Все файлы (*.*)|*.*"_s);
        });
    });
    // The operator's choice holds for the next start; start-up's own setting is no click.
    for (const auto& [tick, key] : {std::pair{ui->isVerifyBackup, u"verify_backup"_s},
                                    std::pair{ui->isCopyOnly, u"copy_only_backup"_s}})
        connect(tick, &QCheckBox::clicked, this, [this, key](bool on) {
            guarded([this, key, on] { m_session->rememberSetting(key, on ? u"1"_s : u"0"_s); });
        });
    new FileDrop(ui->DBFileName);
    new FileDrop(ui->DBLogFileName);
    connect(ui->DBName, &QComboBox::editTextChanged, this,
            [this](const QString& text) { guarded([this, text] { DBNameChange(text); }); });
}

TAttachTab::~TAttachTab() = default;

// The attach fields and the list grow with the window; the buttons keep to their edges.
void TAttachTab::fastenControls()
{
    constexpr Qt::Edges across = Qt::LeftEdge | Qt::RightEdge;
    auto* tab = new Anchors(this, size());
    tab->fasten({ui->GAddDB}, across);
    tab->fasten({ui->GDeleteDB}, across | Qt::TopEdge | Qt::BottomEdge);

    auto* attach = new Anchors(ui->GAddDB, ui->GAddDB->size());
    attach->fasten({ui->LDBName, ui->DBName, ui->LDBFileName, ui->DBFileName, ui->LDBLogFileName,
                    ui->DBLogFileName},
                   across);
    attach->fasten({ui->DBFileNameBrowse, ui->DBLogFileNameBrowse, ui->bAttachDB}, Qt::RightEdge);

    auto* list = new Anchors(ui->GDeleteDB, ui->GDeleteDB->size());
    list->fasten({ui->LListDB}, across);
    list->fasten({ui->ListDB}, across | Qt::TopEdge | Qt::BottomEdge);
    list->fasten({ui->BDeleteDB, ui->BReConnectDB, ui->isCopyOnly, ui->BBackupDB, ui->isFileInDB,
                  ui->isVerifyBackup},
                 Qt::LeftEdge | Qt::BottomEdge);
    list->fasten({ui->LProgress}, across | Qt::BottomEdge);
}

void TAttachTab::bind(Session* session, EventGuard* guard)
{
    if (m_session != nullptr)
        disconnect(m_session, nullptr, this, nullptr);
    m_session = session;
    m_guard = guard;
    if (m_session != nullptr)
        connect(m_session, &Session::serverPercent, this, &TAttachTab::showServerPercent);
}

void TAttachTab::showSettings(const Settings& settings)
{
    ui->DBFileName->setText(settings.dbFileName);
    ui->isVerifyBackup->setChecked(settings.verifyBackup);
    ui->isCopyOnly->setChecked(settings.copyOnlyBackup);
}

void TAttachTab::setDatabaseName(const QString& name)
{
    ui->DBName->setEditText(name);
}

void TAttachTab::showServerPercent(int percent, const QString& step)
{
    if (percent < 0)
        ui->LProgress->clear();
    else
        ui->LProgress->setText(ProgressText(percent, step));
}

void TAttachTab::guarded(const std::function<void()>& handler)
{
    if (m_guard != nullptr)
        m_guard->handleEvent(handler);
}

void TAttachTab::setCatalogueNames(const QStringList& names)
{
    const QSignalBlocker blocker(ui->DBName);
    const QString text = ui->DBName->currentText();
    ui->DBName->clear();
    ui->DBName->addItems(names);
    ui->DBName->setCurrentIndex(-1);
    ui->DBName->setEditText(text);
}

void TAttachTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window system showing the window again (after minimising) is not the tab being shown.
    if (!event->spontaneous())
        guarded([this] { TabAttachDBShow(); });
}

void TAttachTab::TabAttachDBShow()
{
    ui->DBName->setFocus();
    RefreshListDB();
}

void TAttachTab::setRowCount(int rows)
{
    QTableWidget* list = ui->ListDB;
    list->setRowCount(rows);
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < 2; ++column)
            if (list->item(row, column) == nullptr)
                list->setItem(row, column, new QTableWidgetItem);
}

void TAttachTab::RefreshListDB()
{
    reloadList(std::nullopt);
}

void TAttachTab::reloadList(const std::optional<QString>& select)
{
    QTableWidget* list = ui->ListDB;
    const int previous = list->currentRow();
    if (m_session != nullptr)
        m_session->refreshDatabases(); // none without a connection
    if (m_session == nullptr || !m_session->connection().isOpen()) {
        const QSignalBlocker blocker(list);
        setRowCount(1);
        list->item(0, 0)->setText({});
        list->item(0, 0)->setData(exactNameRole, {});
        list->item(0, 1)->setText({});
        list->setCurrentCell(0, 0);
        fitColumnsToContents(list, nameColumnWidth);
        return;
    }
    const QList<AttachedDatabase>& databases = m_session->databases();
    {
        const QSignalBlocker blocker(list);
        const auto rows = static_cast<int>(std::max<qsizetype>(databases.size(), 1));
        setRowCount(rows);
        if (databases.isEmpty()) {
            list->item(0, 0)->setText({});
            list->item(0, 0)->setData(exactNameRole, {});
            list->item(0, 1)->setText({});
        }
        for (int row = 0; row < databases.size(); ++row) {
            list->item(row, 0)->setText(databases[row].name);
            list->item(row, 0)->setData(exactNameRole, databases[row].exactName);
            list->item(row, 1)->setText(databases[row].fileName);
        }
        if (!select) {
            // The current row stays, or moves up to the new last row.
            list->setCurrentCell(std::clamp(previous, 0, rows - 1), 0);
        } else if (const int row = rowOf(*select); row >= 0) {
            list->setCurrentCell(row, 0);
        } else {
            list->setCurrentCell(-1, -1);
            list->clearSelection();
        }
    }
    fitColumnsToContents(list, nameColumnWidth);
    ListDBClick();
}

void TAttachTab::disableFileInDB()
{
    ui->isFileInDB->setChecked(false);
    ui->isFileInDB->setEnabled(false);
}

void TAttachTab::ListDBClick()
{
    const int row = currentRow();
    if (row < 0 || m_session == nullptr || m_session->dbNameFileAdd().isEmpty()) {
        disableFileInDB();
        return;
    }
    if (m_session->isApplicationDatabase(rowDatabase(row)))
        ui->isFileInDB->setEnabled(true); // the tick stays as the operator left it
    else
        disableFileInDB();
}

int TAttachTab::rowCount() const
{
    return ui->ListDB->rowCount();
}

int TAttachTab::currentRow() const
{
    return ui->ListDB->currentRow();
}

QString TAttachTab::rowName(int row) const
{
    const QTableWidgetItem* item = ui->ListDB->item(row, 0);
    return item == nullptr ? QString() : item->text();
}

QString TAttachTab::rowDatabase(int row) const
{
    const QTableWidgetItem* item = ui->ListDB->item(row, 0);
    if (item == nullptr)
        return {};
    const QVariant exact = item->data(exactNameRole);
    return exact.isValid() ? exact.toString() : item->text();
}

int TAttachTab::rowOf(const QString& database) const
{
    for (int row = 0; row < rowCount(); ++row)
        if (rowDatabase(row) == database)
            return row;
    return -1;
}

QString TAttachTab::rowFileName(int row) const
{
    const QTableWidgetItem* item = ui->ListDB->item(row, 1);
    return item == nullptr ? QString() : item->text();
}

void TAttachTab::ListDBDblClick()
{
    const QString folder = FolderOf(rowFileName(currentRow()));
    // The folder of a server on another machine is not this machine's to open.
    if (!folder.isEmpty() && QFileInfo(folder).isDir() && m_session != nullptr &&
        !m_session->serverDisk().isRemote())
        m_session->operatorUi().openFolder(folder);
}

bool TAttachTab::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->ListDB && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_C && (key->modifiers() & Qt::ControlModifier)) {
            guarded([this] { copyCurrentRow(); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ListDBKeyDown: Ctrl+C (Shift or not) copies name TAB file of the current row, no line end.
void TAttachTab::copyCurrentRow()
{
    const int row = currentRow();
    QGuiApplication::clipboard()->setText(rowName(row) + u'\t' + rowFileName(row));
}

void TAttachTab::DBNameChange(const QString& text)
{
    if (m_session == nullptr)
        return;
    // The catalogue's folders are the server's: a server on another machine is asked for them.
    ServerDisk& disk = m_session->serverDisk();
    const auto folderExists = [&disk](const QString& folder) {
        if (disk.isServerPath(folder))
            return disk.folderExists(folder).value_or(false);
        return QFileInfo(folder).isDir();
    };
    if (const auto files = FilesFromCatalogue(m_session->listDBPath(), text, folderExists)) {
        ui->DBFileName->setText(files->dataFile);
        ui->DBLogFileName->setText(files->logFile);
    }
}

void TAttachTab::BBackupDBClick()
{
    const int row = currentRow();
    if (row < 0 || m_session == nullptr)
        return;
    const QString name = rowDatabase(row);
    if (name.isEmpty())
        return;
    OperatorUi::FileDialog dialog{
        u"Укажите имя файла для резервной копии"_s, u"Файл резервной копии|*.bak|Все файлы|*.*"_s,
        u"bak"_s, m_session->installDir(), DefaultBackupFileName(name, QDate::currentDate())};
    ServerDisk& disk = m_session->serverDisk();
    OperatorUi& operatorUi = m_session->operatorUi();
    std::optional<QString> file;
    if (disk.isRemote()) {
        // The server writes the file: the dialog shows its disks, from the folder of the last
        // backup there, else from its backup folder.
        dialog.folder =
            m_session->startFolder(RecentFolders::Kind::Backup, {}, disk.defaultBackupFolder());
        file = operatorUi.chooseOnServer(OperatorUi::ServerChoice::SaveFile, dialog, disk);
    } else {
        dialog.folder = m_session->startFolder(RecentFolders::Kind::Backup, {}, dialog.folder);
        file = operatorUi.chooseSaveFile(dialog);
    }
    if (!file)
        return;
    m_session->rememberFile(RecentFolders::Kind::Backup, *file);
    m_session->backupDB(name, m_session->installDir(), *file, ui->isFileInDB->isChecked(), true,
                        ui->isVerifyBackup->isChecked(), ui->isCopyOnly->isChecked());
}

void TAttachTab::browse(QLineEdit* field, const QString& filter)
{
    if (m_session == nullptr)
        return;
    // The default extension is the one the data-file dialog has always had.
    const QString shown = field->text();
    OperatorUi::FileDialog dialog{{}, filter, u"sql"_s, FolderOf(shown), shown};
    ServerDisk& disk = m_session->serverDisk();
    // The field's folder when it is there (the server's, for a server on another machine), else
    // that of the last database file chosen or attached, else the server's data folder.
    dialog.folder =
        m_session->startFolder(RecentFolders::Kind::DatabaseFile, dialog.folder,
                               disk.isRemote() ? disk.defaultDataFolder() : dialog.folder);
    // The name alone where the field's folder is not: a path would take the dialog there.
    if (dialog.folder != FolderOf(shown))
        dialog.fileName = shown.mid(FolderOf(shown).size());
    std::optional<QString> file;
    if (disk.isRemote()) {
        file = m_session->operatorUi().chooseOnServer(OperatorUi::ServerChoice::OpenFile, dialog,
                                                      disk);
    } else {
        file = m_session->operatorUi().chooseOpenFile(dialog);
    }
    if (!file)
        return;
    m_session->rememberFile(RecentFolders::Kind::DatabaseFile, *file);
    field->setText(*file);
}

void TAttachTab::bAttachDBClick()
{
    if (m_session == nullptr)
        return;
    const QString logFile = ui->DBLogFileName->text();
    const bool windowsLogin = m_session->login().windowsLogin;
    const QString dataFile = ui->DBFileName->text();
    const QString name = ui->DBName->currentText();
    const QString warning = m_session->attachDB(name, dataFile, logFile, windowsLogin);
    m_session->rememberFile(RecentFolders::Kind::DatabaseFile, dataFile);

    // The new row is appended, not read back from the server (below an empty placeholder too).
    m_session->appendDatabase({name, dataFile, name});
    QTableWidget* list = ui->ListDB;
    const int row = list->rowCount();
    {
        const QSignalBlocker blocker(list);
        setRowCount(row + 1);
        list->item(row, 0)->setText(name);
        list->item(row, 0)->setData(exactNameRole, name);
        list->item(row, 1)->setText(dataFile);
    }
    fitColumnsToContents(list, nameColumnWidth);
    list->setCurrentCell(row, 0); // the selection handler runs
    showAttached(u"База подключена"_s, warning);
}

void TAttachTab::showAttached(const QString& done, const QString& warning)
{
    // What the attach could not do comes after what it did.
    m_session->operatorUi().showMessage(
        warning.isEmpty() ? OperatorUi::Icon::Information : OperatorUi::Icon::Warning,
        applicationTitle(), warning.isEmpty() ? done : done + u"\r\n\r\n"_s + warning);
}

void TAttachTab::actAndSelect(const QString& database, const std::function<void()>& action)
{
    // The database acted on stays selected wherever the server now lists it, and none is when
    // it is gone: never a neighbour, which the next click would act on instead.
    try {
        action();
    } catch (const CancelledByOperator&) {
        throw; // nothing changed: the list stays as it is
    } catch (...) {
        reloadList(database);
        throw;
    }
    reloadList(database);
}

void TAttachTab::BDeleteDBClick()
{
    const int row = currentRow();
    if (row < 0 || m_session == nullptr || rowName(row).isEmpty())
        return;
    const QString name = rowDatabase(row);
    if (!m_session->operatorUi().askYesNo(OperatorUi::Icon::Question, u"Вынимание"_s,
                                          u"Вы действительно хотете отключить базу данных \""_s +
                                              rowName(row) + u"\"?"_s))
        return;
    actAndSelect(name, [&] { m_session->detachDB(name); });
}

void TAttachTab::BReConnectDBClick()
{
    const int row = currentRow();
    if (row < 0 || m_session == nullptr || rowName(row).isEmpty())
        return;
    const QString name = rowDatabase(row);
    const QString dataFile = rowFileName(row);
    QString warning;
    actAndSelect(name, [&] { warning = m_session->reattachDB(name, dataFile); });
    showAttached(u"База переподключена"_s, warning);
}
