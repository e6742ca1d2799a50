#include "Lexer.h"

#include "Collation.h"
#include "SqlTypes.h"

#include <QSet>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

bool isIdentStart(QChar c)
{
    return c.isLetter() || c == u'_' || c == u'#';
}

bool isIdentPart(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'#' || c == u'@' || c == u'$';
}

[[noreturn]] void unclosedQuote(const QString& rest)
{
    Message m;
    m.number = 105;
    m.text = u"Unclosed quotation mark after the character string '%1'."_s.arg(rest);
    throw SqlError(m, true);
}

} // namespace

bool isReservedWord(const QString& word)
{
    static const QSet<QString> words = [] {
        const char* const list[] = {"add",
                                    "all",
                                    "alter",
                                    "and",
                                    "any",
                                    "as",
                                    "asc",
                                    "authorization",
                                    "backup",
                                    "begin",
                                    "between",
                                    "break",
                                    "browse",
                                    "bulk",
                                    "by",
                                    "cascade",
                                    "case",
                                    "check",
                                    "checkpoint",
                                    "close",
                                    "clustered",
                                    "coalesce",
                                    "collate",
                                    "column",
                                    "commit",
                                    "compute",
                                    "constraint",
                                    "contains",
                                    "containstable",
                                    "continue",
                                    "convert",
                                    "create",
                                    "cross",
                                    "current",
                                    "current_date",
                                    "current_time",
                                    "current_timestamp",
                                    "current_user",
                                    "cursor",
                                    "database",
                                    "dbcc",
                                    "deallocate",
                                    "declare",
                                    "default",
                                    "delete",
                                    "deny",
                                    "desc",
                                    "disk",
                                    "distinct",
                                    "distributed",
                                    "double",
                                    "drop",
                                    "dump",
                                    "else",
                                    "end",
                                    "errlvl",
                                    "escape",
                                    "except",
                                    "exec",
                                    "execute",
                                    "exists",
                                    "exit",
                                    "external",
                                    "fetch",
                                    "file",
                                    "fillfactor",
                                    "for",
                                    "foreign",
                                    "freetext",
                                    "freetexttable",
                                    "from",
                                    "full",
                                    "function",
                                    "goto",
                                    "grant",
                                    "group",
                                    "having",
                                    "holdlock",
                                    "identity",
                                    "identity_insert",
                                    "identitycol",
                                    "if",
                                    "in",
                                    "index",
                                    "inner",
                                    "insert",
                                    "intersect",
                                    "into",
                                    "is",
                                    "join",
                                    "key",
                                    "kill",
                                    "left",
                                    "like",
                                    "lineno",
                                    "load",
                                    "merge",
                                    "national",
                                    "nocheck",
                                    "nonclustered",
                                    "not",
                                    "null",
                                    "nullif",
                                    "of",
                                    "off",
                                    "offsets",
                                    "on",
                                    "open",
                                    "opendatasource",
                                    "openquery",
                                    "openrowset",
                                    "openxml",
                                    "option",
                                    "or",
                                    "order",
                                    "outer",
                                    "over",
                                    "percent",
                                    "pivot",
                                    "plan",
                                    "precision",
                                    "primary",
                                    "print",
                                    "proc",
                                    "procedure",
                                    "public",
                                    "raiserror",
                                    "read",
                                    "readtext",
                                    "reconfigure",
                                    "references",
                                    "replication",
                                    "restore",
                                    "restrict",
                                    "return",
                                    "revert",
                                    "revoke",
                                    "right",
                                    "rollback",
                                    "rowcount",
                                    "rowguidcol",
                                    "rule",
                                    "save",
                                    "schema",
                                    "securityaudit",
                                    "select",
                                    "semantickeyphrasetable",
                                    "semanticsimilaritydetailstable",
                                    "semanticsimilaritytable",
                                    "session_user",
                                    "set",
                                    "setuser",
                                    "shutdown",
                                    "some",
                                    "statistics",
                                    "system_user",
                                    "table",
                                    "tablesample",
                                    "textsize",
                                    "then",
                                    "to",
                                    "top",
                                    "tran",
                                    "transaction",
                                    "trigger",
                                    "truncate",
                                    "try_convert",
                                    "tsequal",
                                    "union",
                                    "unique",
                                    "unpivot",
                                    "update",
                                    "updatetext",
                                    "use",
                                    "user",
                                    "values",
                                    "varying",
                                    "view",
                                    "waitfor",
                                    "when",
                                    "where",
                                    "while",
                                    "with",
                                    "writetext"};
        QSet<QString> set;
        for (const char* w : list)
            set.insert(QString::fromLatin1(w));
        return set;
    }();
    return words.contains(word.toLower());
}

