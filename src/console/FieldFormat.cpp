#include "FieldFormat.h"

#include <QDate>
#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <charconv>

using namespace Qt::StringLiterals;

namespace console {

using db::ColumnKind;
using Token = FieldFormat::Token;
using Moment = FieldFormat::Moment;

namespace {

int digit(QChar c)
{
    return c.isDigit() ? c.digitValue() : -1;
}

bool invisible(QChar c)
{
    return c.category() == QChar::Other_Format; // the bidi marks of some locales' patterns
}

// Appends value in decimal, with leading zeros to width digits; no allocation.
void appendPadded(QString& out, int value, int width)
{
    std::array<char, 16> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    const auto length = static_cast<int>(written.ptr - digits.data());
    for (int i = length; i < width; ++i)
        out += u'0';
    out += QLatin1StringView(digits.data(), length);
}

QString padded(int value, int width)
{
    QString out;
    appendPadded(out, value, width);
    return out;
}

// Qt's date-format notation as tokens; nullopt for what is not written here (names of days and
// months, milliseconds). A two-digit year becomes four digits, as a century must not be lost.
// The time zone ("t") is dropped with the blanks and brackets around it: values carry none.
std::optional<QList<Token>> tokenize(const QString& pattern)
{
    QList<Token> tokens;
    bool afterZone = false;
    const auto literal = [&](QString text) {
        if (afterZone) {
            while (!text.isEmpty() && (text.front().isSpace() || text.front() == u')'))
                text.remove(0, 1);
        }
        afterZone = false;
        if (text.isEmpty())
            return;
        if (!tokens.isEmpty() && tokens.back().kind == Token::Literal)
            tokens.back().text += text;
        else
            tokens.append({Token::Literal, 1, text, true});
    };
    const auto field = [&](Token::Kind kind, int width, bool upper = true) {
        afterZone = false;
        tokens.append({kind, width, {}, upper});
    };
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = pattern[i];
        if (c == u'\'') {
            QString text;
            qsizetype j = i + 1;
            if (j < n && pattern[j] == u'\'') {
                literal(u"'"_s);
                i += 2;
                continue;
            }
            for (; j < n; ++j) {
                if (pattern[j] == u'\'') {
                    if (j + 1 < n && pattern[j + 1] == u'\'') {
                        text += u'\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                text += pattern[j];
            }
            literal(text);
            i = j + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < n && pattern[i + run] == c)
            ++run;
        const int width = static_cast<int>(run);
        switch (c.unicode()) {
        case u'd':
        case u'M':
        case u'H':
        case u'h':
        case u'm':
        case u's':
            if (run > 2)
                return std::nullopt;
            field(c == u'd'   ? Token::Day
                  : c == u'M' ? Token::Month
                  : c == u'H' ? Token::Hour24
                  : c == u'h' ? Token::Hour12
                  : c == u'm' ? Token::Minute
                              : Token::Second,
                  width);
            break;
        case u'y':
            if (run != 2 && run != 4)
                return std::nullopt;
            field(Token::Year, 4);
            break;
        case u'A':
        case u'a':
            field(Token::AmPm, 1, c == u'A');
            run = 1;
            if (i + 1 < n && (pattern[i + 1] == u'P' || pattern[i + 1] == u'p'))
                run = 2;
            break;
        case u't':
            if (!tokens.isEmpty() && tokens.back().kind == Token::Literal) {
                QString& text = tokens.back().text;
                while (!text.isEmpty() && (text.back().isSpace() || text.back() == u'('))
                    text.chop(1);
                if (text.isEmpty())
                    tokens.removeLast();
            }
            afterZone = true;
            break;
        case u'z':
            return std::nullopt;
        default:
            literal(QString(run, c));
        }
        i += run;
    }
    if (!tokens.isEmpty() && tokens.back().kind == Token::Literal) {
        QString& text = tokens.back().text;
        while (!text.isEmpty() && text.back().isSpace())
            text.chop(1);
        if (text.isEmpty())
            tokens.removeLast();
    }
    return tokens;
}

qsizetype countOf(const QList<Token>& tokens, Token::Kind kind)
{
    return std::count_if(tokens.begin(), tokens.end(),
                         [kind](const Token& t) { return t.kind == kind; });
}

QList<Token> datePattern(const QLocale& locale)
{
    const auto tokens = tokenize(locale.dateFormat(QLocale::ShortFormat));
    if (tokens && countOf(*tokens, Token::Day) == 1 && countOf(*tokens, Token::Month) == 1 &&
        countOf(*tokens, Token::Year) == 1)
        return *tokens;
    return *tokenize(u"yyyy-MM-dd"_s);
}

// The long time format, which has the seconds; the short one has none.
QList<Token> timePattern(const QLocale& locale)
{
    const auto tokens = tokenize(locale.timeFormat(QLocale::LongFormat));
    if (tokens && countOf(*tokens, Token::Hour24) + countOf(*tokens, Token::Hour12) == 1 &&
        countOf(*tokens, Token::Minute) == 1 && countOf(*tokens, Token::Second) == 1 &&
        countOf(*tokens, Token::AmPm) == countOf(*tokens, Token::Hour12))
        return *tokens;
    return *tokenize(u"HH:mm:ss"_s);
}

// The time as typed without seconds: the seconds and the separator before them left out.
QList<Token> withoutSeconds(QList<Token> tokens)
{
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != Token::Second)
            continue;
        tokens.removeAt(i);
        if (i > 0 && tokens[i - 1].kind == Token::Literal && i > 1 &&
            tokens[i - 2].kind == Token::Minute)
            tokens.removeAt(i - 1);
        break;
    }
    return tokens;
}

QString patternText(const QList<Token>& tokens)
{
    QString out;
    for (const Token& t : tokens) {
        switch (t.kind) {
        case Token::Literal: {
            out += u'\'' + QString(t.text).replace(u"'"_s, u"''"_s) + u'\'';
            break;
        }
        case Token::Day:
            out += QString(t.width, u'd');
            break;
        case Token::Month:
            out += QString(t.width, u'M');
            break;
        case Token::Year:
            out += u"yyyy"_s;
            break;
        case Token::Hour24:
            out += QString(t.width, u'H');
            break;
        case Token::Hour12:
            out += QString(t.width, u'h');
            break;
        case Token::Minute:
            out += QString(t.width, u'm');
            break;
        case Token::Second:
            out += QString(t.width, u's');
            break;
        case Token::AmPm:
            out += t.upper ? u"AP"_s : u"ap"_s;
            break;
        }
    }
    return out;
}

// Fixed-position readers of the server's forms.
int number(QStringView s, qsizetype at, qsizetype count)
{
    if (at + count > s.size())
        return -1;
    int value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        if (s[i] < u'0' || s[i] > u'9')
            return -1;
        value = value * 10 + (s[i].unicode() - u'0');
    }
    return value;
}

