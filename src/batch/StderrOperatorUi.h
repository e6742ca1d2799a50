#pragma once

#include "MyException.h"
#include "OperatorUi.h"

#include <QStringList>
#include <exception>
#include <functional>

// Writes the text as one stderr line: line breaks become blanks, and other control characters
// (NUL, escape sequences from names a backup or server supplied) are shown as "?", so nothing
// cuts the line short or reaches the terminal as a command.
void printStderrLine(const QString& text);
// The line printStderrLine writes, without its line end.
QString stderrLineText(const QString& text);

// The operator of a batch run on a machine without a display: every message is a stderr line,
// questions are answered on their own (Yes: a nightly backup goes on; of several answers the
// last, which changes nothing), nothing is chosen in a dialog.
class StderrOperatorUi : public OperatorUi
{
public:
    // print writes one line; stderr by default (tests keep the lines).
    explicit StderrOperatorUi(std::function<void(const QString&)> print = printStderrLine)
        : m_print(std::move(print))
    {}
    void showMessage(Icon icon, const QString& caption, const QString& text) override;
    bool askYesNo(Icon icon, const QString& caption, const QString& text) override;
    int askChoice(Icon icon, const QString& caption, const QString& text,
                  const QStringList& buttons) override;
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

private:
    std::function<void(const QString&)> m_print;
};

// An error of a batch run with a line of advice for the script's author (the option that would
// have prevented it). A message box shows both; stderr gives the advice a line of its own.
class AdvisedError : public MyException
{
public:
    AdvisedError(const std::exception& error, QString advice)
        : MyException(errorMessage(error) + QStringLiteral("\r\n") + advice),
          m_failure(errorMessage(error)), m_advice(std::move(advice))
    {}
    const QString& failure() const { return m_failure; }
    const QString& advice() const { return m_advice; }

private:
    QString m_failure;
    QString m_advice;
};

// The report of an error that ended a run without a display, as stderr lines: the unhandled-error
// line, and for a refused connection the server's or driver's reason on a line of its own after
// it, so that a script's log says why.
QStringList unattendedErrorLines(const std::exception& error, const QString& module);
