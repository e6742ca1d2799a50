#include "StoredPath.h"

#include "PathText.h"

using namespace Qt::StringLiterals;

namespace filestore {

namespace {

bool isDriveComponent(const QString& component)
{
    return component.size() >= 2 && component.at(1) == u':' && component.at(0).isLetter();
}

} // namespace

QString localPath(const QString& path)
{
#ifdef Q_OS_WIN
    return path;
#else
    QString result = path;
    result.replace(u'\\', u'/');
    return result;
#endif
}

QString trimControls(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

QString storedPathText(const QString& relativePath)
{
    QString result;
    result.reserve(relativePath.size());
    for (const QChar c : relativePath) {
        if (c == u'\\' || c == u'"')
            result.append(c);
        result.append(c);
    }
    return result;
}

LocalTarget resolveStoredPath(const QString& storedPath)
{
    LocalTarget result;
    const QString outside = u"путь ведёт за пределы папки программы"_s;
    if (storedPath.isEmpty() || pathtext::isSeparator(storedPath.back())) {
        result.refusal = u"путь не называет файл"_s;
        return result;
    }
    if (pathtext::isSeparator(storedPath.front())) {
        result.refusal = outside;
        return result;
    }
    QString component;
    const auto take = [&] {
        if (!component.isEmpty())
            result.components.append(component);
        component.clear();
    };
    for (const QChar c : storedPath) {
        if (pathtext::isSeparator(c))
            take();
        else
            component.append(c);
    }
    take();
    for (qsizetype i = 0; i < result.components.size(); ++i) {
        QString& part = result.components[i];
        // Quotes were doubled on the way in, as the backslashes were.
        part.replace(u"\"\""_s, u"\""_s);
#ifdef Q_OS_WIN
        const bool foreign = part.contains(u':'); // a drive or an alternate data stream
#else
        const bool foreign = false;
#endif
        if (part == u"."_s || part == u".."_s || foreign || (i == 0 && isDriveComponent(part))) {
            result.refusal = outside;
            return result;
        }
        // No file system holds NUL in a name: such a row is skipped like any other that cannot
        // be written, instead of failing as a folder that cannot be made and stopping the rest.
        if (part.contains(QChar(0))) {
            result.refusal = u"путь содержит недопустимый символ"_s;
            return result;
        }
    }
    return result;
}

} // namespace filestore