bool validTime(int hour, int minute, int second)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

// "HH:mm:ss[.fffffff]" from at up to end; false when it is not that.
bool readServerTime(QStringView s, qsizetype at, qsizetype end, Moment& m)
{
    if (end - at < 8 || s[at + 2] != u':' || s[at + 5] != u':')
        return false;
    m.hour = number(s, at, 2);
    m.minute = number(s, at + 3, 2);
    m.second = number(s, at + 6, 2);
    if (!validTime(m.hour, m.minute, m.second))
        return false;
    qsizetype i = at + 8;
    if (i == end)
        return true;
    if (s[i] != u'.' || end - i < 2 || end - i > 10)
        return false;
    for (qsizetype k = i + 1; k < end; ++k)
        if (s[k] < u'0' || s[k] > u'9')
            return false;
    QStringView fraction = s.mid(i + 1, end - i - 1);
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    m.fraction = fraction.toString(); // no allocation when the fraction is zero
    return true;
}

bool readServerDate(QStringView s, Moment& m)
{
    if (s.size() < 10 || s[4] != u'-' || s[7] != u'-')
        return false;
    m.year = number(s, 0, 4);
    m.month = number(s, 5, 2);
    m.day = number(s, 8, 2);
    return m.year > 0 && QDate(m.year, m.month, m.day).isValid();
}

