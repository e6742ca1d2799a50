#include "PathText.h"

namespace pathtext {

QChar nativeSeparator()
{
#ifdef Q_OS_WIN
    return u'\\';
#else
    return u'/';
#endif
}

QString withTrailingSeparator(const QString& folder)
{
    if (!folder.isEmpty() && isSeparator(folder.back()))
        return folder;
    return folder + nativeSeparator();
}

qsizetype lastSeparator(const QString& text)
{
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (isSeparator(text[i]))
            return i;
    }
    return -1;
}

} // namespace pathtext
