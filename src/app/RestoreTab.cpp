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
    if (m_session != nullptr)
        connect(m_session, &Session::restoreFolderChanged, ui->RestoreToDirectory,
                &QLineEdit::setText);
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
    OperatorUi::FileDialog dialog{{},
                                  u"Резервная копия базы|*.BAK|Все файлы (*.*)|*.*"_s,
                                  u"bak"_s,
                                  {},
                                  ui->BackupFileName->text()};
    ServerDisk& disk = m_session->serverDisk();
    std::optional<QString> file;
    if (disk.isRemote()) {
        // The server reads the backup: its disks, from the named file's folder when the server
        // has it, else from its backup folder.
        dialog.folder = FolderOf(dialog.fileName);
        if (dialog.folder.isEmpty() || !disk.folderExists(dialog.folder).value_or(false))
            dialog.folder = disk.defaultBackupFolder();
        file = m_session->operatorUi().chooseOnServer(OperatorUi::ServerChoice::OpenFile, dialog,
                                                      disk);
    } else {
        file = m_session->operatorUi().chooseOpenFile(dialog);
    }
    // When the dialog closes, chosen or not, a name already in the field gets tidied.
    if (!ui->BackupFileName->text().isEmpty())
        emit backupFileChosen();
    if (file)
        ui->BackupFileName->setText(*file);
}

void TRestoreTab::browseRestoreFolder()
{
    const QString title = u"Восстановить базу в папку"_s;
    ServerDisk& disk = m_session->serverDisk();
    std::optional<QString> folder;
    if (disk.isRemote()) {
        // The server writes the database's files: a folder on its disks.
        QString start = ui->RestoreToDirectory->text();
        if (start.isEmpty() || !disk.folderExists(start).value_or(false))
            start = disk.defaultDataFolder();
        folder = m_session->operatorUi().chooseOnServer(OperatorUi::ServerChoice::Folder,
                                                        {title, {}, {}, start, {}}, disk);
    } else {
        folder = m_session->operatorUi().chooseFolder(title, ui->RestoreToDirectory->text());
    }
    if (folder)
        ui->RestoreToDirectory->setText(*folder);
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
    m_session->restoreDB(name, ui->BackupFileName->text(), ui->RestoreToDirectory->text(),
                         m_session->installDir(), ui->isReplaceDB->isChecked(),
                         ui->isRestoreFromDB->isChecked(), true, true);
}
