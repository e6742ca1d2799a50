#include "QtOperatorUi.h"

#include "FStatus.h"
#include "ServerFileDialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

QMessageBox::Icon boxIcon(OperatorUi::Icon icon)
{
    switch (icon) {
    case OperatorUi::Icon::Plain:
        return QMessageBox::NoIcon;
    case OperatorUi::Icon::Information:
        return QMessageBox::Information;
    case OperatorUi::Icon::Warning:
        return QMessageBox::Warning;
    case OperatorUi::Icon::Error:
        return QMessageBox::Critical;
    case OperatorUi::Icon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// "Файл|*.bak|Все файлы (*.*)|*.*" as Qt takes it: each type listed as the server's dialog lists
// it ("Файл (*.bak)", "Все файлы (*.*)"), followed by the patterns Qt matches, which the dialog
// does not show (HideNameFilterDetails). "*.*" is every file, as on Windows; Qt's "*.*" would
// leave out names without a dot.
QStringList qtFilters(const QString& filter)
{
    QStringList out;
    for (const serverpath::FileType& type : serverpath::parseFilter(filter)) {
        QStringList patterns = type.patterns;
        for (QString& pattern : patterns)
            if (pattern == u"*.*"_s)
                pattern = u"*"_s;
        out << serverpath::fileTypeLabel(type) + u" ("_s + patterns.join(u' ') + u')';
    }
    return out;
}

// The dates and sizes of the dialog's detail view in the operator's regional settings, and in
// Russian without any (the C locale), like the rest of the program's texts; Qt's own model
// writes them in the system locale, whose C form has English month names. The files' types too.
class RegionalFileColumns : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        constexpr int sizeColumn = 1;
        constexpr int typeColumn = 2;
        constexpr int dateColumn = 3;
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || files == nullptr)
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        const QLocale locale = FileDialogLocale();
        if (index.column() == dateColumn)
            return locale.toString(files->lastModified(source), QLocale::ShortFormat);
        // A folder has no size and its own type, both as Qt shows them.
        if (files->isDir(source))
            return QIdentityProxyModel::data(index, role);
        if (index.column() == sizeColumn)
            return locale.formattedDataSize(files->size(source));
        // A file's type is its MIME type's description, in the language of the program's locale,
        // which the console keeps as the system's: English under C. Qt's Russian texts name it
        // by its extension instead, as Qt 5 did.
        if (index.column() == typeColumn && QLocale().language() == QLocale::C) {
            const QString suffix = files->fileInfo(source).suffix();
            return suffix.isEmpty() ? QFileDialog::tr("File")
                                    : QFileDialog::tr("%1 File").arg(suffix);
        }
        return QIdentityProxyModel::data(index, role);
    }
};

void setUpFileDialog(QFileDialog& dialog)
{
    dialog.setProxyModel(new RegionalFileColumns(&dialog));
    dialog.setLocale(FileDialogLocale());
}

std::optional<QString> runFileDialog(QWidget* parent, const OperatorUi::FileDialog& request,
                                     QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, request.title, request.folder);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(qtFilters(request.filter));
    setUpFileDialog(dialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite); // the flows decide about overwriting
    dialog.setDefaultSuffix(request.defaultExtension);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().first());
}

} // namespace

QLocale FileDialogLocale()
{
    const QLocale system = QLocale::system();
    return system.language() == QLocale::C ? QLocale(QLocale::Russian, QLocale::Russia) : system;
}

void QtOperatorUi::showMessage(Icon icon, const QString& caption, const QString& text)
{
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, owner());
    box.exec();
}

bool QtOperatorUi::askYesNo(Icon icon, const QString& caption, const QString& text)
{
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Yes | QMessageBox::No, owner());
    return box.exec() == QMessageBox::Yes;
}

int QtOperatorUi::askChoice(Icon icon, const QString& caption, const QString& text,
                            const QStringList& buttons)
{
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::NoButton, owner());
    // The roles of Save, Discard and Cancel: each platform lays them out as its users expect.
    QList<QAbstractButton*> added;
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        const auto role = i == 0                    ? QMessageBox::AcceptRole
                          : i + 1 == buttons.size() ? QMessageBox::RejectRole
                                                    : QMessageBox::DestructiveRole;
        added << box.addButton(buttons[i], role);
    }
    if (!added.isEmpty()) {
        box.setDefaultButton(qobject_cast<QPushButton*>(added.first()));
        box.setEscapeButton(added.last());
    }
    box.exec();
    const qsizetype pressed = added.indexOf(box.clickedButton());
    return static_cast<int>(pressed >= 0 ? pressed : added.size() - 1);
}

std::optional<QString> QtOperatorUi::chooseSaveFile(const FileDialog& dialog)
{
    return runFileDialog(owner(), dialog, QFileDialog::AcceptSave);
}

std::optional<QString> QtOperatorUi::chooseOpenFile(const FileDialog& dialog)
{
    return runFileDialog(owner(), dialog, QFileDialog::AcceptOpen);
}

std::optional<QString> QtOperatorUi::chooseFolder(const QString& title, const QString& folder)
{
    QFileDialog dialog(owner(), title, folder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    setUpFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().first());
}

std::optional<QString> QtOperatorUi::chooseOnServer(ServerChoice kind, const FileDialog& dialog,
                                                    ServerFolders& server)
{
    return ServerFileDialog::choose(kind, dialog, server, owner());
}

void QtOperatorUi::openFolder(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QWidget* QtOperatorUi::owner() const
{
    // While an operation runs the main window is disabled, and so would be a box it owns.
    if (m_progress != nullptr && m_progress->isVisible())
        return m_progress;
    return m_parent;
}

void QtOperatorUi::startOperation(const QString& title)
{
    if (m_progress != nullptr)
        m_progress->StartOperation(title, m_parent);
}

void QtOperatorUi::finishOperation()
{
    if (m_progress != nullptr)
        m_progress->FinishOperation();
}

void QtOperatorUi::operationNote(const QString& text)
{
    if (m_progress != nullptr)
        m_progress->ShowNote(text);
}

void QtOperatorUi::operationProgress(int percent, const QString& step)
{
    if (m_progress != nullptr)
        m_progress->ShowPercent(percent, step);
}
