#pragma once

#include "MyException.h"
#include "OperatorUi.h"

#include <QStringList>
#include <exception>

// The operator of a batch run on a machine without a display: every message is a stderr line,
// questions are answered on their own (Yes: a nightly backup goes on; of several answers the
// last, which changes nothing), nothing is chosen in a dialog.
class StderrOperatorUi : public OperatorUi
{
public:
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
};

// Writes the text as one stderr line: line breaks become blanks, and other control characters
// (NUL, escape sequences from names a backup or server supplied) are shown as "?", so nothing
// cuts the line short or reaches the terminal as a command.
void printStderrLine(const QString& text);

// The platform the program was told to use: "-platform NAME" among the arguments (arguments[0]
// is the program), else QT_QPA_PLATFORM; empty when Qt is left to choose.
QString chosenPlatform(const QStringList& arguments);

// Whether this process has no display to show windows on: a platform without one ("offscreen",
// "minimal") was chosen, or none was chosen and neither an X display (DISPLAY) nor a Wayland
// display (WAYLAND_DISPLAY) accepts a connection. The display is asked, not only named: Qt ends
// the process when it cannot open the display it was given, and a stale DISPLAY after ssh ended
// still names one.
bool hasNoDisplay(const QStringList& arguments);

// The one line a window run without a display ends with (exit code 2).
QString noDisplayText();

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
