#include "Anchors.h"

#include <QEvent>
#include <QWidget>
#include <cmath>

namespace {

int share(double follow, int growth)
{
    return static_cast<int>(std::lround(follow * growth));
}

} // namespace

Anchors::Anchors(QWidget* container, QSize designSize)
    : QObject(container), m_container(container), m_designSize(designSize)
{
    container->installEventFilter(this);
}

void Anchors::fasten(std::initializer_list<QWidget*> controls, Qt::Edges sides)
{
    Follow follow;
    if (sides & Qt::RightEdge) {
        follow.right = 1;
        follow.left = (sides & Qt::LeftEdge) ? 0 : 1;
    }
    if (sides & Qt::BottomEdge) {
        follow.bottom = 1;
        follow.top = (sides & Qt::TopEdge) ? 0 : 1;
    }
    fasten(controls, follow);
}

void Anchors::fasten(std::initializer_list<QWidget*> controls, Follow follow)
{
    for (QWidget* control : controls)
        m_fastened.push_back({control, control->geometry(), follow});
}

QRect Anchors::place(const QRect& design, QSize designSize, QSize size, const Follow& follow)
{
    const int dx = size.width() - designSize.width();
    const int dy = size.height() - designSize.height();
    // Edges, not sizes, follow: controls that share an edge's share keep sharing the edge.
    const int left = design.left() + share(follow.left, dx);
    const int top = design.top() + share(follow.top, dy);
    const int right = design.left() + design.width() + share(follow.right, dx);
    const int bottom = design.top() + design.height() + share(follow.bottom, dy);
    return {left, top, std::max(right - left, 0), std::max(bottom - top, 0)};
}

bool Anchors::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_container && event->type() == QEvent::Resize)
        layOut();
    return QObject::eventFilter(watched, event);
}

void Anchors::layOut()
{
    const QSize size = m_container->size();
    for (const Fastened& fastened : m_fastened)
        fastened.control->setGeometry(place(fastened.design, m_designSize, size, fastened.follow));
}
