#pragma once

#include "OperatorUi.h"

#include <QList>
#include <QString>
#include <QStringList>

// The operator of a test: records everything shown, in order.
class ScriptedOperatorUi : public OperatorUi
{
public:
    struct Shown
    {
        Icon icon;
        QString caption;
        QString text;
    };

    void showMessage(Icon icon, const QString& caption, const QString& text) override
    {
        shown.append({icon, caption, text});
    }
    void openFolder(const QString& path) override { openedFolders.append(path); }

    QList<Shown> shown;
    QStringList openedFolders;
};
