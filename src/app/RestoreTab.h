#pragma once

#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class TRestoreTab;
}
class TFormDB;

// The tab "Восстановить базу": the backup file, the name and the folder of a restore.
class TRestoreTab : public QWidget
{
    Q_OBJECT

public:
    explicit TRestoreTab(QWidget* parent = nullptr);
    ~TRestoreTab() override;
    void setForm(TFormDB* form);

    const std::unique_ptr<Ui::TRestoreTab> ui;

protected:
    void showEvent(QShowEvent* event) override;

    // "Восстановить базу из резервной копии".
    void BRestoreDBClick();

private:
    // Runs a handler of this tab, its errors shown by the window's error report.
    void guarded(const std::function<void()>& handler);
    void TabRestoreDBShow();
    // The browse dialog of the backup file field; the timer tidies the name afterwards.
    void BackupFileNameAfterDialog();
    void browseRestoreFolder();
    // The line under the backup file field: which database the backup holds, when and on which
    // server it was made (RESTORE HEADERONLY), or why the server cannot read it.
    void showBackupInfo();

    TFormDB* m_form = nullptr;
};