bool isOffset(QStringView s)
{
    return s.size() == 6 && (s[0] == u'+' || s[0] == u'-') && number(s, 1, 2) >= 0 &&
           number(s, 1, 2) <= 14 && s[3] == u':' && number(s, 4, 2) >= 0 && number(s, 4, 2) < 60;
}

std::optional<Moment> parseServer(ColumnKind kind, QStringView s)
{
    Moment m;
    switch (kind) {
    case ColumnKind::Date:
        if (s.size() == 10 && readServerDate(s, m))
            return m;
        return std::nullopt;
    case ColumnKind::DateTime:
        // A date alone is midnight, as the server reads it.
        if (readServerDate(s, m) && (s.size() == 10 || ((s[10] == u' ' || s[10] == u'T') &&
                                                        readServerTime(s, 11, s.size(), m))))
            return m;
        return std::nullopt;
    case ColumnKind::Time:
        if (readServerTime(s, 0, s.size(), m))
            return m;
        return std::nullopt;
    case ColumnKind::DateTimeOffset: {
        const qsizetype blank = s.lastIndexOf(u' ');
        if (blank <= 10 || !isOffset(s.mid(blank + 1)) || !readServerDate(s, m) || s[10] != u' ' ||
            !readServerTime(s, 11, blank, m))
            return std::nullopt;
        m.offset = s.mid(blank + 1).toString();
        return m;
    }
    default:
        return std::nullopt;
    }
}

QString serverText(ColumnKind kind, const Moment& m)
{
    const QString date = padded(m.year, 4) + u'-' + padded(m.month, 2) + u'-' + padded(m.day, 2);
    QString time = padded(m.hour, 2) + u':' + padded(m.minute, 2) + u':' + padded(m.second, 2);
    if (kind == ColumnKind::DateTime)
        time += u'.' + m.fraction.leftJustified(3, u'0');
    else if (!m.fraction.isEmpty())
        time += u'.' + m.fraction;
    switch (kind) {
    case ColumnKind::Date:
        return date;
    case ColumnKind::Time:
        return time;
    case ColumnKind::DateTimeOffset:
        return date + u' ' + time + u' ' + m.offset;
    default:
        return date + u' ' + time;
    }
}

// A number in the server's form: optional "-", digits, optional "." and digits.
bool isServerDecimal(QStringView s)
{
    qsizetype i = s.startsWith(u'-') ? 1 : 0;
    const qsizetype digitsFrom = i;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9')
        ++i;
    if (i == digitsFrom)
        return false;
    if (i == s.size())
        return true;
    if (s[i] != u'.' || i + 1 == s.size())
        return false;
    for (++i; i < s.size(); ++i)
        if (s[i] < u'0' || s[i] > u'9')
            return false;
    return true;
}

// The shortest digits that read back as the same value, appended to out; false when the text is
// not a number.
template <typename Float> bool appendShortest(QStringView serverText, QString& out)
{
    std::array<char, 64> in{};
    if (serverText.size() >= static_cast<qsizetype>(in.size()))
        return false;
    for (qsizetype i = 0; i < serverText.size(); ++i) {
        if (serverText[i].unicode() > 0x7f)
            return false;
        in[static_cast<size_t>(i)] = static_cast<char>(serverText[i].unicode());
    }
    const char* end = in.data() + serverText.size();
    Float value{};
    const auto [read, error] = std::from_chars(in.data(), end, value, std::chars_format::general);
    if (error != std::errc() || read != end)
        return false;
    std::array<char, 64> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    if (written.ec != std::errc())
        return false;
    out += QLatin1StringView(digits.data(), written.ptr - digits.data());
    return true;
}

} // namespace

FieldFormat::FieldFormat(const QLocale& locale)
    : m_verbatim(locale.language() == QLocale::C), m_decimalPoint(locale.decimalPoint()),
      m_minus(locale.negativeSign()), m_am(locale.amText()), m_pm(locale.pmText()),
      m_amUpper(m_am.toUpper()), m_amLower(m_am.toLower()), m_pmUpper(m_pm.toUpper()),
      m_pmLower(m_pm.toLower()), m_date(console::datePattern(locale)),
      m_time(console::timePattern(locale)), m_timeNoSeconds(withoutSeconds(m_time))
{}

