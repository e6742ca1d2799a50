#include "QtOperatorUi.h"

#include "FStatus.h"
#include "ServerFileDialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
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

// "Файл|*.bak|Все файлы|*.*" as Qt writes it: "Файл (*.bak);;Все файлы (*)".
QString qtFilter(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        if (patterns == u"*.*"_s)
            patterns = u"*"_s;
        out << parts[i] + u" ("_s + patterns + u')';
    }
    return out.join(u";;"_s);
}

std::optional<QString> runFileDialog(QWidget* parent, const OperatorUi::FileDialog& request,
                                     QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, request.title, request.folder, qtFilter(request.filter));
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
    const QString chosen = QFileDialog::getExistingDirectory(owner(), title, folder);
    if (chosen.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(chosen);
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
