#include "FileMask.h"

#include "MyException.h"

#include <QList>

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void throwInvalid(const QString& mask, qsizetype position)
{
    // One pass: a "%1" or "%2" in the mask stays as the operator wrote it.
    throw Error(u"'%1' is an invalid mask at (%2)"_s.arg(mask, QString::number(position)));
}

// Whole characters rather than UTF-16 units, so "?" takes a surrogate pair as one character and
// fault positions count what the operator sees.
std::u32string lowerChars(const QString& text)
{
    const QList<uint> ucs4 = text.toLower().toUcs4();
    std::u32string result;
    result.reserve(static_cast<std::size_t>(ucs4.size()));
    for (const uint c : ucs4)
        result.push_back(static_cast<char32_t>(c));
    return result;
}

} // namespace

bool FileMask::Token::matchesChar(char32_t c) const
{
    switch (kind) {
    case Kind::Literal:
        return c == ch;
    case Kind::AnyChar:
        return true;
    case Kind::Set: {
        bool inSet = false;
        for (const Range& range : ranges) {
            if (c >= range.low && c <= range.high) {
                inSet = true;
                break;
            }
        }
        return inSet != negated;
    }
    case Kind::AnyRun:
        break;
    }
    return false;
}

FileMask::FileMask(const QString& mask)
{
    const std::u32string chars = lowerChars(mask);
    const std::size_t size = chars.size();
    // Positions reported to the operator count from 1.
    const auto position = [](std::size_t index) {
        return static_cast<qsizetype>(index) + 1;
    };

    for (std::size_t i = 0; i < size; ++i) {
        const char32_t c = chars[i];
        Token token;
        if (c == U'*') {
            // Adjacent stars mean the same as one; keeping one spares the matcher work.
            if (!m_tokens.empty() && m_tokens.back().kind == Token::Kind::AnyRun)
                continue;
            token.kind = Token::Kind::AnyRun;
        } else if (c == U'?') {
            token.kind = Token::Kind::AnyChar;
        } else if (c == U'[') {
            const std::size_t open = i;
            token.kind = Token::Kind::Set;
            std::size_t j = i + 1;
            if (j < size && chars[j] == U'!') {
                token.negated = true;
                ++j;
            }
            bool closed = false;
            while (j < size) {
                if (chars[j] == U']') {
                    closed = true;
                    break;
                }
                const char32_t low = chars[j];
                if (j + 2 < size && chars[j + 1] == U'-' && chars[j + 2] != U']') {
                    const char32_t high = chars[j + 2];
                    if (high < low)
                        throwInvalid(mask, position(j + 2));
                    token.ranges.push_back({low, high});
                    j += 3;
                } else {
                    token.ranges.push_back({low, low});
                    ++j;
                }
            }
            if (!closed)
                throwInvalid(mask, position(open));
            if (token.ranges.empty())
                throwInvalid(mask, position(j));
            i = j;
        } else {
            token.kind = Token::Kind::Literal;
            token.ch = c;
        }
        m_tokens.push_back(std::move(token));
    }
}

bool FileMask::matches(const QString& name) const
{
    const std::u32string chars = lowerChars(name);
    const std::size_t n = chars.size();
    const std::size_t m = m_tokens.size();
    constexpr std::size_t none = static_cast<std::size_t>(-1);

    // Every token but "*" takes exactly one character, so on a mismatch it is enough to let the
    // most recent "*" take one more character and retry from there: earlier stars never need to
    // change. At most n * m steps.
    std::size_t t = 0;
    std::size_t s = 0;
    std::size_t starToken = none;
    std::size_t starText = 0;
    while (s < n) {
        if (t < m && m_tokens[t].kind == Token::Kind::AnyRun) {
            starToken = t++;
            starText = s;
        } else if (t < m && m_tokens[t].matchesChar(chars[s])) {
            ++t;
            ++s;
        } else if (starToken != none) {
            t = starToken + 1;
            s = ++starText;
        } else {
            return false;
        }
    }
    while (t < m && m_tokens[t].kind == Token::Kind::AnyRun)
        ++t;
    return t == m;
}

bool MatchesMask(const QString& name, const QString& mask)
{
    return FileMask(mask).matches(name);
}
