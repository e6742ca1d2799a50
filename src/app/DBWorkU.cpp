#include "DBWorkU.h"

#include "FormPlacement.h"
#include "ProgramVersion.h"
#include "ui_DBWorkU.h"

using namespace Qt::StringLiterals;

TFormDB::TFormDB(OperatorUi& operatorUi, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TFormDB>()), m_operator(operatorUi)
{
    ui->setupUi(this);
    setFixedSize(643, 508);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    try {
        FormCreate();
    } catch (const std::exception& error) {
        // The rest of start-up is skipped; the window still comes up.
        ShowErrorReport(m_operator, error);
    }
}

TFormDB::~TFormDB() = default;

QString TFormDB::captionPrefix()
{
    return u"Настройка базы данных. Версия: "_s;
}

void TFormDB::FormCreate()
{
    setWindowTitle(captionPrefix() + ProgramVersionText());
    _ListDBPath.clear();
    // Centred in the work area, then 70 pixels higher (not limited by the screen edge).
    PlaceForm(nullptr, this);
    move(x(), y() - 70);
}
