#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <initializer_list>
#include <vector>

class QWidget;

// Keeps the controls of an absolutely placed container in place as the container grows: each
// edge of a control follows a share of the growth, 0 keeping its distance from the left (top)
// side, 1 from the right (bottom) side. At the size the design was drawn for, every control
// stands exactly where the design put it.
class Anchors : public QObject
{
public:
    // How far each edge of a control follows the container's growth in its direction.
    struct Follow
    {
        double left = 0;
        double top = 0;
        double right = 0;
        double bottom = 0;
    };

    // designSize: the container's size that the controls' present geometries were drawn for.
    Anchors(QWidget* container, QSize designSize);

    // Takes the controls' present geometries as their design; they move when the container is
    // resized. Fastened to the sides named: two opposite sides stretch it, one alone keeps its
    // distance from that side, neither keeps it at the left or top.
    void fasten(std::initializer_list<QWidget*> controls, Qt::Edges sides);
    void fasten(std::initializer_list<QWidget*> controls, Follow follow);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Fastened
    {
        QWidget* control;
        QRect design;
        Follow follow;
    };

    // Where a control drawn at design in a container of designSize goes in one of size.
    static QRect place(const QRect& design, QSize designSize, QSize size, const Follow& follow);
    void layOut();

    QWidget* m_container;
    QSize m_designSize;
    std::vector<Fastened> m_fastened;
};
