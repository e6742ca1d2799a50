#include "SqlQueryTab.h"

#include "TextFieldKeys.h"
#include "ui_SqlQueryTab.h"

TSqlQueryTab::TSqlQueryTab(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TSqlQueryTab>())
{
    ui->setupUi(this);
    auto* keys = new DBNameKeyDown(this);
    keys->attachTo(ui->SQLText);
    keys->attachTo(ui->DBNameSQL);
}

TSqlQueryTab::~TSqlQueryTab() = default;

void TSqlQueryTab::setForm(TFormDB* form)
{
    m_form = form;
}
