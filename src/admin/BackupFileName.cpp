#include "BackupFileName.h"

QString RemoveDoubleBackslashes(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i)
        if (i == 0 || text[i] != u'\\' || text[i - 1] != u'\\')
            out += text[i];
    return out;
}
