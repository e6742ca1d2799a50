#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <exception>
#include <optional>

// Everything the flows show to or ask of the operator. The window implements it with dialogs,
// tests with scripted answers, and a batch run without a display on stderr. Flows never open a
// dialog themselves.
class OperatorUi
{
public:
    enum class Icon
    {
        Plain, // no icon
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
    // A Yes/No box; true for Yes.
    virtual bool askYesNo(Icon icon, const QString& caption, const QString& text) = 0;
    // A box with the given buttons, in order; gives the index of the one pressed. The first is
    // the default; the last is the answer that changes nothing, given by Esc or by closing the box.
    virtual int askChoice(Icon icon, const QString& caption, const QString& text,
                          const QStringList& buttons) = 0;
    // A remark only a run without an operator prints (where no window shows what happens).
    virtual void note(const QString& text) = 0;

    // File dialogs. The filter is pairs of description and patterns, all joined by "|"
    // ("Файл резервной копии|*.bak|Все файлы|*.*"); nothing when the operator cancels.
    struct FileDialog
    {
        QString title;
        QString filter;
        QString defaultExtension; // without the dot; added to a typed name that has none
        QString folder;           // where the dialog starts
        QString fileName;         // the name it offers
    };
    virtual std::optional<QString> chooseSaveFile(const FileDialog& dialog) = 0;
    virtual std::optional<QString> chooseOpenFile(const FileDialog& dialog) = 0;
    virtual std::optional<QString> chooseFolder(const QString& title, const QString& folder) = 0;

    // The disks of a server on another machine, as a dialog over them lists them. Paths are the
    // server's own ("C:\Backup\"); a listing the server refuses throws with the server's error.
    class ServerFolders
    {
    public:
        struct Entry
        {
            QString name;
            bool isFile = false;
        };
        virtual ~ServerFolders() = default;
        // The roots of the server's drives ("C:\", "D:\").
        virtual QStringList drives() = 0;
        // The folders and files directly in a folder: folders first, each group in name order.
        virtual QList<Entry> entries(const QString& folder) = 0;
    };
    enum class ServerChoice
    {
        OpenFile,
        SaveFile,
        Folder
    };
    // The same dialogs over the server's disks: the title, filter and default extension as above,
    // the starting folder and the answer the server's paths (fileName unused for a folder). A
    // typed path is taken as the server will read it.
    virtual std::optional<QString> chooseOnServer(ServerChoice kind, const FileDialog& dialog,
                                                  ServerFolders& server) = 0;

    // The folder in the system's file browser.
    virtual void openFolder(const QString& path) = 0;

    // The progress window of a long operation, over the main window, which takes no input
    // until finishOperation. Every start is followed by a finish on every path.
    virtual void startOperation(const QString& title) = 0;
    virtual void finishOperation() = 0;
    // The server's progress of the running operation, shown in its progress window; a negative
    // percentage clears it. step names what it measures (empty: the operation itself).
    virtual void operationProgress(int /*percent*/, const QString& /*step*/ = {}) {}
    // A line under the running operation's title ("the program closes when it ends").
    virtual void operationNote(const QString& /*text*/) {}
};

// "Выполнено 40%", or what else the percentage measures: "Проверка: выполнено 40%".
QString ProgressText(int percent, const QString& step);

// The application's title: the caption of error reports and the task bar entry.
QString applicationTitle();

// The text the default error report shows: a "." is added when the message's last character
// comes after "." in the character table (a letter, a digit, ":" or "?").
QString errorReportText(const QString& message);

// The default report of an error that no handler took: a stop icon and one OK button. An error
// already shown (ShownError) is not shown again.
void ShowErrorReport(OperatorUi& ui, const std::exception& error);

// The report of an error that ended a batch run: "Exception <type> in module <module> at
// 00000000.", a line break, the message with a full stop unless it ends in one.
QString applicationErrorText(const std::exception& error, const QString& module);
