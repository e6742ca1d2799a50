#include "StderrOperatorUi.h"

#include "MyException.h"
#include "StandardStreams.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace {

const QString connectionFailure = u"Не удалось подключиться к базе данных."_s;

} // namespace

QString stderrLineText(const QString& text)
{
    QString line = text;
    line.replace(u"\r\n"_s, u" "_s).replace(u'\n', u' ').replace(u'\r', u' ');
    line = line.trimmed();
    for (QChar& c : line)
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F)
            c = u'?';
    return line;
}

void printStderrLine(const QString& text)
{
    platform::writeStandardError(stderrLineText(text) + u'\n');
}

void StderrOperatorUi::showMessage(Icon, const QString& caption, const QString& text)
{
    m_print(caption + u": "_s + text);
}

bool StderrOperatorUi::askYesNo(Icon, const QString& caption, const QString& text)
{
    m_print(caption + u": "_s + text);
    m_print(u"Ответ без оператора: «Да»."_s);
    return true;
}

int StderrOperatorUi::askChoice(Icon, const QString& caption, const QString& text,
                                const QStringList& buttons)
{
    // Nobody can say which change to write or to drop: the answer that leaves everything as it is.
    m_print(caption + u": "_s + text);
    m_print(u"Ответ без оператора: «%1»."_s.arg(buttons.value(buttons.size() - 1)));
    return static_cast<int>(buttons.size()) - 1;
}

void StderrOperatorUi::note(const QString& text)
{
    m_print(text);
}

void StderrOperatorUi::startOperation(const QString& title)
{
    m_print(title);
}

QStringList unattendedErrorLines(const std::exception& error, const QString& module)
{
    if (const auto* advised = dynamic_cast<const AdvisedError*>(&error))
        return {applicationErrorText(MyException(advised->failure()), module), advised->advice()};
    const QString message = errorMessage(error);
    const QString separator = u"\r\n\r\n"_s;
    if (dynamic_cast<const MyException*>(&error) != nullptr &&
        message.startsWith(connectionFailure + separator)) {
        const QString reason = message.mid(connectionFailure.size() + separator.size());
        return {applicationErrorText(MyException(connectionFailure), module), reason};
    }
    return {applicationErrorText(error, module)};
}
