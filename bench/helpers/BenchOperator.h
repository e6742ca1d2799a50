#pragma once

#include "OperatorUi.h"

#include <QStringList>

// The operator of an in-process benchmark: answers the save dialog with one file (when set) and
// records every message, any of which makes the measurement a failed one.
class BenchOperator : public OperatorUi
{
public:
    QString saveFile;
    QStringList shown;

    void showMessage(Icon, const QString& caption, const QString& text) override
    {
        shown << caption + QStringLiteral(": ") + text;
    }
    bool askYesNo(Icon, const QString& caption, const QString& text) override
    {
        shown << caption + QStringLiteral(": ") + text;
        return false;
    }
    void note(const QString&) override {}
    std::optional<QString> chooseSaveFile(const FileDialog&) override
    {
        if (saveFile.isEmpty())
            return std::nullopt;
        return saveFile;
    }
    std::optional<QString> chooseOpenFile(const FileDialog&) override { return std::nullopt; }
    std::optional<QString> chooseFolder(const QString&, const QString&) override
    {
        return std::nullopt;
    }
    void openFolder(const QString&) override {}
    void startOperation(const QString&) override {}
    void finishOperation() override {}
};
