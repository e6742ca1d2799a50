#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TAttachTab;
}
class QLabel;
class QLineEdit;
class EventGuard;
class Session;
struct Settings;

// The tab "Подключить/отключить базу": the catalogue-driven attach fields and the list of the
// server's databases, whose selected row the detach, reconnect and backup act on.
class TAttachTab : public QWidget
{
    Q_OBJECT

public:
    explicit TAttachTab(QWidget* parent = nullptr);
    ~TAttachTab() override;
    // The session it shows and the guard that runs its handlers; nullptr for both unbinds it.
    void bind(Session* session, EventGuard* guard);
    // settings.ini's values for its fields: the attach file and the backup ticks.
    void showSettings(const Settings& settings);
    // The name box's text.
    void setDatabaseName(const QString& name);

    // The drop-down items of the name box; its text stays as it is.
    void setCatalogueNames(const QStringList& names);

    // Reloads the list from the server (one empty row without a connection) and runs the
    // selection handler.
    void RefreshListDB();
    // The selection handler: with a file-store identity set, makes the selected database current
    // and probes it; the add-files box is available only when the probe finds the identity.
    void ListDBClick();

    int rowCount() const;
    int currentRow() const;
    QString rowName(int row) const;
    QString rowDatabase(int row) const;
    // The row of that exact name, or -1.
    int rowOf(const QString& database) const;
    QString rowFileName(int row) const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fastenControls();
    // Runs a handler of this tab, its errors shown by the window's error report.
    void guarded(const std::function<void()>& handler);
    void TabAttachDBShow();
    // "Создать резервную копию": the selected database into a file the operator names.
    void BBackupDBClick();
    // "Подключить базу": attaches from the file fields and appends the new row.
    void bAttachDBClick();
    // "Отключить базу": detaches the selected database after a question.
    void BDeleteDBClick();
    // "Переподключить базу": detaches and attaches again from the listed data file.
    void BReConnectDBClick();
    // Rebuilds the list; selects the row of select (none when it is not listed), or keeps the
    // current row index without it. Runs the selection handler.
    void reloadList(const std::optional<QString>& select);
    // Runs an action on a database, then rebuilds the list with that database selected, also
    // when the action fails.
    void actAndSelect(const QString& database, const std::function<void()>& action);
    // "База подключена", with what the attach could not do after it.
    void showAttached(const QString& done, const QString& warning);
    void browse(QLineEdit* field, const QString& filter);
    void ListDBDblClick();
    void copyCurrentRow();
    void DBNameChange(const QString& text);
    void disableFileInDB();
    void setRowCount(int rows);

    // The server's progress of a backup or restore ("Выполнено 40%"); < 0 clears it.
    void showServerPercent(int percent, const QString& step);

    const std::unique_ptr<Ui::TAttachTab> ui;
    Session* m_session = nullptr;
    EventGuard* m_guard = nullptr;
};
