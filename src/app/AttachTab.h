#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TAttachTab;
}
class TFormDB;
class QLineEdit;

// The tab "Подключить/отключить базу": the catalogue-driven attach fields and the list of the
// server's databases, whose selected row the detach, reconnect and backup act on.
class TAttachTab : public QWidget
{
    Q_OBJECT

public:
    explicit TAttachTab(QWidget* parent = nullptr);
    ~TAttachTab() override;
    void setForm(TFormDB* form);

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
    // The name as the row shows it (trimmed).
    QString rowName(int row) const;
    // The name of the row's database exactly as the server gave it: what operations act on.
    QString rowDatabase(int row) const;
    // The row of that exact name, or -1.
    int rowOf(const QString& database) const;
    QString rowFileName(int row) const;

    const std::unique_ptr<Ui::TAttachTab> ui;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
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

    TFormDB* m_form = nullptr;
};
