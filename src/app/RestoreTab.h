#pragma once

#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class TRestoreTab;
}
class EventGuard;
class Session;

// The tab "Восстановить базу": the backup file, the name and the folder of a restore.
class TRestoreTab : public QWidget
{
    Q_OBJECT

public:
    explicit TRestoreTab(QWidget* parent = nullptr);
    ~TRestoreTab() override;
    // The session it shows and the guard that runs its handlers; nullptr for both unbinds it.
    void bind(Session* session, EventGuard* guard);
    // The restore's name as settings.ini gives it; the folder is the session's.
    void showSettings(const QString& restoreDBName);

    QString backupFileName() const;
    void setBackupFileName(const QString& file);
    // A backup file the program offers (the newest in the server's history, the backup just
    // made): it takes the field unless the operator has named a file there since the last offer.
    void offerBackupFile(const QString& file);

signals:
    // The browse dialog of the backup file was closed: a name in the field gets tidied.
    void backupFileChosen();

protected:
    void showEvent(QShowEvent* event) override;

    // "Восстановить базу из резервной копии".
    void BRestoreDBClick();

private:
    void fastenControls();
    // Runs a handler of this tab, its errors shown by the window's error report.
    void guarded(const std::function<void()>& handler);
    void TabRestoreDBShow();
    // The browse dialog of the backup file field; the timer tidies the name afterwards.
    void BackupFileNameAfterDialog();
    void browseRestoreFolder();
    // The folder of the primary data file of the database the restore would replace, as the
    // list has it; empty when no such database is listed.
    QString databaseFolder() const;
    // The line under the backup file field: which database the backup holds, when and on which
    // server it was made (RESTORE HEADERONLY), or why the server cannot read it.
    void showBackupInfo();

    const std::unique_ptr<Ui::TRestoreTab> ui;
    Session* m_session = nullptr;
    EventGuard* m_guard = nullptr;
    QString m_offered; // the backup file the program last put in the field
};
