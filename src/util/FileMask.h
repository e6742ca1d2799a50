#pragma once

#include <QString>
#include <string>
#include <vector>

// File name masks as the operator writes them: "*" any run of characters (also none), "?" exactly
// one character, "[...]" one character from a set of characters and ranges ("[a-z0-9_]"), negated
// by a leading "!" ("[!0-9]"); any other character stands for itself. Matching ignores case and
// covers the whole name, so "*.*" matches only names with a dot.
//
// A set that is never closed ("[abc"), holds nothing ("[]", "[!]") or has a reversed range
// ("[z-a]") makes the mask invalid: Error("'<mask>' is an invalid mask at (<position>)"), the
// position counted in characters from 1 (the "[" of an unclosed set, the "]" of an empty one, the
// upper bound of a reversed range).
class FileMask
{
public:
    // Throws Error when the mask is invalid.
    explicit FileMask(const QString& mask);

    // Time grows with name length times mask length at worst, never exponentially.
    bool matches(const QString& name) const;

private:
    struct Range
    {
        char32_t low;
        char32_t high;
    };
    struct Token
    {
        enum class Kind
        {
            Literal,
            AnyChar,
            AnyRun,
            Set
        };
        Kind kind = Kind::Literal;
        char32_t ch = 0;
        bool negated = false;
        std::vector<Range> ranges;

        bool matchesChar(char32_t c) const;
    };

    std::vector<Token> m_tokens;
};

// FileMask(mask).matches(name); throws Error for an invalid mask.
bool MatchesMask(const QString& name, const QString& mask);