QString FieldFormat::datePattern() const
{
    return patternText(m_date);
}

QString FieldFormat::timePattern() const
{
    return patternText(m_time);
}

// The first "." in out from from on becomes the locale's decimal separator.
void FieldFormat::localiseDecimalPoint(QString& out, qsizetype from) const
{
    if (m_decimalPoint == u"."_s)
        return;
    const qsizetype point = out.indexOf(u'.', from);
    if (point >= 0)
        out.replace(point, 1, m_decimalPoint);
}

void FieldFormat::appendLocalText(ColumnKind kind, const Moment& m, QString& out) const
{
    const auto append = [&](const QList<Token>& tokens) {
        for (const Token& t : tokens) {
            switch (t.kind) {
            case Token::Literal:
                out += t.text;
                break;
            case Token::Day:
                appendPadded(out, m.day, t.width);
                break;
            case Token::Month:
                appendPadded(out, m.month, t.width);
                break;
            case Token::Year:
                appendPadded(out, m.year, 4);
                break;
            case Token::Hour24:
                appendPadded(out, m.hour, t.width);
                break;
            case Token::Hour12:
                appendPadded(out, m.hour % 12 == 0 ? 12 : m.hour % 12, t.width);
                break;
            case Token::Minute:
                appendPadded(out, m.minute, t.width);
                break;
            case Token::Second:
                appendPadded(out, m.second, t.width);
                if (!m.fraction.isEmpty()) {
                    out += m_decimalPoint;
                    out += m.fraction;
                }
                break;
            case Token::AmPm:
                out += t.upper ? (m.hour < 12 ? m_amUpper : m_pmUpper)
                               : (m.hour < 12 ? m_amLower : m_pmLower);
                break;
            }
        }
    };
    if (kind != ColumnKind::Time)
        append(m_date);
    if (kind == ColumnKind::Date)
        return;
    if (kind != ColumnKind::Time)
        out += u' ';
    append(m_time);
    if (kind == ColumnKind::DateTimeOffset) {
        out += u' ';
        out += m.offset;
    }
}

QString FieldFormat::display(ColumnKind kind, const QString& serverText) const
{
    if (m_verbatim || serverText.isEmpty())
        return serverText;
    QString out;
    appendDisplay(kind, serverText, out);
    return out;
}

void FieldFormat::appendDisplay(ColumnKind kind, QStringView serverText, QString& out) const
{
    const qsizetype start = out.size();
    if (m_verbatim || serverText.isEmpty()) {
        out += serverText;
        return;
    }
    switch (kind) {
    case ColumnKind::Decimal:
        out += serverText;
        if (isServerDecimal(serverText))
            localiseDecimalPoint(out, start);
        return;
    case ColumnKind::Float:
    case ColumnKind::Real:
        if (kind == ColumnKind::Float ? appendShortest<double>(serverText, out)
                                      : appendShortest<float>(serverText, out))
            localiseDecimalPoint(out, start);
        else
            out += serverText;
        return;
    case ColumnKind::Date:
    case ColumnKind::DateTime:
    case ColumnKind::Time:
    case ColumnKind::DateTimeOffset:
        if (const auto moment = parseServer(kind, serverText))
            appendLocalText(kind, *moment, out);
        else
            out += serverText;
        return;
    default:
        out += serverText;
        return;
    }
}

