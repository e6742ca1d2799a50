#pragma once

#include "Lexer.h"
#include "SqlTypes.h"

#include <algorithm>

// Reads tokens one at a time, for the parser and for the statements that read their own text
// again. The last token is End, and reading stays there.
namespace sqlsim {

class TokenCursor
{
public:
    explicit TokenCursor(QList<Token> tokens) : m_tokens(std::move(tokens)) {}
    virtual ~TokenCursor() = default;
    TokenCursor(const TokenCursor&) = delete;
    TokenCursor& operator=(const TokenCursor&) = delete;

    const Token& peek(int k = 0) const
    {
        return m_tokens[std::min<qsizetype>(m_pos + k, m_tokens.size() - 1)];
    }
    const Token& next()
    {
        const Token& t = peek();
        if (m_pos < m_tokens.size() - 1)
            ++m_pos;
        return t;
    }
    bool acceptWord(QStringView w)
    {
        if (!peek().isWord(w))
            return false;
        next();
        return true;
    }
    bool acceptSymbol(QStringView s)
    {
        if (!peek().isSymbol(s))
            return false;
        next();
        return true;
    }
    void expectWord(QStringView w)
    {
        if (!acceptWord(w))
            syntaxError();
    }
    void expectSymbol(QStringView s)
    {
        if (!acceptSymbol(s))
            syntaxError();
    }
    [[noreturn]] void syntaxError() const { throw syntaxErrorFor(peek()); }

protected:
    // The syntax error at a token: the parser says more than a statement read again does.
    virtual SqlError syntaxErrorFor(const Token& t) const { return SqlError(syntaxMessage(t)); }
    // 156 near a reserved keyword, else 102 near the token as written.
    static Message syntaxMessage(const Token& t)
    {
        Message m;
        if (t.kind == Token::Word && isReservedWord(t.text)) {
            m.number = 156;
            m.text = QStringLiteral("Incorrect syntax near the keyword '%1'.").arg(t.text);
        } else {
            m.number = 102;
            m.text = QStringLiteral("Incorrect syntax near '%1'.")
                         .arg(t.kind == Token::End ? QString() : t.text);
        }
        return m;
    }
    qsizetype position() const { return m_pos; }
    const QList<Token>& tokens() const { return m_tokens; }

private:
    QList<Token> m_tokens;
    qsizetype m_pos = 0;
};

} // namespace sqlsim
