#include "RestoreTab.h"

#include "Anchors.h"
#include "BackupHeader.h"
#include "DatabaseList.h"
#include "EventGuard.h"
#include "FileDrop.h"
#include "MyException.h"
#include "OperatorUi.h"
#include "Session.h"
#include "TextDecoding.h"
#include "TextFieldKeys.h"
#include "ui_RestoreTab.h"

#include <QShowEvent>

using namespace Qt::StringLiterals;

TRestoreTab::TRestoreTab(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TRestoreTab>())
{
    ui->setupUi(this);
    fastenControls();
    auto* keys = new DBNameKeyDown(this);
    keys->attachTo(ui->BackupFileName);
    keys->attachTo(ui->RestoreToDirectory);
    keys->attachTo(ui->RestoreDBName);
    // The restore asks before it starts.
    pressOnEnter({ui->BackupFileName, ui->RestoreDBName, ui->RestoreToDirectory}, ui->BRestoreDB);
    new FileDrop(ui->BackupFileName);

    connect(ui->BRestoreDB, &QPushButton::clicked, this,
            [this] { guarded([this] { BRestoreDBClick(); }); });
    connect(ui->BackupFileNameBrowse, &QToolButton::clicked, this,
            [this] { guarded([this] { BackupFileNameAfterDialog(); }); });
    connect(ui->RestoreToDirectoryBrowse, &QToolButton::clicked, this,
            [this] { guarded([this] { browseRestoreFolder(); }); });
    // The stored application files can be written back from the window too, once there is a
    // backup to take them from; never ticked on its own.
    connect(ui->BackupFileName, &QLineEdit::textChanged, this, [this](const QString& text) {
        const bool chosen = !text.trimmed().isEmpty();
        ui->isRestoreFromDB->setEnabled(chosen);
        if (!chosen)
            ui->isRestoreFromDB->setChecked(false);
        // A name put there by a dialog, a drop or start-up; a typed one once typing ends.
        if (!ui->BackupFileName->hasFocus())
            showBackupInfo();
    });
    connect(ui->BackupFileName, &QLineEdit::editingFinished, this, [this] { showBackupInfo(); });
    // The session keeps the folder, to follow the server (a server on another machine has its
    // own default).
    connect(ui->RestoreToDirectory, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_session != nullptr)
            m_session->setRestoreFolder(text);
    });
}

void TRestoreTab::showBackupInfo()
{
    QLabel* info = ui->LBackupInfo;
    const QString file = ui->BackupFileName->text().trimmed();
    info->clear();
    info->setToolTip({});
    if (file.isEmpty() || m_session == nullptr || !m_session->connection().isOpen() ||
        (m_guard != nullptr && m_guard->isBusy()))
        return;
    QPalette palette = info->palette();
    try {
        const std::optional<BackupHeader> header = ReadBackupHeader(m_session->connection(), file);
        if (!header)
            return;
        palette.setColor(QPalette::WindowText, palette.color(QPalette::Active, QPalette::Text));
        info->setText(BackupHeaderText(*header));
    } catch (const std::exception& error) {
        // Only information: the restore itself reports what is wrong with the file.
        palette.setColor(QPalette::WindowText, Qt::red);
        info->setText(u"Сервер не может прочитать копию: "_s + errorMessage(error));
    }
    info->setPalette(palette);
    info->setToolTip(info->text());
}

void TRestoreTab::guarded(const std::function<void()>& handler)
{
    if (m_guard != nullptr)
        m_guard->handleEvent(handler);
}

TRestoreTab::~TRestoreTab() = default;

// Paths and the name grow with the window; the buttons keep to the right-hand edge.
void TRestoreTab::fastenControls()
{
    constexpr Qt::Edges across = Qt::LeftEdge | Qt::RightEdge;
    auto* tab = new Anchors(this, size());
    tab->fasten({ui->GRestoreDB}, across);
    auto* fields = new Anchors(ui->GRestoreDB, ui->GRestoreDB->size());
    fields->fasten({ui->LBackupFileName, ui->BackupFileName, ui->LBackupInfo, ui->LRestoreDBName,
                    ui->RestoreDBName, ui->LRestoreToDirectory, ui->RestoreToDirectory},
                   across);
    fields->fasten(
        {ui->BackupFileNameBrowse, ui->isReplaceDB, ui->RestoreToDirectoryBrowse, ui->BRestoreDB},
        Qt::RightEdge);
}

void TRestoreTab::bind(Session* session, EventGuard* guard)
{
    if (m_session != nullptr)
        disconnect(m_session, nullptr, this, nullptr);
    m_session = session;
    m_guard = guard;
    if (m_session != nullptr) {
        connect(m_session, &Session::restoreFolderChanged, ui->RestoreToDirectory,
                &QLineEdit::setText);
        connect(m_session, &Session::backupMade, this, &TRestoreTab::offerBackupFile);
    }
}

void TRestoreTab::showSettings(const QString& restoreDBName)
{
    ui->RestoreDBName->setText(restoreDBName);
    if (m_session != nullptr)
        ui->RestoreToDirectory->setText(m_session->restoreFolder());
}

QString TRestoreTab::backupFileName() const
{
    return ui->BackupFileName->text();
}

void TRestoreTab::setBackupFileName(const QString& file)
{
    // Tidying a name the program offered keeps it the program's.
    if (ui->BackupFileName->text() == m_offered)
        m_offered = file;
    ui->BackupFileName->setText(file);
}

