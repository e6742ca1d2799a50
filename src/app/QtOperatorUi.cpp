#include "QtOperatorUi.h"

#include "FStatus.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace {

QMessageBox::Icon boxIcon(OperatorUi::Icon icon)
{
    switch (icon) {
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

} // namespace

void QtOperatorUi::showMessage(Icon icon, const QString& caption, const QString& text)
{
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, m_parent);
    box.exec();
}

void QtOperatorUi::openFolder(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
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
