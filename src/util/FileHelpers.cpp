#include "FileHelpers.h"

#include "DiskSpace.h"
#include "FileMask.h"
#include "MyException.h"
#include "PathMacros.h"
#include "PeVersion.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Paths come from Windows users and files; Linux only knows "/".
QString localPath(const QString& path)
{
#ifdef Q_OS_WIN
    return path;
#else
    QString result = path;
    result.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return result;
#endif
}

bool isSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

QLatin1Char nativeSeparator()
{
#ifdef Q_OS_WIN
    return QLatin1Char('\\');
#else
    return QLatin1Char('/');
#endif
}

// Reads the locale's number syntax into the plain form std::from_chars takes.
class NumberReader
{
public:
    NumberReader(const QString& text, const QLocale& locale) : m_text(text), m_locale(locale) {}

    std::optional<std::string> toPlain()
    {
        std::string out;
        takeSign(out);
        const bool wholeDigits = takeDigits(out);
        const bool fractionDigits = takeDecimalAndDigits(out);
        if (!wholeDigits && !fractionDigits)
            return std::nullopt;
        if (takeExponentMark()) {
            out.push_back('e');
            takeSign(out);
            if (!takeDigits(out))
                return std::nullopt;
        }
        if (m_pos != m_text.size())
            return std::nullopt;
        return out;
    }

private:
    bool takeText(const QString& symbol)
    {
        if (symbol.isEmpty() || !QStringView(m_text).mid(m_pos).startsWith(symbol))
            return false;
        m_pos += symbol.size();
        return true;
    }

    // from_chars takes "-" only: a plus sign is dropped.
    void takeSign(std::string& out)
    {
        if (takeText(m_locale.negativeSign()) || takeText(u"-"_s))
            out.push_back('-');
        else if (!takeText(m_locale.positiveSign()))
            takeText(u"+"_s);
    }

    int digitAt(qsizetype pos) const
    {
        if (pos >= m_text.size())
            return -1;
        const char16_t c = m_text.at(pos).unicode();
        if (c >= u'0' && c <= u'9')
            return c - u'0';
        const QString zero = m_locale.zeroDigit();
        if (zero.size() == 1 && c >= zero.at(0).unicode() && c < zero.at(0).unicode() + 10)
            return c - zero.at(0).unicode();
        return -1;
    }

    bool takeDigits(std::string& out)
    {
        const qsizetype start = m_pos;
        for (int d = digitAt(m_pos); d >= 0; d = digitAt(++m_pos))
            out.push_back(static_cast<char>('0' + d));
        return m_pos > start;
    }

    bool takeDecimalAndDigits(std::string& out)
    {
        if (!takeText(m_locale.decimalPoint()))
            return false;
        out.push_back('.');
        return takeDigits(out);
    }

    bool takeExponentMark()
    {
        if (m_pos >= m_text.size())
            return false;
        const QString exponential = m_locale.exponential();
        const QChar c = m_text.at(m_pos);
        if (c == QLatin1Char('e') || c == QLatin1Char('E') ||
            (exponential.size() == 1 && c.toLower() == exponential.at(0).toLower())) {
            ++m_pos;
            return true;
        }
        return takeText(exponential);
    }

    const QString& m_text;
    const QLocale& m_locale;
    qsizetype m_pos = 0;
};

int saturate(qint64 value)
{
    return static_cast<int>(std::clamp<qint64>(value, std::numeric_limits<int>::min(),
                                               std::numeric_limits<int>::max()));
}

QStringList sortedEntryNames(const QString& folder)
{
    QStringList names =
        QDir(localPath(folder))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDir::NoSort);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int byCase = a.compare(b, Qt::CaseInsensitive);
        return byCase != 0 ? byCase < 0 : a < b;
    });
    return names;
}

} // namespace

QString GetFileApprVersion(const QString& path)
{
    try {
        const QString local = localPath(path);
        if (!QFileInfo(local).isFile())
            return QString();
        return platform::peFileVersion(local);
    } catch (const std::exception& error) {
        throw Error(u"GetFileApprVersion : "_s + u'"' + path + u'"' + u' ' + errorMessage(error));
    }
}

quint64 GetDiskFreeSize(const QString& path)
{
    return platform::freeBytes(path).value_or(0);
}

qint64 GetFileSizeByName(const QString& path)
{
    const QFileInfo info(localPath(path));
    if (!info.exists())
        throw MyException(QString(), u"Не найден файл по пути \""_s + path + u"\"."_s);
    if (info.isDir())
        return -1;
    const qint64 size = info.size();
    return size < 0 ? -1 : size;
}

long double StrToFloatAny(const QString& text, const QString& separator, long double def)
{
    const QLocale locale;
    // An empty separator would insert a decimal point in front of the number.
    const QString local =
        separator.isEmpty() ? text : ReplaceText(locale.decimalPoint(), separator, text);
    const QString trimmed = local.trimmed();
    const std::optional<std::string> plain = NumberReader(trimmed, locale).toPlain();
    if (!plain)
        return def;
    long double value = 0;
    const char* const end = plain->data() + plain->size();
    const auto [ptr, ec] = std::from_chars(plain->data(), end, value);
    if (ec != std::errc() || ptr != end)
        return def;
    return value;
}