void TRestoreTab::offerBackupFile(const QString& file)
{
    // A backup the operator named (typed, dropped, chosen) stays: it may be the very one to
    // restore, the new backup only the safety copy taken before.
    const QString shown = ui->BackupFileName->text();
    if (!shown.trimmed().isEmpty() && shown != m_offered)
        return;
    m_offered = file;
    ui->BackupFileName->setText(file);
}

void TRestoreTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        TabRestoreDBShow();
}

void TRestoreTab::TabRestoreDBShow()
{
    ui->BackupFileName->setFocus();
}

void TRestoreTab::BackupFileNameAfterDialog()
{
    const QString shown = ui->BackupFileName->text();
    OperatorUi::FileDialog dialog{
        {}, u"Резервная копия базы|*.BAK|Все файлы (*.*)|*.*"_s, u"bak"_s, {}, shown};
    ServerDisk& disk = m_session->serverDisk();
    // The server reads the backup (its disks, for a server on another machine): from the named
    // file's folder when it is there, else from the folder of the last backup made or restored,
    // else from the server's backup folder.
    const QString named = FolderOf(shown);
    dialog.folder =
        m_session->startFolder(RecentFolders::Kind::Backup, named,
                               disk.isRemote() ? disk.defaultBackupFolder() : QString());
    // The name alone where the named folder is not: a path would take the dialog there.
    if (!dialog.folder.isEmpty() && dialog.folder != named)
        dialog.fileName = shown.mid(named.size());
    std::optional<QString> file;
    if (disk.isRemote()) {
        file = m_session->operatorUi().chooseOnServer(OperatorUi::ServerChoice::OpenFile, dialog,
                                                      disk);
    } else {
        file = m_session->operatorUi().chooseOpenFile(dialog);
    }
    // When the dialog closes, chosen or not, a name already in the field gets tidied.
    if (!ui->BackupFileName->text().isEmpty())
        emit backupFileChosen();
    if (!file)
        return;
    m_session->rememberFile(RecentFolders::Kind::Backup, *file);
    ui->BackupFileName->setText(*file);
}

void TRestoreTab::browseRestoreFolder()
{
    const QString title = u"Восстановить базу в папку"_s;
    ServerDisk& disk = m_session->serverDisk();
    std::optional<QString> folder;
    if (disk.isRemote()) {
        // The server writes the database's files: a folder on its disks. The operator's own
        // folder, else that of the database being replaced, else the server's default.
        const QString shown = ui->RestoreToDirectory->text();
        const QString serverDefault = disk.defaultDataFolder();
        const auto there = [&disk](const QString& path) {
            return !path.isEmpty() && disk.folderExists(path).value_or(false);
        };
        QString start;
        if (there(shown) &&
            ServerFolderWithSeparator(shown).compare(serverDefault, Qt::CaseInsensitive) != 0)
            start = shown;
        if (const QString own = databaseFolder(); start.isEmpty() && there(own))
            start = own;
        if (start.isEmpty())
            start = there(shown) ? shown : serverDefault;
        folder = m_session->operatorUi().chooseOnServer(OperatorUi::ServerChoice::Folder,
                                                        {title, {}, {}, start, {}}, disk);
    } else {
        folder = m_session->operatorUi().chooseFolder(title, ui->RestoreToDirectory->text());
    }
    if (folder)
        ui->RestoreToDirectory->setText(*folder);
}

QString TRestoreTab::databaseFolder() const
{
    // The name as the restore takes it: without trailing blanks, in any case.
    QString name = ui->RestoreDBName->text();
    while (!name.isEmpty() && name.back() == u' ')
        name.chop(1);
    for (const AttachedDatabase& listed : m_session->databases())
        if (!name.isEmpty() && listed.name.compare(name, Qt::CaseInsensitive) == 0)
            return FolderOf(listed.fileName);
    return {};
}

void TRestoreTab::BRestoreDBClick()
{
    if (m_session == nullptr)
        return;
    OperatorUi& operatorUi = m_session->operatorUi();
    const QString name = ui->RestoreDBName->text();
    const QString question = u"Вы хотите восстановить базу данных \""_s + name + u"\"\r\n"_s +
                             u"из файла резервной копии \""_s + ui->BackupFileName->text() +
                             u"\"\r\n"_s + u"и поместить ее в папку \""_s +
                             ui->RestoreToDirectory->text() + u"\"?"_s + u"\r\n"_s;
    if (!operatorUi.askYesNo(OperatorUi::Icon::Warning, u"Внимание"_s, question))
        return;
    if (!ui->isReplaceDB->isChecked()) {
        QString wanted = name;
        while (!wanted.isEmpty() && wanted.back() == u' ')
            wanted.chop(1);
        for (const AttachedDatabase& listed : m_session->databases()) {
            if (listed.name.compare(wanted, Qt::CaseInsensitive) != 0)
                continue;
            operatorUi.showMessage(OperatorUi::Icon::Warning, u"Внимание"_s,
                                   u"База данных \""_s + platform::trimBlanks(name).toString() +
                                       u"\" существует.\r\n"_s +
                                       u"Для ее замены поставьте галочку заменить"_s + u"\r\n"_s);
            return;
        }
    }
    const QString backupFile = ui->BackupFileName->text();
    m_session->restoreDB(name, backupFile, ui->RestoreToDirectory->text(), m_session->installDir(),
                         ui->isReplaceDB->isChecked(), ui->isRestoreFromDB->isChecked(), true,
                         true);
    m_session->rememberFile(RecentFolders::Kind::Backup, backupFile);
}
