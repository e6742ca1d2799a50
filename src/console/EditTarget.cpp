#include "EditTarget.h"

#include "Connection.h"
#include "StatementText.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

// Comments out, blanks at the ends and one trailing ";" off. "--" and "/*" inside a quoted
// string or a bracketed name ("[a --b]") belong to it and start no comment. With masked, the
// inside of every quoted string and bracketed name becomes "_", so that words and ";" in names
// are not taken for the statement's own.
QString plainStatement(const QString& sql, bool masked = false)
{
    QString text;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql.at(i);
        if (c == u'\'' || c == u'[' || c == u'"') {
            const QChar close = c == u'[' ? u']' : c;
            text += c;
            ++i;
            while (i < n) {
                const QChar inner = sql.at(i++);
                if (inner == close && i < n && sql.at(i) == close) { // doubled: part of the text
                    text += masked ? u"__"_s : QString(2, close);
                    ++i;
                } else if (inner == close) {
                    text += close;
                    break;
                } else {
                    text += masked ? u'_' : inner;
                }
            }
        } else if (sql.mid(i, 2) == u"--"_s) {
            while (i < n && sql.at(i) != u'\n')
                ++i;
            text += u' ';
        } else if (sql.mid(i, 2) == u"/*"_s) {
            const qsizetype end = sql.indexOf(u"*/"_s, i + 2);
            i = end < 0 ? n : end + 2;
            text += u' ';
        } else {
            text += c;
            ++i;
        }
    }
    text = text.trimmed();
    if (text.endsWith(u';'))
        text.chop(1);
    return text.trimmed();
}

// The parts of a list split at commas outside brackets and quotes.
QStringList splitList(const QString& list)
{
    QStringList parts;
    QString current;
    int depth = 0;
    bool bracket = false;
    bool quote = false;
    for (const QChar c : list) {
        if (quote) {
            quote = c != u'\'';
        } else if (bracket) {
            bracket = c != u']';
        } else if (c == u'\'') {
            quote = true;
        } else if (c == u'[') {
            bracket = true;
        } else if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            --depth;
        } else if (c == u',' && depth == 0) {
            parts << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    parts << current.trimmed();
    return parts;
}

QString unbracketed(const QString& name)
{
    if (name.startsWith(u'[') && name.endsWith(u']'))
        return name.mid(1, name.size() - 2).replace(u"]]"_s, u"]"_s);
    return name;
}

const QString identifierPattern = u"(?:\\[(?:[^\\]]|\\]\\])+\\]|[\\w#@$]+)"_s;

EditTarget readOnly(const QString& reason)
{
    EditTarget t;
    t.readOnlyReason = reason;
    return t;
}

QString whereClause(const EditTarget& target, const QList<QVariant>& original,
                    QList<QVariant>& values)
{
    QStringList conditions;
    QList<int> columns = target.keyColumns;
    if (columns.isEmpty())
        for (int i = 0; i < target.columns.size(); ++i)
            if (!target.incomparableColumns.contains(i))
                columns << i;
    for (int i : columns) {
        const QVariant& value = original.value(i);
        if (value.isNull()) {
            conditions << sqltext::identifier(target.columns[i]) + u" IS NULL"_s;
        } else {
            conditions << sqltext::identifier(target.columns[i]) + u" = ?"_s;
            values << value;
        }
    }
    return conditions.join(u" AND "_s);
}

} // namespace

