#pragma once

#include "OperatorUi.h"

// The operator of a batch run on a machine without a display: every message is a stderr line,
// questions are answered on their own (Yes: a nightly backup goes on), nothing is chosen in a
// dialog.
class StderrOperatorUi : public OperatorUi
{
public:
    void showMessage(Icon icon, const QString& caption, const QString& text) override;
    bool askYesNo(Icon icon, const QString& caption, const QString& text) override;
    void note(const QString& text) override;
    std::optional<QString> chooseSaveFile(const FileDialog&) override { return std::nullopt; }
    std::optional<QString> chooseOpenFile(const FileDialog&) override { return std::nullopt; }
    std::optional<QString> chooseFolder(const QString&, const QString&) override
    {
        return std::nullopt;
    }
    std::optional<QString> chooseOnServer(ServerChoice, const FileDialog&, ServerFolders&) override
    {
        return std::nullopt;
    }
    void openFolder(const QString&) override {}
    void startOperation(const QString& title) override;
    void finishOperation() override {}
};

// Writes the text as one stderr line: line breaks become blanks, and other control characters
// (NUL, escape sequences from names a backup or server supplied) are shown as "?", so nothing
// cuts the line short or reaches the terminal as a command.
void printStderrLine(const QString& text);

// Whether this process has no display to show windows on.
bool hasNoDisplay();
