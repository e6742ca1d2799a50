#pragma once

#include <QObject>

class QWidget;

// The key handler the window's text fields share: Ctrl+A (with any other modifiers) selects the
// whole text of a line edit or a memo; other controls ignore it.
class DBNameKeyDown : public QObject
{
public:
    explicit DBNameKeyDown(QObject* parent) : QObject(parent) {}
    void attachTo(QWidget* field);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
