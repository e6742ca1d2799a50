// The session's SQLite connection: statements prepared, bound and run, and SQLite's errors
// told as SQL Server's.
#include "SessionImpl.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace sqlsim {

SqlError SessionImpl::sqliteError(int rc, const Translation* t, const QString& context) const
{
    const QString text = QString::fromUtf8(sqlite3_errmsg(m_db));
    if (const auto m = decodeError(sqlite3_errmsg(m_db)))
        return SqlError(*m);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED || text.contains(u"database is locked"_s))
        return SqlError(1222, u"Lock request time out period exceeded."_s);
    if (rc == SQLITE_INTERRUPT) {
        if (m_reply && m_reply->cancelled())
            throw Cancelled();
        return SqlError(3980, u"The request failed to run because the batch is aborted."_s);
    }
    static const QRegularExpression noTable(u"^no such table: (?:([^.]+)\\.)?(.+)$"_s);
    static const QRegularExpression noColumn(u"^no such column: (.+)$"_s);
    static const QRegularExpression exists(
        u"^(?:table|index|view) \"?([^\"]+)\"? already exists"_s);
    static const QRegularExpression notNull(u"^NOT NULL constraint failed: ([^.]+)\\.(.+)$"_s);
    static const QRegularExpression unique(u"^UNIQUE constraint failed: ([^.]+)\\."_s);
    static const QRegularExpression check(u"^CHECK constraint failed: (.+)$"_s);
    static const QRegularExpression ambiguous(u"^ambiguous column name: (.+)$"_s);
    static const QRegularExpression noFunction(u"^no such function: (.+)$"_s);
    if (const auto m = noTable.match(text); m.hasMatch()) {
        QString name = m.captured(2);
        if (t) {
            const QString key = (m.captured(1) + u'.' + name).toLower();
            name = t->tableNames.value(key, t->tableNames.value(u"."_s + name.toLower(), name));
            for (auto it = t->tableNames.begin(); it != t->tableNames.end(); ++it)
                if (it.key().endsWith(u'.' + m.captured(2).toLower()))
                    name = it.value();
        }
        return SqlError(208, u"Invalid object name '%1'."_s.arg(name));
    }
    if (const auto m = noColumn.match(text); m.hasMatch()) {
        QString col = m.captured(1);
        if (col.contains(u'.'))
            return SqlError(4104,
                            u"The multi-part identifier \"%1\" could not be bound."_s.arg(col));
        return SqlError(207, u"Invalid column name '%1'."_s.arg(col));
    }
    if (const auto m = exists.match(text); m.hasMatch())
        return SqlError(2714, u"There is already an object named '%1' in the database."_s.arg(
                                  m.captured(1).section(u'.', -1)));
    if (const auto m = notNull.match(text); m.hasMatch()) {
        const QString table = t && !t->target.isEmpty() ? t->target : m.captured(1);
        return SqlError(515, u"Cannot insert the value NULL into column '%1', table '%2'; column "
                             "does not allow nulls. %3 fails."_s.arg(
                                 m.captured(2), table, context.isEmpty() ? u"INSERT"_s : context));
    }
    if (const auto m = unique.match(text); m.hasMatch()) {
        const QString table = m.captured(1);
        return SqlError(2627, u"Violation of PRIMARY KEY constraint 'PK_%1'. Cannot insert "
                              "duplicate key in object 'dbo.%1'."_s.arg(table));
    }
    if (text.startsWith(u"FOREIGN KEY constraint failed"_s))
        return SqlError(547, u"The %1 statement conflicted with the FOREIGN KEY constraint. The "
                             "conflict occurred in database '%2'."_s.arg(
                                 context.isEmpty() ? u"INSERT"_s : context, m_currentDb));
    if (const auto m = check.match(text); m.hasMatch())
        return SqlError(547,
                        u"The %1 statement conflicted with the CHECK constraint \"%2\". The "
                        "conflict occurred in database '%3'."_s.arg(
                            context.isEmpty() ? u"INSERT"_s : context, m.captured(1), m_currentDb));
    if (const auto m = ambiguous.match(text); m.hasMatch())
        return SqlError(209, u"Ambiguous column name '%1'."_s.arg(m.captured(1).section(u'.', -1)));
    if (const auto m = noFunction.match(text); m.hasMatch())
        return SqlError(195,
                        u"'%1' is not a recognized built-in function name."_s.arg(m.captured(1)));
    if (text.contains(u"do not have the same number of result columns"_s))
        return SqlError(205, u"All queries combined using a UNION, INTERSECT or EXCEPT operator "
                             "must have an equal number of expressions in their target lists."_s);
    if (text.contains(u"sub-select returns"_s) || text.contains(u"row value misused"_s))
        return SqlError(116, u"Only one expression can be specified in the select list when the "
                             "subquery is not introduced with EXISTS."_s);
    if (text.contains(u"term out of range"_s))
        return SqlError(108, u"The ORDER BY position number is out of range of the number of "
                             "items in the select list."_s);
    if (text.contains(u"misuse of aggregate"_s) ||
        text.contains(u"aggregate functions are not allowed"_s))
        return SqlError(147, u"An aggregate may not appear in the WHERE clause unless it is in a "
                             "subquery contained in a HAVING clause or a select list, and the "
                             "column being aggregated is an outer reference."_s);
    if (text.contains(u"string or blob too big"_s))
        return SqlError(8152, u"String or binary data would be truncated."_s);
    if (text.contains(u"too many attached"_s))
        return SqlError(40002, u"sqlsim cannot open more than 10 databases in one session at "
                               "once."_s);
    return SqlError(40001, u"sqlsim could not run the statement: %1"_s.arg(text));
}

sqlite3_stmt* SessionImpl::prepare(const QString& sql, const Translation* t)
{
    sqlite3_stmt* st = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &st, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(st);
        throw sqliteError(rc, t);
    }
    return st;
}

void SessionImpl::bindAll(sqlite3_stmt* st, const QList<Value>& binds)
{
    for (qsizetype i = 0; i < binds.size(); ++i)
        bindValue(st, int(i + 1), binds[i]);
}

qint64 SessionImpl::execute(const Translation& t, const QString& context)
{
    StatementGuard g;
    g.st = prepare(t.sql, &t);
    bindAll(g.st, t.binds);
    int rc;
    while ((rc = sqlite3_step(g.st)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        throw sqliteError(rc, &t, context);
    return sqlite3_changes64(m_db);
}

void SessionImpl::execSql(const QString& sql, const QList<Value>& binds)
{
    Translation t;
    t.sql = sql;
    t.binds = binds;
    execute(t);
}

std::optional<Value> SessionImpl::scalarQuery(const QString& sql, const QList<Value>& binds)
{
    Translation t;
    t.sql = sql;
    t.binds = binds;
    StatementGuard g;
    g.st = prepare(sql, &t);
    bindAll(g.st, binds);
    const int rc = sqlite3_step(g.st);
    if (rc == SQLITE_ROW)
        return columnValue(g.st, 0);
    if (rc != SQLITE_DONE)
        throw sqliteError(rc, &t);
    return std::nullopt;
}

} // namespace sqlsim
