#pragma once

#include "OperatorUi.h"

class QWidget;

// The operator interface of the window: Qt's message boxes and dialogs.
class QtOperatorUi : public OperatorUi
{
public:
    void showMessage(Icon icon, const QString& caption, const QString& text) override;
    void openFolder(const QString& path) override;
    void setParentWindow(QWidget* window) { m_parent = window; }

private:
    QWidget* m_parent = nullptr;
};
