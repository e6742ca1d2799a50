#pragma once

// Long values that do not repeat, so that a value cut short, shifted or pieced together from
// the wrong parts never equals the original by chance.
#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <algorithm>

inline QByteArray nonRepeatingBytes(qsizetype size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; i += 4) {
        quint32 word = generator.generate();
        for (qsizetype k = i; k < std::min(size, i + 4); ++k, word >>= 8)
            data[k] = static_cast<char>(word & 0xFF);
    }
    return data;
}

// Russian and Latin letters, digits and blanks: every character is one byte in Windows-1251,
// two in UTF-16 and two (Cyrillic) or one in UTF-8.
inline QString nonRepeatingText(qsizetype length, quint32 seed)
{
    static const QString alphabet =
        QStringLiteral("абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"
                       "abcdefghijklmnopqrstuvwxyz0123456789 ");
    QString text(length, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < length; ++i)
        text[i] = alphabet.at(generator.bounded(int(alphabet.size())));
    return text;
}