QString FloatToStrDot(QChar separator, long double value)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    const QString text = locale.toString(static_cast<double>(value), 'g', 15);
    return ReplaceText(QString(separator), locale.decimalPoint(), text);
}

QString PluralForm(const QString& many, const QString& one, const QString& few, double number,
                   bool addNumber, QChar separator)
{
    const QString prefix = addNumber ? FloatToStrDot(separator, number) + u' ' : QString();
    if (!std::isfinite(number))
        return prefix + many;
    const double whole = std::trunc(number);
    // Measured both ways so that -1.5 counts as fractional as 1.5 does.
    if (std::fabs(number - whole) > 1e-10)
        return few;
    const double magnitude = std::fabs(whole);
    const int lastTwo = static_cast<int>(std::fmod(magnitude, 100.0));
    if (lastTwo >= 11 && lastTwo <= 14)
        return prefix + many;
    const int last = lastTwo % 10;
    if (last == 1)
        return prefix + one;
    if (last >= 2 && last <= 4)
        return prefix + few;
    return prefix + many;
}

QPoint PlaceFormPosition(const std::optional<QRect>& reference, QSize size, QSize screen,
                         QSize workArea)
{
    const qint64 width = size.width();
    const qint64 height = size.height();
    if (!reference) {
        // Division of signed integers truncates toward zero.
        return QPoint(saturate((qint64{workArea.width()} - width) / 2),
                      saturate((qint64{workArea.height()} - height) / 2));
    }
    qint64 left = reference->left() + (qint64{reference->width()} - width) / 2;
    qint64 top = reference->top() + (qint64{reference->height()} - height) / 2;
    left = std::max<qint64>(left, 0);
    top = std::max<qint64>(top, 0);
    if (top + height > screen.height())
        top = screen.height() - height;
    if (left + width > screen.width())
        left = screen.width() - width;
    return QPoint(saturate(left), saturate(top));
}

void FindFilesRecursive(const QString& folder, const QString& mask, QStringList& list,
                        bool recursive, bool addFolders, int attrFilter, int maxCount)
{
    const FileMask matcher(mask.isEmpty() ? u"*.*"_s : mask);
    // No folder at all must not turn into the root of the disk.
    if (folder.isEmpty())
        return;

    struct Level
    {
        QString folder; // ends with a separator
        QStringList names;
        qsizetype next = 0;
    };
    const auto withSeparator = [](const QString& path) {
        return isSeparator(path.back()) ? path : path + nativeSeparator();
    };
    const int excluded = ~attrFilter & (FileAttr::Hidden | FileAttr::SysFile | FileAttr::Directory);

    // An explicit stack instead of recursion: deep trees cannot exhaust the call stack.
    std::vector<Level> levels;
    const QString top = withSeparator(folder);
    levels.push_back({top, sortedEntryNames(top), 0});
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next >= level.names.size()) {
            levels.pop_back();
            continue;
        }
        if (maxCount > 0 && list.size() >= maxCount)
            return;
        const QString name = level.names.at(level.next++);
        const QString path = level.folder + name;
        const QFileInfo info(localPath(path));
        const bool isDir = info.isDir();
        int attributes = 0;
        if (info.isHidden())
            attributes |= FileAttr::Hidden;
        if (isDir)
            attributes |= FileAttr::Directory;
        if ((attributes & excluded) != 0)
            continue;
        if (isDir) {
            if (addFolders)
                list.append(path);
            // Links to folders are not entered: they can lead back up the tree.
            if (recursive && !info.isSymLink() && !info.isJunction()) {
                const QString sub = withSeparator(path);
                levels.push_back({sub, sortedEntryNames(sub), 0}); // invalidates `level`
            }
        } else if (matcher.matches(name)) {
            list.append(path);
        }
    }
}

bool ForceDirs(const QString& path)
{
    if (path.isEmpty())
        return false;
    QString folderPart = path;
    qsizetype last = path.size() - 1;
    while (last >= 0 && !isSeparator(path.at(last)) && path.at(last) != QLatin1Char(':'))
        --last;
    const QString lastComponent = path.mid(last + 1);
    if (lastComponent.contains(QLatin1Char('.'))) {
        if (last < 0)
            return false;
        folderPart = path.left(last);
        // A root keeps its separator ("C:\db.bak" -> "C:\", "/db.bak" -> "/"), a drive its colon.
        if (folderPart.isEmpty() || folderPart.endsWith(QLatin1Char(':')) ||
            path.at(last) == QLatin1Char(':'))
            folderPart = path.left(last + 1);
    }
    const QString local = localPath(folderPart);
    const QFileInfo info(local);
    if (info.isDir())
        return true;
    if (info.exists())
        return false;
    return QDir().mkpath(local);
}
