#include "TextFieldKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>

void DBNameKeyDown::attachTo(QWidget* field)
{
    field->installEventFilter(this);
}

bool DBNameKeyDown::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_A || !(key->modifiers() & Qt::ControlModifier))
        return false;
    if (auto* line = qobject_cast<QLineEdit*>(watched)) {
        line->selectAll();
        return true;
    }
    if (auto* memo = qobject_cast<QPlainTextEdit*>(watched)) {
        memo->selectAll();
        return true;
    }
    return false;
}

void pressOnEnter(std::initializer_list<QLineEdit*> fields, QAbstractButton* button)
{
    for (QLineEdit* field : fields)
        QObject::connect(field, &QLineEdit::returnPressed, button, [button] {
            if (button->isEnabled())
                button->click();
        });
}
