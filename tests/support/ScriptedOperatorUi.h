#pragma once

#include "OperatorUi.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

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
    bool askYesNo(Icon icon, const QString& caption, const QString& text) override
    {
        shown.append({icon, caption, text});
        if (answers.isEmpty()) {
            ++unexpectedQuestions;
            return false;
        }
        return answers.takeFirst();
    }
    // Records the buttons too; without a scripted answer, the last (the one that changes nothing).
    int askChoice(Icon icon, const QString& caption, const QString& text,
                  const QStringList& buttons) override
    {
        shown.append({icon, caption, text});
        choiceButtons.append(buttons);
        if (choices.isEmpty()) {
            ++unexpectedQuestions;
            return static_cast<int>(buttons.size()) - 1;
        }
        return choices.takeFirst();
    }
    void note(const QString& text) override { notes.append(text); }
    std::optional<QString> chooseSaveFile(const FileDialog& dialog) override
    {
        dialogs.append(dialog);
        return fileAnswers.isEmpty() ? std::nullopt : fileAnswers.takeFirst();
    }
    std::optional<QString> chooseOpenFile(const FileDialog& dialog) override
    {
        dialogs.append(dialog);
        return fileAnswers.isEmpty() ? std::nullopt : fileAnswers.takeFirst();
    }
    std::optional<QString> chooseFolder(const QString& title, const QString& folder) override
    {
        dialogs.append({title, {}, {}, folder, {}});
        return fileAnswers.isEmpty() ? std::nullopt : fileAnswers.takeFirst();
    }
    // Lists what the dialog would show when it opens: the drives, then the starting folder.
    std::optional<QString> chooseOnServer(ServerChoice kind, const FileDialog& dialog,
                                          ServerFolders& server) override
    {
        serverDialogs.append({kind, dialog});
        serverDrives = server.drives();
        serverListing.clear();
        for (const ServerFolders::Entry& entry : server.entries(dialog.folder))
            serverListing << (entry.isFile ? entry.name : entry.name + QLatin1Char('\\'));
        return fileAnswers.isEmpty() ? std::nullopt : fileAnswers.takeFirst();
    }
    void openFolder(const QString& path) override { openedFolders.append(path); }
    void startOperation(const QString& title) override
    {
        operations.append(QStringLiteral("start: ") + title);
        ++runningOperations;
    }
    void operationProgress(int percent, const QString& = {}) override
    {
        percents.append(percent);
        if (onProgress)
            onProgress(percent);
    }
    void operationNote(const QString& text) override
    {
        operations.append(QStringLiteral("note: ") + text);
    }
    void finishOperation() override
    {
        operations.append(QStringLiteral("finish"));
        runningOperations = 0;
    }

    QList<Shown> shown;               // messages and questions, in order
    QList<bool> answers;              // the operator's answers to the questions, in order
    QList<int> choices;               // the answers to askChoice, as button indexes, in order
    QList<QStringList> choiceButtons; // the buttons each askChoice offered
    int unexpectedQuestions = 0;      // questions asked after the answers ran out (answered No, or
                                      // the last button)
    QStringList notes;
    QList<FileDialog> dialogs;
    QList<std::optional<QString>> fileAnswers; // chosen paths in order; nullopt: cancelled
    struct ServerDialog
    {
        ServerChoice kind;
        FileDialog dialog;
    };
    QList<ServerDialog> serverDialogs; // dialogs over the server's disks, answered from fileAnswers
    QStringList serverDrives;          // what the last of them listed: the drives,
    QStringList serverListing;         // and its starting folder ("name\" for a folder)
    QStringList openedFolders;
    QStringList operations;    // "start: <title>", "note: <text>" and "finish", in order
    int runningOperations = 0; // started and not finished
    QList<int> percents;       // the server's progress as the progress window got it
    // What the operator does while an operation runs, told its progress (closes the window, say).
    std::function<void(int percent)> onProgress;
};
