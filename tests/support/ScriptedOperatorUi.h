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
    void startOperation(const QString& title) override
    {
        operations.append(QStringLiteral("start: ") + title);
        ++runningOperations;
    }
    void finishOperation() override
    {
        operations.append(QStringLiteral("finish"));
        runningOperations = 0;
    }

    QList<Shown> shown;
    QStringList openedFolders;
    QStringList operations;    // "start: <title>" and "finish", in order
    int runningOperations = 0; // started and not finished
};