namespace {

// Reads text[pos...] by the tokens into m. Literal blanks match any run of blanks (none too);
// letters match without regard to case; invisible marks are passed over. Literals at the end
// may be left out ("2024. 02. 05" for "yyyy. MM. dd.").
bool readTokens(const QList<Token>& tokens, QStringView text, qsizetype& pos, Moment& m,
                const QString& decimalPoint, const QString& am, const QString& pm)
{
    const qsizetype n = text.size();
    const auto skipInvisible = [&] {
        while (pos < n && invisible(text[pos]))
            ++pos;
    };
    int hour12 = -1;
    int half = -1; // 0 am, 1 pm
    for (qsizetype k = 0; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        skipInvisible();
        if (t.kind == Token::Literal) {
            const bool restLiteral =
                std::all_of(tokens.begin() + k, tokens.end(),
                            [](const Token& r) { return r.kind == Token::Literal; });
            qsizetype p = pos;
            while (p < n && (text[p].isSpace() || invisible(text[p])))
                ++p;
            if (restLiteral && p == n)
                break;
            for (const QChar c : t.text) {
                if (invisible(c))
                    continue;
                skipInvisible();
                if (c.isSpace()) {
                    while (pos < n && (text[pos].isSpace() || invisible(text[pos])))
                        ++pos;
                    continue;
                }
                if (pos >= n || text[pos].toCaseFolded() != c.toCaseFolded())
                    return false;
                ++pos;
            }
            continue;
        }
        if (t.kind == Token::AmPm) {
            const QStringView rest = text.mid(pos);
            // The longer first, in case one begins with the other.
            const bool amFirst = am.size() >= pm.size();
            const QString& first = amFirst ? am : pm;
            const QString& second = amFirst ? pm : am;
            if (!first.isEmpty() && rest.startsWith(first, Qt::CaseInsensitive)) {
                half = amFirst ? 0 : 1;
                pos += first.size();
            } else if (!second.isEmpty() && rest.startsWith(second, Qt::CaseInsensitive)) {
                half = amFirst ? 1 : 0;
                pos += second.size();
            }
            // Left out: the hour is read on the 24-hour clock.
            continue;
        }
        const qsizetype most = t.kind == Token::Year ? 4 : 2;
        int value = 0;
        qsizetype count = 0;
        while (pos < n && count < most && digit(text[pos]) >= 0) {
            value = value * 10 + digit(text[pos]);
            ++pos;
            ++count;
        }
        if (count == 0)
            return false;
        switch (t.kind) {
        case Token::Day:
            m.day = value;
            break;
        case Token::Month:
            m.month = value;
            break;
        case Token::Year:
            // Two digits: 1930 to 2029, the window Windows applies by default.
            if (count == 2)
                value += value < 30 ? 2000 : 1900;
            else if (count != 4)
                return false;
            m.year = value;
            break;
        case Token::Hour24:
            m.hour = value;
            break;
        case Token::Hour12:
            hour12 = value;
            break;
        case Token::Minute:
            m.minute = value;
            break;
        case Token::Second: {
            m.second = value;
            // The fraction: the locale's separator, or ".", then up to seven digits.
            qsizetype p = pos;
            if (text.mid(p).startsWith(decimalPoint))
                p += decimalPoint.size();
            else if (p < n && text[p] == u'.')
                ++p;
            if (p == pos || p >= n || digit(text[p]) < 0)
                break;
            QString fraction;
            while (p < n && digit(text[p]) >= 0) {
                fraction += QChar(u'0' + digit(text[p]));
                ++p;
            }
            if (fraction.size() > 7)
                return false;
            while (fraction.endsWith(u'0'))
                fraction.chop(1);
            m.fraction = fraction;
            pos = p;
            break;
        }
        default:
            break;
        }
    }
    if (hour12 >= 0 && half < 0) {
        m.hour = hour12;
    } else if (hour12 >= 0) {
        if (hour12 < 1 || hour12 > 12)
            return false;
        m.hour = hour12 % 12 + (half == 1 ? 12 : 0);
    } else if (half == 1 && m.hour < 12) {
        m.hour += 12;
    }
    return true;
}

} // namespace

