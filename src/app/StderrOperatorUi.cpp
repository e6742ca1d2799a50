#include "StderrOperatorUi.h"

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

void printLine(const QString& text)
{
    printStderrLine(text);
}

} // namespace

void printStderrLine(const QString& text)
{
    QString line = text;
    line.replace(u"\r\n"_s, u" "_s).replace(u'\n', u' ').replace(u'\r', u' ');
    line = line.trimmed();
    for (QChar& c : line)
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F)
            c = u'?';
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

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