EditTarget AnalyzeSelect(const QString& sql, const QStringList& resultColumns)
{
    const QString text = plainStatement(sql);
    // The same positions with names and strings blanked: only the statement's own words count.
    const QString masked = plainStatement(sql, true);
    static const QRegularExpression shape(
        u"^select\\s+(?:top\\s*\\(?\\s*\\d+\\s*\\)?\\s+)?(.+?)\\s+from\\s+("_s + identifierPattern +
            u"(?:\\s*\\.\\s*"_s + identifierPattern +
            u")?)(?:\\s+(?:as\\s+)?(\\w+))?(?:\\s+(where|order\\s+by)\\b(.*))?$"_s,
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return readOnly(u"запрос читает не одну таблицу"_s);
    const QString alias = match.captured(3);
    static const QRegularExpression notPlain(
        u"\\b(join|union|group\\s+by|having|into|distinct|for\\s+xml|compute)\\b|;"_s,
        QRegularExpression::CaseInsensitiveOption);
    if (!alias.isEmpty() && alias.compare(u"where"_s, Qt::CaseInsensitive) != 0 &&
        notPlain.match(alias).hasMatch())
        return readOnly(u"запрос читает не одну таблицу"_s);
    const auto maskedPart = [&](int part) {
        const qsizetype start = match.capturedStart(part);
        return start < 0 ? QString() : masked.mid(start, match.capturedLength(part));
    };
    if (notPlain.match(maskedPart(1)).hasMatch() || notPlain.match(maskedPart(5)).hasMatch())
        return readOnly(u"запрос читает не одну таблицу"_s);

    EditTarget target;
    target.table = match.captured(2).replace(QRegularExpression(u"\\s*\\.\\s*"_s), u"."_s);
    // Each result column must be a column of the table, as it is or renamed.
    static const QRegularExpression item(u"^(?:(?:"_s + identifierPattern + u")\\s*\\.\\s*)?("_s +
                                             identifierPattern + u"|\\*)(?:\\s+(?:as\\s+)?("_s +
                                             identifierPattern + u"))?$"_s,
                                         QRegularExpression::CaseInsensitiveOption);
    QStringList columns;
    for (const QString& part : splitList(match.captured(1))) {
        const QRegularExpressionMatch m = item.match(part);
        if (!m.hasMatch())
            return readOnly(u"в результате есть вычисляемые столбцы"_s);
        if (m.captured(1) == u"*"_s) {
            columns << u"*"_s;
            continue;
        }
        columns << unbracketed(m.captured(1));
    }
    if (columns.contains(u"*"_s)) {
        if (columns.size() != 1)
            return readOnly(u"в результате есть вычисляемые столбцы"_s);
        target.columns = resultColumns;
    } else {
        if (columns.size() != resultColumns.size())
            return readOnly(u"в результате есть вычисляемые столбцы"_s);
        target.columns = columns;
    }
    return target;
}

EditTarget FindEditTarget(db::Connection& connection, const QString& sql,
                          const QStringList& resultColumns)
{
    EditTarget target = AnalyzeSelect(sql, resultColumns);
    if (!target.editable())
        return target;
    const QStringList parts = target.table.split(u'.');
    const QString name = unbracketed(parts.constLast());
    try {
        const auto keys = connection.openRecordSet(
            u"EXEC sp_pkeys @table_name = N'"_s + sqltext::literalBody(name) + u"'"_s, 30);
        QList<int> keyColumns;
        for (keys->first(); !keys->eof(); keys->next()) {
            const QString column = keys->fieldText(u"COLUMN_NAME"_s);
            const int at = static_cast<int>(target.columns.indexOf(column));
            if (at < 0) {
                keyColumns.clear(); // the key is not all in the result: every value decides
                break;
            }
            keyColumns << at;
            if (keys->recordCount() == keyColumns.size())
                break;
        }
        target.keyColumns = keyColumns;
    } catch (const std::exception& error) {
        return readOnly(u"не удалось узнать ключ таблицы: "_s + QString::fromUtf8(error.what()));
    }
    if (!target.keyColumns.isEmpty())
        return target;
    // Without a key the row is found by its values, and a text, ntext, image or xml column in
    // WHERE is an error on the server (402, 305).
    try {
        QString call = u"EXEC sp_columns @table_name = N'"_s + sqltext::literalBody(name) + u"'"_s;
        if (parts.size() > 1)
            call += u", @table_owner = N'"_s +
                    sqltext::literalBody(unbracketed(parts[parts.size() - 2])) + u"'"_s;
        const auto columns = connection.openRecordSet(call, 30);
        static const QStringList incomparable{u"text"_s, u"ntext"_s, u"image"_s, u"xml"_s};
        for (columns->first(); !columns->eof(); columns->next()) {
            if (!incomparable.contains(columns->fieldText(u"TYPE_NAME"_s).toLower()))
                continue;
            const QString column = columns->fieldText(u"COLUMN_NAME"_s);
            for (int at = 0; at < target.columns.size(); ++at)
                if (target.columns[at].compare(column, Qt::CaseInsensitive) == 0)
                    target.incomparableColumns << at;
        }
    } catch (const std::exception& error) {
        return readOnly(u"не удалось узнать типы столбцов таблицы: "_s +
                        QString::fromUtf8(error.what()));
    }
    if (target.incomparableColumns.size() == target.columns.size())
        return readOnly(u"у таблицы нет ключа, а столбцы типов text, ntext, image и xml "
                        u"сервер не сравнивает"_s);
    return target;
}

BoundStatement UpdateStatement(const EditTarget& target, const QList<QVariant>& original,
                               const QList<QVariant>& changed)
{
    BoundStatement out;
    QStringList sets;
    for (int i = 0; i < target.columns.size(); ++i) {
        const bool sameNull = original.value(i).isNull() == changed.value(i).isNull();
        if (sameNull && original.value(i) == changed.value(i))
            continue;
        sets << sqltext::identifier(target.columns[i]) + u" = ?"_s;
        out.values << changed.value(i);
    }
    out.sql = u"UPDATE "_s + target.table + u" SET "_s + sets.join(u", "_s) + u" WHERE "_s +
              whereClause(target, original, out.values);
    return out;
}

BoundStatement DeleteStatement(const EditTarget& target, const QList<QVariant>& original)
{
    BoundStatement out;
    out.sql =
        u"DELETE FROM "_s + target.table + u" WHERE "_s + whereClause(target, original, out.values);
    return out;
}

BoundStatement InsertStatement(const EditTarget& target, const QList<QVariant>& values)
{
    BoundStatement out;
    QStringList names;
    QStringList markers;
    for (int i = 0; i < target.columns.size(); ++i) {
        if (values.value(i).isNull())
            continue;
        names << sqltext::identifier(target.columns[i]);
        markers << u"?"_s;
        out.values << values.value(i);
    }
    out.sql = names.isEmpty() ? u"INSERT INTO "_s + target.table + u" DEFAULT VALUES"_s
                              : u"INSERT INTO "_s + target.table + u" ("_s + names.join(u", "_s) +
                                    u") VALUES ("_s + markers.join(u", "_s) + u')';
    return out;
}