std::optional<Moment> FieldFormat::parseLocal(ColumnKind kind, const QString& typed) const
{
    const QString text = typed.trimmed();
    QStringView body = text;
    Moment m;
    if (kind == ColumnKind::DateTimeOffset) {
        // The offset as the server writes it ("+03:00"), after the date and time.
        const qsizetype blank = text.lastIndexOf(u' ');
        if (blank < 0 || !isOffset(QStringView(text).mid(blank + 1)))
            return std::nullopt;
        m.offset = text.mid(blank + 1);
        body = QStringView(text).left(blank).trimmed();
    }
    const auto attempt = [&](std::initializer_list<const QList<Token>*> parts) -> bool {
        Moment candidate = m;
        qsizetype pos = 0;
        bool first = true;
        for (const QList<Token>* part : parts) {
            if (!first) {
                // Date and time stand apart by blanks.
                const qsizetype before = pos;
                while (pos < body.size() && body[pos].isSpace())
                    ++pos;
                if (pos == before)
                    return false;
            }
            first = false;
            if (!readTokens(*part, body, pos, candidate, m_decimalPoint, m_am, m_pm))
                return false;
        }
        if (pos != body.size() || candidate.year < 1 ||
            !QDate(candidate.year, candidate.month, candidate.day).isValid() ||
            !validTime(candidate.hour, candidate.minute, candidate.second))
            return false;
        m = candidate;
        return true;
    };
    switch (kind) {
    case ColumnKind::Date:
        if (attempt({&m_date}))
            return m;
        break;
    case ColumnKind::Time:
        if (attempt({&m_time}) || attempt({&m_timeNoSeconds}))
            return m;
        break;
    case ColumnKind::DateTime:
        if (attempt({&m_date, &m_time}) || attempt({&m_date, &m_timeNoSeconds}) ||
            attempt({&m_date}))
            return m;
        break;
    case ColumnKind::DateTimeOffset:
        if (attempt({&m_date, &m_time}) || attempt({&m_date, &m_timeNoSeconds}))
            return m;
        break;
    default:
        break;
    }
    return std::nullopt;
}

QString FieldFormat::languageNeutral(const QString& serverText)
{
    static const QRegularExpression dateThenTime(u"^\\d{4}-\\d{2}-\\d{2} \\d{2}:"_s);
    if (!dateThenTime.match(serverText).hasMatch())
        return serverText;
    QString out = serverText;
    out[10] = u'T';
    return out;
}

QString FieldFormat::toServer(ColumnKind kind, const QString& typed) const
{
    if (m_verbatim)
        return typed;
    switch (kind) {
    case ColumnKind::Decimal:
    case ColumnKind::Float:
    case ColumnKind::Real: {
        // Sign, digits, the locale's separator and digits; an exponent for floating types.
        const QString text = typed.trimmed();
        QString out;
        qsizetype i = 0;
        if (text.startsWith(m_minus) && m_minus != u"-"_s) {
            out += u'-';
            i = m_minus.size();
        } else if (text.startsWith(u'-') || text.startsWith(u'+')) {
            if (text[0] == u'-')
                out += u'-';
            i = 1;
        }
        qsizetype digits = 0;
        const auto readDigits = [&] {
            while (i < text.size() && digit(text[i]) >= 0) {
                out += QChar(u'0' + digit(text[i]));
                ++i;
                ++digits;
            }
        };
        readDigits();
        if (QStringView(text).mid(i).startsWith(m_decimalPoint)) {
            out += u'.';
            i += m_decimalPoint.size();
            readDigits();
        }
        if (digits == 0)
            return typed;
        if (kind != ColumnKind::Decimal && i < text.size() &&
            (text[i] == u'e' || text[i] == u'E' || text[i] == u'\u0415' || text[i] == u'\u0435')) {
            out += u'E'; // also the Cyrillic letter some locales write
            ++i;
            if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
                out += text[i++];
            digits = 0;
            readDigits();
            if (digits == 0)
                return typed;
        }
        if (i != text.size())
            return typed;
        if (kind != ColumnKind::Decimal) {
            const QByteArray ascii = out.toLatin1();
            double value = 0;
            const auto [end, error] =
                std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), value);
            if (error != std::errc() || end != ascii.constData() + ascii.size())
                return typed;
        }
        return out;
    }
    case ColumnKind::Date:
    case ColumnKind::DateTime:
    case ColumnKind::Time:
    case ColumnKind::DateTimeOffset:
        if (const auto moment = parseLocal(kind, typed))
            return serverText(kind, *moment);
        return typed;
    default:
        return typed;
    }
}

} // namespace console
