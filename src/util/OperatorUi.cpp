#include "OperatorUi.h"

#include "MyException.h"

using namespace Qt::StringLiterals;

QString applicationTitle()
{
    return u"Настройка базы данных"_s;
}

QString ProgressText(int percent, const QString& step)
{
    const QString done =
        u"%1 %2%"_s.arg(step.isEmpty() ? u"Выполнено"_s : u"выполнено"_s).arg(percent);
    return step.isEmpty() ? done : step + u": "_s + done;
}

QString errorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void ShowErrorReport(OperatorUi& ui, const std::exception& error)
{
    if (dynamic_cast<const ShownError*>(&error) != nullptr)
        return;
    if (const auto* stopped = dynamic_cast<const StoppedByOperator*>(&error)) {
        ui.showMessage(OperatorUi::Icon::Information, applicationTitle(),
                       errorReportText(stopped->message()));
        return;
    }
    ui.showMessage(OperatorUi::Icon::Error, applicationTitle(),
                   errorReportText(errorMessage(error)));
}

QString applicationErrorText(const std::exception& error, const QString& module)
{
    const QString type = dynamic_cast<const MyException*>(&error) != nullptr ? u"MyException"_s
                         : dynamic_cast<const Error*>(&error) != nullptr     ? u"Error"_s
                                                                             : u"Exception"_s;
    const QString message = errorMessage(error);
    return u"Exception %1 in module %2 at 00000000.\r\n%3%4\r\n"_s.arg(
        type, module, message, message.endsWith(u'.') ? QString() : u"."_s);
}
