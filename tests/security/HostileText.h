#pragma once

// Hostile values and the text a statement must carry when one of them takes the place of an
// ordinary name: the same statement, the value escaped where it stands. Applied to everything the
// simulator logged for a run with ordinary names, it gives what a run with hostile names must log,
// byte for byte.
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace security {

using namespace Qt::StringLiterals;

// Each would end the statement it is pasted into and start another one that drops "victim".
inline const QString hostileDatabase = u"база'; DROP DATABASE victim --]"_s;
inline const QString hostileFile = u"файл'; DROP DATABASE victim --]"_s;
inline const QString hostileFolder = u"папка'; DROP DATABASE victim --]"_s;
inline const QString hostileTable = u"таблица'; DROP DATABASE victim --]"_s;
inline const QString hostileColumn = u"столбец'; DROP DATABASE victim --]"_s;
inline const QString hostileTag = u"метка'; DROP DATABASE victim --]"_s;

// An ordinary value and the hostile one that replaces it in the second run.
struct NamePair
{
    QString ordinary;
    QString hostile;
};
using NamePairs = QList<NamePair>;

inline QString replaced(QString text, const NamePairs& names)
{
    for (const NamePair& n : names)
        text.replace(n.ordinary, n.hostile);
    return text;
}

inline bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

// The T-SQL text with every ordinary name replaced by its hostile one, escaped for where it
// stands: doubled quotes inside a string literal, "]" doubled inside brackets, and a bare name
// bracketed. With firstLiteralIsSql, the first literal holds a statement of its own (the text of
// sp_executesql).
inline QString hostileSql(const QString& sql, const NamePairs& names,
                          bool firstLiteralIsSql = false)
{
    QString out;
    qsizetype i = 0;
    const qsizetype n = sql.size();
    bool firstLiteral = true;
    // The body of a quoted part whose closing character is doubled inside it.
    const auto body = [&](QChar close) {
        QString text;
        ++i;
        while (i < n) {
            if (sql.at(i) == close) {
                if (i + 1 < n && sql.at(i + 1) == close) {
                    text += close;
                    i += 2;
                    continue;
                }
                ++i;
                break;
            }
            text += sql.at(i++);
        }
        return text;
    };
    while (i < n) {
        const QChar c = sql.at(i);
        if (c == u'\'') {
            const QString text = body(u'\'');
            QString value =
                firstLiteralIsSql && firstLiteral ? hostileSql(text, names) : replaced(text, names);
            firstLiteral = false;
            out += u'\'' + value.replace(u"'"_s, u"''"_s) + u'\'';
        } else if (c == u'[') {
            out += u'[' + replaced(body(u']'), names).replace(u"]"_s, u"]]"_s) + u']';
        } else if (isWordChar(c)) {
            QString token;
            while (i < n && isWordChar(sql.at(i)))
                token += sql.at(i++);
            QString value = replaced(token, names);
            out += value == token ? token : u'[' + value.replace(u"]"_s, u"]]"_s) + u']';
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// The simulator's log entries ("batch: <sql>", "rpc: <procedure> <values as literals>",
// "login: <user> database=<name> encryption=<none, login or all>").
inline QStringList logEntries(const QString& log)
{
    static const QRegularExpression entryStart(u"\n(?=batch: |rpc: |login: )"_s);
    QString text = log;
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(entryStart);
}

// What the hostile run must log, from what the ordinary run logged.
inline QStringList hostileLog(const QStringList& entries, const NamePairs& names)
{
    static const QRegularExpression statementProcedure(
        u"^rpc: (sp_executesql|sp_prepexec|sp_prepare) "_s);
    QStringList out;
    for (const QString& entry : entries) {
        if (entry.startsWith(u"batch: "_s))
            out << u"batch: "_s + hostileSql(entry.mid(7), names);
        else if (entry.startsWith(u"login: "_s))
            out << replaced(entry, names); // the database name as the login packet carries it
        else
            out << hostileSql(entry, names, statementProcedure.match(entry).hasMatch());
    }
    return out;
}

// What differs between two runs: times written into statements (the backup set's name) and the
// name of the file that asks the server whether it shares this machine's disk.
inline QStringList withoutTimes(QStringList entries)
{
    static const QRegularExpression time(u"\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d"_s);
    static const QRegularExpression probe(u"dbsetup-probe-[^.']*\\.tmp"_s);
    for (QString& entry : entries) {
        entry.replace(time, u"<time>"_s);
        entry.replace(probe, u"<probe>"_s);
    }
    return entries;
}

} // namespace security
