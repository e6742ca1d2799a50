#pragma once

#include <QObject>
#include <initializer_list>

class QAbstractButton;
class QLineEdit;
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

// Enter in one of the fields presses the button that does its tab's work, as a dialog's default
// button does; an unavailable button is not pressed. Never for a button that destroys something.
void pressOnEnter(std::initializer_list<QLineEdit*> fields, QAbstractButton* button);
