#pragma once

#include <QList>
#include <QString>

// T-SQL tokens: [bracketed] and "quoted" names, 'strings' and N'strings' with doubled quotes,
// -- and nested /* */ comments, @variables, @@functions, numbers and 0x binary literals.
namespace sqlsim {

struct Token
{
    enum Kind
    {
        Word,       // a bare identifier or keyword
        QuotedName, // [x] or "x"
        String,     // 'x'
        NString,    // N'x'
        Integer,
        Decimal,     // 1.5
        Float,       // 1e5
        Binary,      // 0x0A
        Variable,    // @x
        SysVariable, // @@x
        Symbol,      // ( ) , . ; = < > <= >= <> != !< !> + - * / % & | ^ ~ ::
        End,
    };
    Kind kind = End;
    QString text;  // as written
    QString value; // identifier without brackets, string without quotes, lower-cased symbol
    int pos = 0;   // offset in the batch
    int line = 1;

    bool isWord(QStringView w) const
    {
        return kind == Word && text.compare(w, Qt::CaseInsensitive) == 0;
    }
    bool isSymbol(QStringView s) const { return kind == Symbol && text == s; }
    bool isName() const { return kind == Word || kind == QuotedName; }
};

// Splits a batch into tokens. Throws SqlError (105 unclosed quote, 113 unclosed comment).
QList<Token> tokenize(const QString& sql);

bool isReservedWord(const QString& word);

} // namespace sqlsim
