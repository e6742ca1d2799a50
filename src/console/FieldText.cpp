#include "FieldText.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>
#include <array>
#include <charconv>

using namespace Qt::StringLiterals;

namespace {

QString doubleText(double value)
{
    // QString::number ignores the regional settings: always ".", never a group separator.
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// A float widened to double would show its binary tail (0.1f as 0.10000000149011612): take the
// shortest decimal that reads back as the float, then print that decimal as a double.
QString floatText(float value)
{
    std::array<char, 64> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value,
                                       std::chars_format::scientific);
    double widened = static_cast<double>(value);
    if (written.ec == std::errc())
        std::from_chars(digits.data(), written.ptr, widened);
    return doubleText(widened);
}

} // namespace

QString FieldText(const QVariant& value)
{
    if (value.isNull())
        return {};
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QByteArray:
        return u"0x"_s + QString::fromLatin1(value.toByteArray().toHex().toUpper());
    case QMetaType::Bool:
        return value.toBool() ? u"1"_s : u"0"_s;
    case QMetaType::Double:
        return doubleText(value.toDouble());
    case QMetaType::Float:
        return floatText(value.toFloat());
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return QString::number(value.toLongLong());
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return QString::number(value.toULongLong());
    case QMetaType::QDate:
        return value.toDate().toString(u"yyyy-MM-dd");
    case QMetaType::QDateTime:
        return value.toDateTime().toString(u"yyyy-MM-dd HH:mm:ss.zzz");
    case QMetaType::QTime:
        return value.toTime().toString(u"HH:mm:ss.zzz");
    default:
        return value.toString();
    }
}
