#include "StderrOperatorUi.h"

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// One line each: the box's line breaks become blanks.
void printLine(const QString& text)
{
    QString line = text;
    line.replace(u"\r\n"_s, u" "_s).replace(u'\n', u' ').replace(u'\r', u' ');
    std::fprintf(stderr, "%s\n", line.trimmed().toUtf8().constData());
    std::fflush(stderr);
}

} // namespace

void StderrOperatorUi::showMessage(Icon, const QString& caption, const QString& text)
{
    printLine(caption + u": "_s + text);
}

bool StderrOperatorUi::askYesNo(Icon, const QString& caption, const QString& text)
{
    printLine(caption + u": "_s + text);
    printLine(u"Ответ без оператора: «Да»."_s);
    return true;
}

void StderrOperatorUi::note(const QString& text)
{
    printLine(text);
}

void StderrOperatorUi::startOperation(const QString& title)
{
    printLine(title);
}

bool hasNoDisplay()
{
    return (qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) ||
           qEnvironmentVariable("QT_QPA_PLATFORM") == u"offscreen"_s;
}
