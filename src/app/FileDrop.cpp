#include "FileDrop.h"

#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

namespace {

QString droppedFile(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().isEmpty())
        return {};
    const QUrl url = data->urls().first();
    return url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : QString();
}

} // namespace

FileDrop::FileDrop(QLineEdit* field) : QObject(field), m_field(field)
{
    field->setAcceptDrops(true);
    field->installEventFilter(this);
}

bool FileDrop::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_field)
        return false;
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (droppedFile(drag->mimeData()).isEmpty())
            return false;
        drag->acceptProposedAction();
        return true;
    }
    if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QString file = droppedFile(drop->mimeData());
        if (file.isEmpty())
            return false;
        m_field->setText(file);
        drop->acceptProposedAction();
        return true;
    }
    return false;
}
