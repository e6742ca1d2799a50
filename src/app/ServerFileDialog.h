#pragma once

#include "OperatorUi.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

// Paths on a server that may run on another machine: its own paths, never this machine's. A path
// starting with "/" belongs to a server on Linux and uses "/"; every other one is a Windows path
// ("C:\Backup", "\\host\share\Backup") that uses "\" but may have been typed with "/".
namespace serverpath {

// "/" for a path starting with "/", "\" for all others.
QChar separatorOf(const QString& path);
// "X:\...", "X:/...", "\\host\share\..." and "/...": a path the server reads as it stands.
bool isAbsolute(const QString& path);
// The root a path lies on ("C:\", "\\host\share\", "/"); empty for a relative path.
QString rootOf(const QString& path);
// One kind of separator for a Windows path, no separator at the end but for a root ("C:" is
// read as "C:\"); the empty text stays empty.
QString normalFolder(const QString& folder);
// The folder one level up; empty above a root, where the dialog lists the drives.
QString parentFolder(const QString& folder);
// A name in a folder. An absolute name stands as typed; a Windows name starting with one "\" lies
// on the folder's root; a name with no folder to join stays as it is.
QString join(const QString& folder, const QString& name);
// The folder as the server lists it: the normal form with a separator at its end.
QString listingPath(const QString& folder);
// The name with ".extension" when its last part has no extension (no dot); the name as it is
// when extension is empty or the name ends with a separator.
QString withDefaultExtension(const QString& name, const QString& extension);

// One file type of a dialog's filter ("Файл резервной копии|*.bak" in the filter text).
struct FileType
{
    QString description;
    QStringList patterns; // "*.bak"; several were written "*.mdf;*.ndf"

    bool operator==(const FileType&) const = default;
};
// The filter "description|patterns|description|patterns..." as file types; a description
// without patterns at the end is dropped.
QList<FileType> parseFilter(const QString& filter);
// The file type as the dialog lists it: "Файл резервной копии (*.bak)", or the description
// alone when it already shows its patterns ("All files (*.*)").
QString fileTypeLabel(const FileType& type);
// Windows wildcards without regard to case: "*" any run of characters, "?" one; "*" and "*.*"
// match every name, also one without a dot.
bool matchesWildcard(const QString& name, const QString& pattern);
// True when any pattern matches; no patterns at all match every name.
bool matchesAny(const QString& name, const QStringList& patterns);

} // namespace serverpath

// A file or folder dialog over the disks of a server: it lists them through ServerFolders and
// answers with the server's own path. A listing the server refuses shows the drives and the
// server's message in the dialog; nothing thrown by the server leaves the dialog.
class ServerFileDialog : public QDialog
{
    Q_OBJECT

public:
    ServerFileDialog(OperatorUi::ServerChoice kind, const OperatorUi::FileDialog& request,
                     OperatorUi::ServerFolders& server, QWidget* parent = nullptr);

    // Runs the dialog modally; nothing when the operator cancels.
    static std::optional<QString> choose(OperatorUi::ServerChoice kind,
                                         const OperatorUi::FileDialog& request,
                                         OperatorUi::ServerFolders& server, QWidget* parent);

    // The folder listed; empty while the list shows the drives.
    QString currentFolder() const { return m_folder; }
    // The server path the operator chose; empty until the dialog is accepted.
    QString chosenPath() const { return m_chosen; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout(const QString& acceptText);
    void showFolder(const QString& folder);
    void showDrives(const QString& error);
    void showError(const QString& error);
    void fillDriveCombo();
    void listEntries(const QList<OperatorUi::ServerFolders::Entry>& entries);
    void activateItem(QListWidgetItem* item);
    void selectItem(QListWidgetItem* item);
    void acceptTyped();
    void finish(const QString& path);
    QStringList currentPatterns() const;
    bool isFolderChoice() const { return m_kind == OperatorUi::ServerChoice::Folder; }

    OperatorUi::ServerChoice m_kind;
    OperatorUi::ServerFolders& m_server;
    QString m_defaultExtension;
    QList<serverpath::FileType> m_types;
    QStringList m_drives;
    QList<OperatorUi::ServerFolders::Entry> m_entries; // of the folder listed
    QString m_folder;
    QString m_chosen;

    QLineEdit* m_folderEdit = nullptr;
    QPushButton* m_upButton = nullptr;
    QComboBox* m_driveCombo = nullptr;
    QListWidget* m_list = nullptr;
    QLabel* m_errorLabel = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QComboBox* m_typeCombo = nullptr;
    QPushButton* m_acceptButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
