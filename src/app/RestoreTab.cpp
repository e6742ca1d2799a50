#include "RestoreTab.h"

#include "AttachTab.h"
#include "DBWorkU.h"
#include "DatabaseList.h"
#include "FileDrop.h"
#include "StatementText.h"
#include "TextDecoding.h"
#include "TextFieldKeys.h"
#include "ui_RestoreTab.h"

#include <QShowEvent>

namespace {
constexpr int headerTimeoutSeconds = 600;
}

using namespace Qt::StringLiterals;

TRestoreTab::TRestoreTab(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TRestoreTab>())
{
    ui->setupUi(this);
    auto* keys = new DBNameKeyDown(this);
    keys->attachTo(ui->BackupFileName);
    keys->attachTo(ui->RestoreToDirectory);
    keys->attachTo(ui->RestoreDBName);
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
}

void TRestoreTab::showBackupInfo()
{
    QLabel* info = ui->LBackupInfo;
    const QString file = ui->BackupFileName->text().trimmed();
    info->clear();
    info->setToolTip({});
    if (file.isEmpty() || m_form == nullptr || !m_form->Connection.isOpen() || m_form->isBusy())
        return;
    QPalette palette = info->palette();
    try {
        const auto sets = m_form->Connection.openRecordSet(u"RESTORE HEADERONLY FROM DISK = N'"_s +
                                                               sqltext::literalBody(file) + u'\'',
                                                           headerTimeoutSeconds);
        if (sets->isEmpty())
            return;
        sets->first();
        const auto field = [&sets](const QString& column) {
            return platform::trimBlanks(sets->fieldText(column)).toString();
        };
        const QDateTime made =
            sets->value(0, sets->columnIndex(u"BackupFinishDate"_s)).toDateTime();
        QString text = u"База \""_s + field(u"DatabaseName"_s) + u"\", копия от "_s +
                       made.toString(u"dd.MM.yyyy HH:mm"_s) + u", сервер "_s +
                       field(u"ServerName"_s) + u", версия "_s + field(u"SoftwareVersionMajor"_s) +
                       u'.' + field(u"SoftwareVersionMinor"_s) + u'.' +
                       field(u"SoftwareVersionBuild"_s);
        // A restore takes the first of several backups in one file.
        if (sets->recordCount() > 1)
            text += u" (первая из %1 копий в файле)"_s.arg(sets->recordCount());
        palette.setColor(QPalette::WindowText, palette.color(QPalette::Active, QPalette::Text));
        info->setText(text);
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
    if (m_form != nullptr)
        m_form->handleEvent(handler);
}

TRestoreTab::~TRestoreTab() = default;

void TRestoreTab::setForm(TFormDB* form)
{
    m_form = form;
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
    ServerDisk& disk = m_form->serverDisk();
    std::optional<QString> file;
    if (disk.isRemote()) {
        // The server reads the backup: its disks, from the named file's folder when the server
        // has it, else from its backup folder.
        dialog.folder = FolderOf(dialog.fileName);
        if (dialog.folder.isEmpty() || !disk.folderExists(dialog.folder).value_or(false))
            dialog.folder = disk.defaultBackupFolder();
        file =
            m_form->operatorUi().chooseOnServer(OperatorUi::ServerChoice::OpenFile, dialog, disk);
    } else {
        file = m_form->operatorUi().chooseOpenFile(dialog);
    }
    // When the dialog closes, chosen or not, a name already in the field gets tidied.
    if (!ui->BackupFileName->text().isEmpty())
        m_form->Timer1.start();
    if (file)
        ui->BackupFileName->setText(*file);
}

void TRestoreTab::browseRestoreFolder()
{
    const QString title = u"Восстановить базу в папку"_s;
    ServerDisk& disk = m_form->serverDisk();
    std::optional<QString> folder;
    if (disk.isRemote()) {
        // The server writes the database's files: a folder on its disks.
        QString start = ui->RestoreToDirectory->text();
        if (start.isEmpty() || !disk.folderExists(start).value_or(false))
            start = disk.defaultDataFolder();
        folder = m_form->operatorUi().chooseOnServer(OperatorUi::ServerChoice::Folder,
                                                     {title, {}, {}, start, {}}, disk);
    } else {
        folder = m_form->operatorUi().chooseFolder(title, ui->RestoreToDirectory->text());
    }
    if (folder)
        ui->RestoreToDirectory->setText(*folder);
}

void TRestoreTab::BRestoreDBClick()
{
    if (m_form == nullptr)
        return;
    OperatorUi& operatorUi = m_form->operatorUi();
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
        const TAttachTab* list = m_form->attachTab();
        for (int row = 0; row < list->rowCount(); ++row) {
            if (list->rowName(row).compare(wanted, Qt::CaseInsensitive) != 0)
                continue;
            operatorUi.showMessage(OperatorUi::Icon::Warning, u"Внимание"_s,
                                   u"База данных \""_s + platform::trimBlanks(name).toString() +
                                       u"\" существует.\r\n"_s +
                                       u"Для ее замены поставьте галочку заменить"_s + u"\r\n"_s);
            return;
        }
    }
    m_form->RestoreDB(name, ui->BackupFileName->text(), ui->RestoreToDirectory->text(),
                      m_form->_InstallDir, ui->isReplaceDB->isChecked(),
                      ui->isRestoreFromDB->isChecked(), true, true);
}