QList<Token> tokenize(const QString& sql)
{
    QList<Token> tokens;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    int line = 1;
    auto push = [&](Token::Kind kind, qsizetype start, qsizetype end, QString value) {
        Token t;
        t.kind = kind;
        t.text = sql.mid(start, end - start);
        t.value = std::move(value);
        t.pos = int(start);
        t.line = line;
        tokens.append(std::move(t));
    };
    auto countLines = [&](qsizetype from, qsizetype to) {
        for (qsizetype k = from; k < to; ++k)
            if (sql[k] == u'\n')
                ++line;
    };
    // A quoted run closed by `close`, with the close character doubled inside.
    auto quoted = [&](qsizetype start, QChar close, QString& out) -> qsizetype {
        qsizetype k = start;
        out = u""_s; // '' is an empty string, never a null one
        while (k < n) {
            if (sql[k] == close) {
                if (k + 1 < n && sql[k + 1] == close) {
                    out += close;
                    k += 2;
                    continue;
                }
                return k + 1;
            }
            out += sql[k];
            ++k;
        }
        unclosedQuote(out);
    };

    while (i < n) {
        const QChar c = sql[i];
        if (c == u'\n') {
            ++line;
            ++i;
            continue;
        }
        if (c.isSpace() || c == QChar(0)) {
            ++i;
            continue;
        }
        // Comments.
        if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
            while (i < n && sql[i] != u'\n')
                ++i;
            continue;
        }
        if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
            int depth = 1;
            qsizetype k = i + 2;
            while (k < n && depth > 0) {
                if (sql[k] == u'/' && k + 1 < n && sql[k + 1] == u'*') {
                    ++depth;
                    k += 2;
                } else if (sql[k] == u'*' && k + 1 < n && sql[k + 1] == u'/') {
                    --depth;
                    k += 2;
                } else {
                    ++k;
                }
            }
            if (depth > 0) {
                Message m;
                m.number = 113;
                m.text = u"Missing end comment mark '*/'."_s;
                throw SqlError(m, true);
            }
            countLines(i, k);
            i = k;
            continue;
        }
        const qsizetype start = i;
        // Strings.
        if ((c == u'N' || c == u'n') && i + 1 < n && sql[i + 1] == u'\'') {
            QString value;
            const qsizetype end = quoted(i + 2, u'\'', value);
            push(Token::NString, start, end, value);
            countLines(start, end);
            i = end;
            continue;
        }
        if (c == u'\'') {
            QString value;
            const qsizetype end = quoted(i + 1, u'\'', value);
            // A literal without N is varchar in the database's code page: what it cannot
            // hold is '?' before the statement sees it ("Collation and Unicode support").
            push(Token::String, start, end, throughServerCodePage(value));
            countLines(start, end);
            i = end;
            continue;
        }
        if (c == u'[') {
            QString value;
            const qsizetype end = quoted(i + 1, u']', value);
            push(Token::QuotedName, start, end, value);
            i = end;
            continue;
        }
        if (c == u'"') {
            QString value;
            const qsizetype end = quoted(i + 1, u'"', value);
            push(Token::QuotedName, start, end, value);
            i = end;
            continue;
        }
        // Binary literal.
        if (c == u'0' && i + 1 < n && (sql[i + 1] == u'x' || sql[i + 1] == u'X')) {
            qsizetype k = i + 2;
            while (k < n &&
                   (sql[k].isDigit() || (sql[k].toLower() >= u'a' && sql[k].toLower() <= u'f')))
                ++k;
            push(Token::Binary, start, k, sql.mid(i + 2, k - i - 2));
            i = k;
            continue;
        }
        // Numbers.
        if (c.isDigit() || (c == u'.' && i + 1 < n && sql[i + 1].isDigit())) {
            qsizetype k = i;
            Token::Kind kind = Token::Integer;
            while (k < n && sql[k].isDigit())
                ++k;
            if (k < n && sql[k] == u'.') {
                kind = Token::Decimal;
                ++k;
                while (k < n && sql[k].isDigit())
                    ++k;
            }
            if (k < n && (sql[k] == u'e' || sql[k] == u'E')) {
                qsizetype e = k + 1;
                if (e < n && (sql[e] == u'+' || sql[e] == u'-'))
                    ++e;
                if (e < n && sql[e].isDigit()) {
                    kind = Token::Float;
                    k = e;
                    while (k < n && sql[k].isDigit())
                        ++k;
                }
            }
            push(kind, start, k, sql.mid(start, k - start));
            i = k;
            continue;
        }
        // Variables.
        if (c == u'@') {
            qsizetype k = i + 1;
            Token::Kind kind = Token::Variable;
            if (k < n && sql[k] == u'@') {
                kind = Token::SysVariable;
                ++k;
            }
            while (k < n && isIdentPart(sql[k]))
                ++k;
            push(kind, start, k, sql.mid(start, k - start).toLower());
            i = k;
            continue;
        }
        if (isIdentStart(c)) {
            qsizetype k = i + 1;
            while (k < n && isIdentPart(sql[k]))
                ++k;
            push(Token::Word, start, k, sql.mid(start, k - start));
            i = k;
            continue;
        }
        // Symbols, the two-character ones first.
        static const QStringList twoChar = {u"<="_s, u">="_s, u"<>"_s, u"!="_s, u"!<"_s, u"!>"_s,
                                            u"+="_s, u"-="_s, u"*="_s, u"/="_s, u"::"_s};
        const QString two = sql.mid(i, 2);
        if (twoChar.contains(two)) {
            push(Token::Symbol, start, i + 2, two);
            i += 2;
            continue;
        }
        push(Token::Symbol, start, i + 1, QString(c));
        ++i;
    }
    Token end;
    end.kind = Token::End;
    end.pos = int(n);
    end.line = line;
    tokens.append(end);
    return tokens;
}

} // namespace sqlsim
