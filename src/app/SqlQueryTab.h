#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TSqlQueryTab;
}
class TFormDB;

// The tab "SQL запрос": a statement batch against a chosen database, its result in a grid.
class TSqlQueryTab : public QWidget
{
    Q_OBJECT

public:
    explicit TSqlQueryTab(QWidget* parent = nullptr);
    ~TSqlQueryTab() override;
    void setForm(TFormDB* form);

    const std::unique_ptr<Ui::TSqlQueryTab> ui;

private:
    TFormDB* m_form = nullptr;
};
