#pragma once

#include <QString>
#include <exception>

// Everything the flows show to or ask of the operator. The window implements it with dialogs,
// tests with scripted answers, and a batch run without a display on stderr. Flows never open a
// dialog themselves.
class OperatorUi
{
public:
    enum class Icon
    {
        Information,
        Warning,
        Error,
        Question
    };

    OperatorUi() = default;
    OperatorUi(const OperatorUi&) = delete;
    OperatorUi& operator=(const OperatorUi&) = delete;
    virtual ~OperatorUi() = default;

    // A message box with one OK button; returns when the operator has closed it.
    virtual void showMessage(Icon icon, const QString& caption, const QString& text) = 0;
    // The folder in the system's file browser.
    virtual void openFolder(const QString& path) = 0;

    // The progress window of a long operation, over the main window, which takes no input
    // until finishOperation. Every start is followed by a finish on every path.
    virtual void startOperation(const QString& title) = 0;
    virtual void finishOperation() = 0;
};

// The application's title: the caption of error reports and the task bar entry.
QString applicationTitle();

// The text the default error report shows: a "." is added when the message's last character
// comes after "." in the character table (a letter, a digit, ":" or "?").
QString errorReportText(const QString& message);

// The default report of an error that no handler took: a stop icon and one OK button.
void ShowErrorReport(OperatorUi& ui, const std::exception& error);
