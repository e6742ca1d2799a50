#pragma once

#include "OperatorUi.h"

class QLocale;
class QWidget;
class TFormStatus;

// The regional settings the file dialogs write dates and sizes in: the operator's, or Russian,
// like the program's texts, when the system has none (the C locale). The console keeps the
// system's own (a C locale shows the server's values as they come).
QLocale FileDialogLocale();

// The operator interface of the window: Qt's message boxes and dialogs.
class QtOperatorUi : public OperatorUi
{
public:
    void showMessage(Icon icon, const QString& caption, const QString& text) override;
    bool askYesNo(Icon icon, const QString& caption, const QString& text) override;
    int askChoice(Icon icon, const QString& caption, const QString& text,
                  const QStringList& buttons) override;
    void note(const QString&) override {}
    std::optional<QString> chooseSaveFile(const FileDialog& dialog) override;
    std::optional<QString> chooseOpenFile(const FileDialog& dialog) override;
    std::optional<QString> chooseFolder(const QString& title, const QString& folder) override;
    std::optional<QString> chooseOnServer(ServerChoice kind, const FileDialog& dialog,
                                          ServerFolders& server) override;
    void openFolder(const QString& path) override;
    void startOperation(const QString& title) override;
    void finishOperation() override;
    void operationProgress(int percent, const QString& step = {}) override;
    void operationNote(const QString& text) override;

    // The main window: parent of the boxes, disabled while an operation runs.
    void setParentWindow(QWidget* window) { m_parent = window; }
    void setProgressWindow(TFormStatus* window) { m_progress = window; }

private:
    QWidget* owner() const;

    QWidget* m_parent = nullptr;
    TFormStatus* m_progress = nullptr;
};
