#include "OperatorUi.h"

#include "MyException.h"

using namespace Qt::StringLiterals;

QString applicationTitle()
{
    return u"Настройка базы данных"_s;
}

QString errorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void ShowErrorReport(OperatorUi& ui, const std::exception& error)
{
    ui.showMessage(OperatorUi::Icon::Error, applicationTitle(),
                   errorReportText(errorMessage(error)));
}
