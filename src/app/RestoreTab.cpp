#include "RestoreTab.h"

#include "TextFieldKeys.h"
#include "ui_RestoreTab.h"

#include <QShowEvent>

TRestoreTab::TRestoreTab(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TRestoreTab>())
{
    ui->setupUi(this);
    auto* keys = new DBNameKeyDown(this);
    keys->attachTo(ui->BackupFileName);
    keys->attachTo(ui->RestoreToDirectory);
    keys->attachTo(ui->RestoreDBName);
}

TRestoreTab::~TRestoreTab() = default;

void TRestoreTab::setForm(TFormDB* form)
{
    m_form = form;
}

void TRestoreTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        TabRestoreDBShow();
}

void TRestoreTab::TabRestoreDBShow()
{
    ui->BackupFileName->setFocus();
}
