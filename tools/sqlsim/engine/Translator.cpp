#include "Translator.h"

#include "Temporal.h"

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

[[noreturn]] void fail(int number, const QString& text)
{
    throw SqlError(number, text);
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// text, ntext and image compare with nothing, themselves included: only IS NULL and LIKE take
// them (learn.microsoft.com "ntext, text, and image (Transact-SQL)"; error 402 names both
// types and the operator as SQL Server words it).
bool isXml(const std::optional<TypeInfo>& t)
{
    return t && t->base == BaseType::Xml;
}

// xml compares with nothing and sorts nowhere; IS NULL is all it takes (learn.microsoft.com
// "xml (Transact-SQL)": cannot be compared or sorted, so no GROUP BY either).
void refuseXmlOrdering(const std::optional<TypeInfo>& t)
{
    if (isXml(t))
        fail(305, u"The XML data type cannot be compared or sorted, except when using the IS NULL "
                  "operator."_s);
}

void refuseLegacyLobComparison(const std::optional<TypeInfo>& a, const std::optional<TypeInfo>& b,
                               const QString& op)
{
    refuseXmlOrdering(a);
    refuseXmlOrdering(b);
    const auto legacy = [](const std::optional<TypeInfo>& t) {
        return t && (t->base == BaseType::Text || t->base == BaseType::NText ||
                     t->base == BaseType::Image);
    };
    if (!a || !b || (!legacy(a) && !legacy(b)))
        return;
    const QString name = op == u"="    ? u"equal to"_s
                         : op == u"<>" ? u"not equal to"_s
                         : op == u"<"  ? u"less than"_s
                         : op == u">"  ? u"greater than"_s
                         : op == u"<=" ? u"less than or equal to"_s
                                       : u"greater than or equal to"_s;
    fail(402, u"The data types %1 and %2 are incompatible in the %3 operator."_s.arg(
                  a->baseName(), b->baseName(), name));
}

int numericRank(BaseType b)
{
    switch (b) {
    case BaseType::Bit:
        return 1;
    case BaseType::TinyInt:
        return 2;
    case BaseType::SmallInt:
        return 3;
    case BaseType::Int:
        return 4;
    case BaseType::BigInt:
        return 5;
    case BaseType::SmallMoney:
        return 6;
    case BaseType::Money:
        return 7;
    case BaseType::Decimal:
    case BaseType::Numeric:
        return 8;
    case BaseType::Real:
        return 9;
    case BaseType::Float:
        return 10;
    default:
        return 0;
    }
}

// The result type of an arithmetic operator over two numeric types.
TypeInfo numericResult(const TypeInfo& a, const TypeInfo& b)
{
    if (a.isExactNumeric() && b.isExactNumeric() && a.base != BaseType::Money &&
        b.base != BaseType::Money) {
        const int scale = std::max(a.scale, b.scale);
        const int intDigits = std::max(a.precision - a.scale, b.precision - b.scale) + 1;
        return TypeInfo::of(BaseType::Decimal, 0, std::min(38, intDigits + scale), scale);
    }
    const TypeInfo& hi = numericRank(a.base) >= numericRank(b.base) ? a : b;
    const TypeInfo& lo = numericRank(a.base) >= numericRank(b.base) ? b : a;
    if (hi.isExactNumeric() && hi.base != BaseType::Money && lo.isInteger())
        return TypeInfo::of(BaseType::Decimal, 0,
                            std::min(38, std::max(hi.precision, 10 + hi.scale)), hi.scale);
    if (hi.base == BaseType::Bit || hi.base == BaseType::TinyInt || hi.base == BaseType::SmallInt)
        return TypeInfo::of(BaseType::Int);
    return hi;
}

TypeInfo stringType(bool unicode, int length)
{
    if (length == ColumnType::max)
        return TypeInfo::of(unicode ? BaseType::NVarChar : BaseType::VarChar, ColumnType::max);
    const int cap = unicode ? 4000 : 8000;
    return TypeInfo::of(unicode ? BaseType::NVarChar : BaseType::VarChar,
                        length > cap ? int(ColumnType::max) : std::max(1, length));
}

int charLength(const TypeInfo& t)
{
    if (t.isLob())
        return ColumnType::max;
    if (t.isString())
        return t.base == BaseType::SysName ? 128 : t.length;
    if (t.isBinary())
        return t.length;
    if (t.isDateTime())
        return 30;
    return 30;
}

// Data type precedence among the date types, highest last (learn.microsoft.com "Data type
// precedence (Transact-SQL)").
int temporalRank(BaseType b)
{
    switch (b) {
    case BaseType::Time:
        return 1;
    case BaseType::Date:
        return 2;
    case BaseType::SmallDateTime:
        return 3;
    case BaseType::DateTime:
        return 4;
    case BaseType::DateTime2:
        return 5;
    case BaseType::DateTimeOffset:
        return 6;
    default:
        return 0;
    }
}

// The type of CASE, COALESCE and the like: the highest precedence, strings as long as the
// longest. Unknown when any branch is unknown (the values then decide).
std::optional<TypeInfo> mergeTypes(const std::vector<std::optional<TypeInfo>>& types)
{
    std::optional<TypeInfo> out;
    for (const auto& t : types) {
        if (!t)
            return std::nullopt;
        if (!out) {
            out = t;
            continue;
        }
        if ((isXml(out) || isXml(t)) && (out->isString() || t->isString() || *out == *t)) {
            // xml outranks the string types (data type precedence).
            out = TypeInfo::of(BaseType::Xml);
        } else if (out->isString() && t->isString()) {
            const int la = charLength(*out), lb = charLength(*t);
            out = stringType(out->isUnicode() || t->isUnicode(),
                             la == ColumnType::max || lb == ColumnType::max ? int(ColumnType::max)
                                                                            : std::max(la, lb));
        } else if (out->isNumeric() && t->isNumeric()) {
            out = numericResult(*out, *t);
        } else if (out->isDateTime() && t->isDateTime()) {
            out = temporalRank(out->base) >= temporalRank(t->base) ? out : t;
        } else if (out->isBinary() && t->isBinary()) {
            out = TypeInfo::of(BaseType::VarBinary, ColumnType::max);
        } else if (out->isString() != t->isString()) {
            // Mixed text and numbers: the number wins in SQL Server, the values decide here.
            return std::nullopt;
        } else if (!(*out == *t)) {
            return std::nullopt;
        }
    }
    return out;
}

// SQL Server's case-sensitive and binary collations compare as SQLite's BINARY; the rest
// as the server's own case-insensitive one.
QString sqliteCollation(const QString& name)
{
    const QString n = name.toUpper();
    return n.contains(u"_CS"_s) || n.contains(u"_BIN"_s) ? u"BINARY"_s : u"TSQL"_s;
}

} // namespace

bool isInternalTable(const QString& name)
{
    const QString n = name.toLower();
    return n.startsWith(u"sqlsim_"_s) || n.startsWith(u"sys_"_s) ||
           n.startsWith(u"information_schema_"_s) || n == u"sqlite_sequence" ||
           n.startsWith(u"sqlite_"_s);
}

// The session views are the server's own: "Ad hoc updates to system catalogs are not allowed."
// (error 259, as for every catalogue view).
static void refuseSessionViewTarget(const ResolvedTable& target)
{
    if (target.schema == u"temp" && target.table.startsWith(u"sqlsim_"_s))
        throw SqlError(259, u"Ad hoc updates to system catalogs are not allowed."_s);
}

Translator::Translator(TranslatorHost& host) : m_host(host) {}

QString Translator::quote(const QString& identifier)
{
    QString s = identifier;
    s.replace(u'"', u"\"\""_s);
    return u'"' + s + u'"';
}

QString Translator::literal(const QString& text)
{
    QString s = text;
    s.replace(u'\'', u"''"_s);
    return u'\'' + s + u'\'';
}

void Translator::reset()
{
    m_out = Translation();
    m_internal = 0;
    m_cteNames.clear();
}

QString Translator::bind(const Value& value)
{
    Value v = value;
    if (const auto* dt = std::get_if<QDateTime>(&v))
        v = storageDateTime(*dt, BaseType::DateTime2);
    m_out.binds.append(v);
    return u"?%1"_s.arg(m_out.binds.size());
}

QList<TableColumn> Translator::columnsOf(const QString& schema, const QString& table)
{
    const QString key = schema.toLower() + u'.' + table.toLower();
    auto it = m_columnCache.find(key);
    if (it != m_columnCache.end())
        return *it;
    QList<TableColumn> cols = m_host.tableColumns(schema, table);
    m_columnCache.insert(key, cols);
    return cols;
}

ResolvedTable Translator::resolveTable(const ObjectName& name, bool mustExist)
{
    ResolvedTable r;
    QString table = name.name;
    const QString schema = name.schema.toLower();
    // The sessions live in the server, not in a database file: each statement that reads them
    // gets a fresh copy in this connection's temp schema. sys.sysprocesses and
    // sys.dm_exec_sessions exist in every database; dbo.sysprocesses only in master ("To access
    // sysprocesses, you must be in the master database context, or you must use the
    // master.dbo.sysprocesses three-part name.", learn.microsoft.com/sql/relational-databases/
    // system-compatibility-views/sys-sysprocesses-transact-sql).
    {
        const QString t = table.toLower();
        const QString db =
            name.database.isEmpty() ? m_host.currentDatabase().toLower() : name.database.toLower();
        const bool sessions =
            (t == u"dm_exec_sessions" && schema == u"sys") ||
            (t == u"sysprocesses" &&
             (schema == u"sys" || ((schema.isEmpty() || schema == u"dbo") && db == u"master")));
        // sys.master_files is one view of the whole server, seen from every database
        // (learn.microsoft.com/sql/relational-databases/system-catalog-views/
        // sys-master-files-transact-sql); the registry of databases lives in the server too.
        const bool masterFiles = t == u"master_files" && schema == u"sys";
        // sys.syslanguages likewise, and dbo.syslanguages in master; made when the session is.
        const bool languages =
            t == u"syslanguages" &&
            (schema == u"sys" || ((schema.isEmpty() || schema == u"dbo") && db == u"master"));
        // sys.database_files: those of the database the name is in.
        const bool databaseFiles = t == u"database_files" && schema == u"sys";
        if (!name.isTemp() && !sessions && !masterFiles && !languages && !databaseFiles) {
            if (const auto view = m_host.serverViewTable(schema, t, db)) {
                r.schema = u"temp"_s;
                r.database = u"master"_s;
                r.table = *view;
                r.sql = quote(r.schema) + u'.' + quote(r.table);
                m_out.tableNames.insert(r.schema + u'.' + r.table, name.text);
                return r;
            }
        }
        if ((sessions || masterFiles || languages || databaseFiles) && !name.isTemp()) {
            if (!name.database.isEmpty() && !m_host.schemaFor(name.database))
                fail(208, u"Invalid object name '%1'."_s.arg(name.text));
            if (databaseFiles)
                m_host.databaseFilesWanted(name.database.isEmpty() ? m_host.currentDatabase()
                                                                   : name.database);
            else if (masterFiles)
                m_host.masterFilesWanted();
            else if (sessions)
                m_host.sessionViewsWanted();
            r.schema = u"temp"_s;
            r.database = u"master"_s;
            r.table = u"sqlsim_"_s + t;
            r.sql = quote(r.schema) + u'.' + quote(r.table);
            m_out.tableNames.insert(r.schema + u'.' + r.table, name.text);
            return r;
        }
    }
    if (schema == u"sys" || schema == u"information_schema") {
        const QString t = table.toLower();
        if (schema == u"information_schema")
            table = u"information_schema_"_s + t;
        else if (t == u"sysobjects" || t == u"sysdatabases")
            table = t;
        else
            table = u"sys_"_s + t;
        if (t == u"databases" || t == u"sysdatabases") {
            r.database = u"master"_s;
        }
    }
    if (name.isTemp()) {
        r.schema = u"temp"_s;
        r.database = u"tempdb"_s;
    } else {
        if (r.database.isEmpty())
            r.database = name.database.isEmpty() ? m_host.currentDatabase() : name.database;
        const auto alias = m_host.schemaFor(r.database);
        if (!alias)
            fail(208, u"Invalid object name '%1'."_s.arg(name.text));
        r.schema = *alias;
    }
    r.table = table;
    r.sql = quote(r.schema) + u'.' + quote(table);
    m_out.tableNames.insert(r.schema.toLower() + u'.' + table.toLower(), name.text);
    if (mustExist && columnsOf(r.schema, r.table).isEmpty())
        fail(208, u"Invalid object name '%1'."_s.arg(name.text));
    return r;
}

// ---- statements

Translation Translator::select(const Select& s)
{
    reset();
    m_out.sql = selectSql(s, nullptr, true);
    if (!s.compounds.empty()) {
        // UNION columns take the widest type of all the queries: the values decide.
        m_out.hints.clear();
    }
    return m_out;
}

Translation Translator::scalar(const ExprPtr& e)
{
    reset();
    Scope scope;
    const QString sql = expr(*e, &scope);
    m_out.sql = u"SELECT "_s + sql;
    return m_out;
}

std::optional<TypeInfo> Translator::scalarType(const ExprPtr& e)
{
    Scope scope;
    return typeOf(*e, &scope);
}

QString Translator::convertToColumn(const QString& valueSql, const TableColumn& column,
                                    const QString& table)
{
    if (!column.type)
        return valueSql;
    return u"tsql_conv(%1,%2,%3,%4)"_s.arg(valueSql, literal(column.type->declText()),
                                           literal(column.name), literal(table));
}

Translation Translator::insert(const Stmt& s)
{
    reset();
    const ResolvedTable target = resolveTable(s.table);
    refuseSessionViewTarget(target);
    const QList<TableColumn> cols = columnsOf(target.schema, target.table);
    if (cols.isEmpty())
        fail(208, u"Invalid object name '%1'."_s.arg(s.table.text));
    const QString tableLabel = target.database + u".dbo."_s + target.table;
    m_out.target = tableLabel;
    m_out.targetHasIdentity =
        std::any_of(cols.begin(), cols.end(), [](const TableColumn& c) { return c.identity; });

    QList<TableColumn> targets;
    if (!s.columns.isEmpty()) {
        for (const QString& c : s.columns) {
            auto it = std::find_if(cols.begin(), cols.end(),
                                   [&](const TableColumn& tc) { return sameName(tc.name, c); });
            if (it == cols.end())
                fail(207, u"Invalid column name '%1'."_s.arg(c));
            if (it->identity && !m_host.identityInsert(target.schema, target.table))
                fail(544, u"Cannot insert explicit value for identity column in table '%1' when "
                          "IDENTITY_INSERT is set to OFF."_s.arg(target.table));
            targets.append(*it);
        }
    } else {
        for (const TableColumn& c : cols)
            if (!c.identity)
                targets.append(c);
    }

    QString columnList;
    for (const TableColumn& c : targets)
        columnList += (columnList.isEmpty() ? QString() : u","_s) + quote(c.name);

    Scope scope;
    QString prefix;
    if (!s.ctes.empty())
        prefix = ctesSql(s.ctes, &scope);

    if (s.defaultValues) {
        m_out.sql = prefix + u"INSERT INTO "_s + target.sql + u" DEFAULT VALUES"_s;
        return m_out;
    }
    if (!s.rows.empty()) {
        QString values;
        for (const auto& row : s.rows) {
            if (int(row.size()) != targets.size()) {
                if (s.columns.isEmpty())
                    fail(213, u"Column name or number of supplied values does not match table "
                              "definition."_s);
                if (int(row.size()) < targets.size())
                    fail(109, u"There are more columns in the INSERT statement than values "
                              "specified in the VALUES clause. The number of values in the VALUES "
                              "clause must match the number of columns specified in the INSERT "
                              "statement."_s);
                fail(110, u"There are fewer columns in the INSERT statement than values specified "
                          "in the VALUES clause. The number of values in the VALUES clause must "
                          "match the number of columns specified in the INSERT statement."_s);
            }
            QString rowSql;
            for (int i = 0; i < targets.size(); ++i) {
                const Expr& e = *row[size_t(i)];
                QString v;
                if (e.kind == Expr::Default)
                    v = targets[i].defaultSql.isEmpty() ? u"NULL"_s
                                                        : u'(' + targets[i].defaultSql + u')';
                else
                    v = convertToColumn(operandForType(e, targets[i].type, &scope), targets[i],
                                        tableLabel);
                rowSql += (i ? u","_s : QString()) + v;
            }
            values += (values.isEmpty() ? QString() : u","_s) + u'(' + rowSql + u')';
        }
        m_out.sql = prefix + u"INSERT INTO "_s + target.sql + u" ("_s + columnList +
                    u") VALUES "_s + values;
        return m_out;
    }
    if (s.select) {
        std::vector<std::optional<TypeInfo>> itemTypes;
        const QString selectSqlText = selectSql(*s.select, &scope, false, &itemTypes);
        // The first query's types stand for a UNION's only when they are all there is.
        if (!s.select->compounds.empty() || itemTypes.size() != size_t(targets.size()))
            itemTypes.assign(size_t(targets.size()), std::nullopt);
        const int count = m_host.resultColumnCount(
            (prefix.isEmpty() ? QString() : prefix) + selectSqlText, m_out.binds);
        if (count >= 0 && count != targets.size()) {
            if (s.columns.isEmpty())
                fail(213, u"Column name or number of supplied values does not match table "
                          "definition."_s);
            if (count < targets.size())
                fail(120, u"The select list for the INSERT statement contains fewer items than "
                          "the insert list. The number of SELECT values must match the number "
                          "of INSERT columns."_s);
            fail(121, u"The select list for the INSERT statement contains more items than the "
                      "insert list. The number of SELECT values must match the number of INSERT "
                      "columns."_s);
        }
        QString srcCols, converted;
        for (int i = 0; i < targets.size(); ++i) {
            const QString c = u"__c%1"_s.arg(i + 1);
            srcCols += (i ? u","_s : QString()) + quote(c);
            const QString value = targets[i].type
                                      ? textAsDate(quote(c), itemTypes[size_t(i)], *targets[i].type)
                                      : quote(c);
            converted += (i ? u","_s : QString()) + convertToColumn(value, targets[i], tableLabel);
        }
        QString with = prefix.isEmpty() ? u"WITH "_s : prefix.chopped(1) + u", "_s;
        m_out.sql = with + u"\"__src\"("_s + srcCols + u") AS ("_s + selectSqlText +
                    u") INSERT INTO "_s + target.sql + u" ("_s + columnList + u") SELECT "_s +
                    converted + u" FROM \"__src\""_s;
        return m_out;
    }
    fail(40000, u"sqlsim does not support 'INSERT ... EXEC'."_s);
}

Translation Translator::update(const Stmt& s)
{
    reset();
    if (s.top)
        fail(40000, u"sqlsim does not support 'UPDATE TOP'."_s);
    Scope scope;
    QString prefix;
    if (!s.ctes.empty())
        prefix = ctesSql(s.ctes, &scope);

    // The target may be an alias of a FROM table: UPDATE a SET ... FROM t a JOIN ...
    std::vector<TableSourcePtr> from = s.from;
    ObjectName targetName = s.table;
    QString targetAlias;
    std::vector<ExprPtr> movedConditions;
    auto matches = [&](const TableSource& t) {
        if (t.kind != TableSource::Table)
            return false;
        if (!t.alias.isEmpty())
            return targetName.schema.isEmpty() && targetName.database.isEmpty() &&
                   sameName(t.alias, targetName.name);
        return sameName(t.name.name, targetName.name);
    };
    Scope joinScope;
    joinScope.parent = &scope;
    if (!from.empty()) {
        for (size_t i = 0; i < from.size(); ++i) {
            TableSourcePtr item = from[i];
            if (matches(*item)) {
                targetName = item->name;
                targetAlias = item->alias;
                from.erase(from.begin() + long(i));
                break;
            }
            // Leftmost leaf of an inner-join chain.
            std::vector<TableSourcePtr> chain;
            TableSourcePtr cur = item;
            while (cur->kind == TableSource::Join && cur->joinType == u"INNER") {
                chain.push_back(cur);
                cur = cur->left;
            }
            if (!chain.empty() && matches(*cur)) {
                targetName = cur->name;
                targetAlias = cur->alias;
                // Replace the chain by its right sides, the ON conditions go to WHERE.
                from.erase(from.begin() + long(i));
                for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
                    from.push_back((*it)->right);
                }
                // Conditions are translated once the scope holds every table.
                for (auto it = chain.rbegin(); it != chain.rend(); ++it)
                    if ((*it)->on)
                        movedConditions.push_back((*it)->on);
                break;
            }
        }
    }
    const ResolvedTable target = resolveTable(targetName);
    refuseSessionViewTarget(target);
    const QList<TableColumn> cols = columnsOf(target.schema, target.table);
    if (cols.isEmpty())
        fail(208, u"Invalid object name '%1'."_s.arg(targetName.text));
    const QString tableLabel = target.database + u".dbo."_s + target.table;
    m_out.target = tableLabel;
    const QString alias = targetAlias.isEmpty() ? target.table : targetAlias;
    Source src;
    src.alias = alias.toLower();
    src.table = target.table.toLower();
    src.columns = cols;
    src.known = true;
    joinScope.sources.push_back(src);

    QString fromSqlText;
    for (const auto& f : from)
        fromSqlText += (fromSqlText.isEmpty() ? QString() : u", "_s) + fromSql(*f, joinScope);

    QString sets;
    for (const auto& c : s.sets) {
        if (!c.variable.isEmpty())
            fail(40000, u"sqlsim does not support assigning variables in UPDATE."_s);
        auto it = std::find_if(cols.begin(), cols.end(),
                               [&](const TableColumn& tc) { return sameName(tc.name, c.column); });
        if (it == cols.end())
            fail(207, u"Invalid column name '%1'."_s.arg(c.column));
        if (it->identity)
            fail(8102, u"Cannot update identity column '%1'."_s.arg(it->name));
        QString value;
        if (c.value->kind == Expr::Default) {
            value = it->defaultSql.isEmpty() ? u"NULL"_s : u'(' + it->defaultSql + u')';
        } else {
            value = operandForType(*c.value, it->type, &joinScope);
            if (c.op != u"=") {
                const QString cur = quote(alias) + u'.' + quote(it->name);
                const QChar op = c.op[0];
                value = op == u'+'   ? u"tsql_add(%1,%2)"_s.arg(cur, value)
                        : op == u'/' ? u"tsql_div(%1,%2)"_s.arg(cur, value)
                                     : u"(%1 %2 %3)"_s.arg(cur, QString(op), value);
            }
            value = convertToColumn(value, *it, tableLabel);
        }
        sets += (sets.isEmpty() ? QString() : u", "_s) + quote(it->name) + u" = "_s + value;
    }
    QStringList conditions;
    for (const ExprPtr& on : movedConditions)
        conditions << u'(' + expr(*on, &joinScope) + u')';
    if (s.where)
        conditions << u'(' + expr(*s.where, &joinScope) + u')';
    m_out.sql = prefix + u"UPDATE "_s + target.sql + u" AS "_s + quote(alias) + u" SET "_s + sets;
    if (!fromSqlText.isEmpty())
        m_out.sql += u" FROM "_s + fromSqlText;
    if (!conditions.isEmpty())
        m_out.sql += u" WHERE "_s + conditions.join(u" AND "_s);
    return m_out;
}

Translation Translator::remove(const Stmt& s)
{
    reset();
    if (s.top)
        fail(40000, u"sqlsim does not support 'DELETE TOP'."_s);
    Scope scope;
    QString prefix;
    if (!s.ctes.empty())
        prefix = ctesSql(s.ctes, &scope);
    if (s.from.empty()) {
        const ResolvedTable target = resolveTable(s.table, true);
        refuseSessionViewTarget(target);
        m_out.target = target.database + u".dbo."_s + target.table;
        Scope inner;
        inner.parent = &scope;
        Source src;
        src.alias = target.table.toLower();
        src.table = target.table.toLower();
        src.columns = columnsOf(target.schema, target.table);
        src.known = true;
        inner.sources.push_back(src);
        m_out.sql = prefix + u"DELETE FROM "_s + target.sql;
        if (s.where)
            m_out.sql += u" WHERE "_s + expr(*s.where, &inner);
        return m_out;
    }
    // DELETE t FROM t JOIN ... : the rows of the target that the join finds.
    Scope inner;
    inner.parent = &scope;
    QString fromText;
    for (const auto& f : s.from)
        fromText += (fromText.isEmpty() ? QString() : u", "_s) + fromSql(*f, inner);
    // Which FROM item is the target?
    QString rowidOf;
    std::function<bool(const TableSourcePtr&)> find = [&](const TableSourcePtr& t) -> bool {
        if (!t)
            return false;
        if (t->kind == TableSource::Join)
            return find(t->left) || find(t->right);
        if (t->kind != TableSource::Table)
            return false;
        if ((!t->alias.isEmpty() && sameName(t->alias, s.table.name) && s.table.schema.isEmpty()) ||
            (t->alias.isEmpty() && sameName(t->name.name, s.table.name))) {
            rowidOf = quote(t->alias.isEmpty() ? t->name.name : t->alias);
            return true;
        }
        return false;
    };
    ObjectName realName = s.table;
    for (const auto& f : s.from) {
        if (find(f))
            break;
    }
    if (!rowidOf.isEmpty()) {
        for (const auto& f : s.from) {
            std::function<void(const TableSourcePtr&)> real = [&](const TableSourcePtr& t) {
                if (!t)
                    return;
                if (t->kind == TableSource::Join) {
                    real(t->left);
                    real(t->right);
                } else if (t->kind == TableSource::Table &&
                           quote(t->alias.isEmpty() ? t->name.name : t->alias) == rowidOf) {
                    realName = t->name;
                }
            };
            real(f);
        }
    }
    const ResolvedTable target = resolveTable(realName, true);
    refuseSessionViewTarget(target);
    m_out.target = target.database + u".dbo."_s + target.table;
    if (rowidOf.isEmpty()) {
        rowidOf = quote(u"__target"_s);
        fromText = target.sql + u" AS "_s + rowidOf + u", "_s + fromText;
    }
    QString sub = u"SELECT "_s + rowidOf + u".rowid FROM "_s + fromText;
    if (s.where)
        sub += u" WHERE "_s + expr(*s.where, &inner);
    m_out.sql = prefix + u"DELETE FROM "_s + target.sql + u" WHERE rowid IN ("_s + sub + u')';
    return m_out;
}

// ---- SELECT

QString Translator::ctesSql(const std::vector<Cte>& ctes, Scope* scope)
{
    QString out = u"WITH RECURSIVE "_s;
    bool first = true;
    for (const Cte& c : ctes) {
        m_cteNames.insert(c.name.toLower());
        if (scope)
            scope->ctes.insert(c.name.toLower());
        out += (first ? QString() : u", "_s) + quote(c.name);
        if (!c.columns.isEmpty()) {
            QStringList q;
            for (const QString& col : c.columns)
                q << quote(col);
            out += u'(' + q.join(u',') + u')';
        }
        out += u" AS ("_s + selectSql(*c.select, scope, false) + u')';
        first = false;
    }
    return out + u' ';
}

QString Translator::limitSql(const ExprPtr& top, Scope* scope)
{
    return u" LIMIT "_s + expr(*top, scope);
}

QString Translator::selectSql(const Select& s, Scope* parent, bool topLevel,
                              std::vector<std::optional<TypeInfo>>* itemTypes)
{
    const QString forcedAlias = std::exchange(m_firstItemAlias, QString());
    Scope scope;
    scope.parent = parent;
    QString out;
    if (!s.ctes.empty())
        out += ctesSql(s.ctes, &scope);
    m_firstItemAlias = forcedAlias;
    if (s.topPercent)
        fail(40000, u"sqlsim does not support 'TOP ... PERCENT'."_s);
    if (s.withTies)
        fail(40000, u"sqlsim does not support 'TOP ... WITH TIES'."_s);
    const bool compound = !s.compounds.empty();
    std::vector<std::optional<TypeInfo>> ownTypes;
    auto* types = itemTypes ? itemTypes : &ownTypes;
    const size_t firstType = types->size();
    if (compound && s.top) {
        Scope inner;
        inner.parent = &scope;
        out += u"SELECT * FROM ("_s + coreSql(s, inner, topLevel, false, types) +
               limitSql(s.top, &inner) + u')';
    } else {
        out += coreSql(s, scope, topLevel, false, types);
    }
    // UNION, EXCEPT and INTERSECT without ALL compare rows as DISTINCT does.
    for (const auto& [op, next] : s.compounds) {
        if (op.contains(u"ALL"_s, Qt::CaseInsensitive))
            continue;
        for (size_t i = firstType; i < types->size(); ++i)
            if (isXml((*types)[i]))
                fail(421, u"The xml data type cannot be selected as DISTINCT because it is not "
                          "comparable."_s);
    }
    for (const auto& [op, next] : s.compounds) {
        Scope other;
        other.parent = parent;
        QString part = selectSql(*next, &other, false);
        out += u' ' + op + u' ' + part;
    }
    if (!s.orderBy.empty()) {
        QStringList terms;
        for (const OrderItem& o : s.orderBy) {
            QString term;
            if (compound && o.expr->kind == Expr::Column)
                term = quote(o.expr->parts.last());
            else
                term = expr(*o.expr, &scope);
            if (!(compound && o.expr->kind == Expr::Column))
                refuseXmlOrdering(typeOf(*o.expr, &scope));
            terms << term + (o.desc ? u" DESC"_s : QString());
        }
        out += u" ORDER BY "_s + terms.join(u", "_s);
    }
    if (s.fetch || s.offset) {
        out += u" LIMIT "_s + (s.fetch ? expr(*s.fetch, &scope) : u"-1"_s);
        if (s.offset)
            out += u" OFFSET "_s + expr(*s.offset, &scope);
    } else if (s.top && !compound) {
        out += limitSql(s.top, &scope);
    }
    return out;
}

QString Translator::coreSql(const Select& s, Scope& scope, bool topLevel, bool,
                            std::vector<std::optional<TypeInfo>>* itemTypes)
{
    const QString forcedAlias = std::exchange(m_firstItemAlias, QString());
    QString out = u"SELECT "_s;
    if (s.distinct)
        out += u"DISTINCT "_s;
    QString from;
    for (const auto& f : s.from)
        from += (from.isEmpty() ? QString() : u", "_s) + fromSql(*f, scope);

    bool anyAssign = false, anyPlain = false;
    QStringList items;
    for (const SelectItem& item : s.items) {
        if (item.star) {
            anyPlain = true;
            if (!item.starQualifier.isEmpty())
                items << quote(item.starQualifier) + u".*"_s;
            else {
                if (s.from.empty())
                    fail(263, u"Must specify table to select from."_s);
                items << u"*"_s;
            }
            if (itemTypes)
                itemTypes->push_back(std::nullopt);
            continue;
        }
        const QString sql = expr(*item.expr, &scope);
        const auto type = typeOf(*item.expr, &scope);
        // DISTINCT compares whole rows: SQL Server names the type (message 421).
        if (s.distinct && isXml(type))
            fail(421, u"The xml data type cannot be selected as DISTINCT because it is not "
                      "comparable."_s);
        if (itemTypes)
            itemTypes->push_back(type);
        QString name;
        bool unnamed = false;
        if (!item.assignVar.isEmpty()) {
            anyAssign = true;
            name = u"__sqlsim_a%1"_s.arg(++m_internal);
            if (topLevel) {
                m_out.assignments << item.assignVar;
                m_out.assignOps << item.assignOp;
                m_out.assignTypes << type;
            }
        } else {
            anyPlain = true;
            if (!forcedAlias.isEmpty() && items.isEmpty()) {
                name = forcedAlias;
            } else if (item.hasAlias) {
                name = item.alias;
            } else if (item.expr->kind == Expr::Column) {
                name = item.expr->parts.last();
            } else {
                name = u"__sqlsim_e%1"_s.arg(++m_internal);
                unnamed = true;
            }
        }
        if (topLevel) {
            if (type)
                m_out.hints.insert(name.toLower(), *type);
            if (unnamed)
                m_out.unnamed.insert(name.toLower());
        }
        items << sql + u" AS "_s + quote(name);
    }
    if (anyAssign && anyPlain)
        fail(141, u"A SELECT statement that assigns a value to a variable must not be combined "
                  "with data-retrieval operations."_s);
    if (anyAssign && !topLevel)
        fail(141, u"A SELECT statement that assigns a value to a variable must not be combined "
                  "with data-retrieval operations."_s);
    out += items.join(u", "_s);
    if (!from.isEmpty())
        out += u" FROM "_s + from;
    if (s.where)
        out += u" WHERE "_s + expr(*s.where, &scope);
    if (!s.groupBy.empty()) {
        QStringList g;
        for (const auto& e : s.groupBy) {
            refuseXmlOrdering(typeOf(*e, &scope));
            g << expr(*e, &scope);
        }
        out += u" GROUP BY "_s + g.join(u", "_s);
    }
    if (s.having)
        out += u" HAVING "_s + expr(*s.having, &scope);
    return out;
}

// sys.dm_os_volume_stats(database_id, file_id): the volume a database file lies on, no row for a
// file that does not exist (learn.microsoft.com/sql/relational-databases/
// system-dynamic-management-views/sys-dm-os-volume-stats-transact-sql).
QString Translator::volumeStatsSql(const TableSource& t, Scope& scope)
{
    if (t.functionArgs.size() != 2)
        fail(t.functionArgs.size() < 2 ? 313 : 8144,
             t.functionArgs.size() < 2
                 ? u"An insufficient number of arguments were supplied for the procedure or "
                   "function sys.dm_os_volume_stats."_s
                 : u"Procedure or function sys.dm_os_volume_stats has too many arguments "
                   "specified."_s);
    const QString database = expr(*t.functionArgs[0], &scope);
    const QString file = expr(*t.functionArgs[1], &scope);
    const QString alias = t.alias.isEmpty() ? t.name.name : t.alias;
    Source src;
    src.alias = alias.toLower();
    src.derived.insert(u"database_id"_s, TypeInfo::of(BaseType::Int));
    src.derived.insert(u"file_id"_s, TypeInfo::of(BaseType::Int));
    src.derived.insert(u"volume_mount_point"_s, TypeInfo::of(BaseType::NVarChar, 512));
    src.derived.insert(u"total_bytes"_s, TypeInfo::of(BaseType::BigInt));
    src.derived.insert(u"available_bytes"_s, TypeInfo::of(BaseType::BigInt));
    scope.sources.push_back(src);
    return u"(SELECT d AS database_id, f AS file_id, tsql_volume_stat(d, f, 0) AS "
           "volume_mount_point, tsql_volume_stat(d, f, 1) AS total_bytes, "
           "tsql_volume_stat(d, f, 2) AS available_bytes FROM (SELECT (%1) AS d, (%2) AS f) "
           "WHERE tsql_volume_stat(d, f, 0) IS NOT NULL) AS "_s.arg(database, file) +
           quote(alias);
}

QString Translator::fromSql(const TableSource& t, Scope& scope)
{
    switch (t.kind) {
    case TableSource::Table:
        if (t.isFunction)
            return volumeStatsSql(t, scope);
        return tableSql(t.name, t.alias, scope);
    case TableSource::Derived: {
        std::vector<std::optional<TypeInfo>> types;
        Scope inner;
        inner.parent = scope.parent;
        QString sub = selectSql(*t.derived, scope.parent, false, &types);
        Source src;
        src.alias = t.alias.toLower();
        // Column names of a derived table come from its select list.
        size_t i = 0;
        for (const SelectItem& item : t.derived->items) {
            QString name = item.hasAlias                                  ? item.alias
                           : item.expr && item.expr->kind == Expr::Column ? item.expr->parts.last()
                                                                          : QString();
            if (i < size_t(t.derivedColumns.size()))
                name = t.derivedColumns[qsizetype(i)];
            if (!name.isEmpty() && i < types.size() && types[i])
                src.derived.insert(name.toLower(), *types[i]);
            ++i;
        }
        scope.sources.push_back(src);
        QString out = u'(' + sub + u") AS "_s + quote(t.alias);
        if (!t.derivedColumns.isEmpty()) {
            // SQLite has no column list on a derived table: wrap it.
            QStringList cols;
            for (qsizetype k = 0; k < t.derivedColumns.size(); ++k)
                cols << u"NULL AS "_s + quote(t.derivedColumns[k]);
            out = u"(SELECT "_s + cols.join(u", "_s) + u" WHERE 0 UNION ALL "_s + sub + u") AS "_s +
                  quote(t.alias);
        }
        return out;
    }
    case TableSource::Join: {
        const QString left = fromSql(*t.left, scope);
        const QString right = fromSql(*t.right, scope);
        QString type = t.joinType;
        if (type == u"RIGHT" || type == u"FULL")
            type += u" OUTER"_s;
        else if (type == u"LEFT")
            type = u"LEFT OUTER"_s;
        QString out = left + u' ' + type + u" JOIN "_s + right;
        if (t.on)
            out += u" ON "_s + expr(*t.on, &scope);
        return out;
    }
    }
    return {};
}

QString Translator::tableSql(const ObjectName& name, const QString& alias, Scope& scope)
{
    Source src;
    const QString shown = alias.isEmpty() ? name.name : alias;
    src.alias = shown.toLower();
    src.table = name.name.toLower();
    if (name.database.isEmpty() && name.schema.isEmpty() &&
        m_cteNames.contains(name.name.toLower())) {
        scope.sources.push_back(src);
        return quote(name.name) + u" AS "_s + quote(shown);
    }
    const ResolvedTable r = resolveTable(name);
    src.columns = columnsOf(r.schema, r.table);
    src.known = !src.columns.isEmpty();
    scope.sources.push_back(src);
    return r.sql + u" AS "_s + quote(shown);
}

// ---- expressions

std::optional<TypeInfo> Translator::columnType(const QStringList& parts, Scope* scope)
{
    const QString col = parts.last().toLower();
    const QString table = parts.size() >= 2 ? parts[parts.size() - 2].toLower() : QString();
    for (Scope* s = scope; s; s = s->parent) {
        for (const Source& src : s->sources) {
            if (!table.isEmpty() && src.alias != table && src.table != table)
                continue;
            if (auto it = src.derived.find(col); it != src.derived.end())
                return *it;
            for (const TableColumn& c : src.columns)
                if (c.name.toLower() == col)
                    return c.type;
        }
    }
    return std::nullopt;
}

std::optional<TypeInfo> Translator::typeOf(const Expr& e, Scope* scope)
{
    switch (e.kind) {
    case Expr::Null:
    case Expr::Default:
    case Expr::Star:
        return std::nullopt;
    case Expr::Integer: {
        bool ok = false;
        const qint64 v = e.text.toLongLong(&ok);
        if (ok && v >= std::numeric_limits<qint32>::min() &&
            v <= std::numeric_limits<qint32>::max())
            return TypeInfo::of(BaseType::Int);
        if (ok)
            return TypeInfo::of(BaseType::BigInt);
        return TypeInfo::of(BaseType::Decimal, 0, std::min(38, int(e.text.size())), 0);
    }
    case Expr::Decimal: {
        QString t = e.text;
        t.remove(u'-');
        const qsizetype dot = t.indexOf(u'.');
        const int scale = dot < 0 ? 0 : int(t.size() - dot - 1);
        QString digits = t;
        digits.remove(u'.');
        while (digits.size() > 1 && digits.startsWith(u'0'))
            digits.remove(0, 1);
        const int precision = std::max(int(digits.size()), scale);
        return TypeInfo::of(BaseType::Numeric, 0, std::clamp(precision, 1, 38),
                            std::min(scale, 38));
    }
    case Expr::Float:
        return TypeInfo::of(BaseType::Float);
    case Expr::String:
        return TypeInfo::of(e.unicode ? BaseType::NVarChar : BaseType::VarChar,
                            std::max(1, int(e.text.size())));
    case Expr::Binary:
        return TypeInfo::of(BaseType::VarBinary, std::max(1, int((e.text.size() + 1) / 2)));
    case Expr::Column:
        return columnType(e.parts, scope);
    case Expr::Variable:
        if (const Variable* v = m_host.variable(e.text))
            return v->type;
        return std::nullopt;
    case Expr::SysVariable:
        try {
            return m_host.systemVariable(e.text).type;
        } catch (const SqlError&) {
            return std::nullopt;
        }
    case Expr::Unary:
        return typeOf(*e.args[0], scope);
    case Expr::BinaryOp: {
        const auto a = typeOf(*e.args[0], scope);
        const auto b = typeOf(*e.args[1], scope);
        if (e.text == u"+" && ((a && a->isString()) || (b && b->isString()))) {
            if (a && b && a->isString() && b->isString()) {
                const bool uni = a->isUnicode() || b->isUnicode();
                const int la = charLength(*a), lb = charLength(*b);
                return stringType(uni, la == ColumnType::max || lb == ColumnType::max
                                           ? int(ColumnType::max)
                                           : la + lb);
            }
            if (a && a->isString() && b && b->isNumeric())
                return b;
            if (b && b->isString() && a && a->isNumeric())
                return a;
            return std::nullopt;
        }
        if ((e.text == u"+" || e.text == u"-") && a && a->isDateTime() && b && b->isNumeric())
            return a;
        if (e.text == u"/" && a && b && a->isExactNumeric() && b->isNumeric() &&
            !b->isApproxNumeric()) {
            // SQL Server: scale = max(6, s1 + p2 + 1), precision = p1 - s1 + s2 + scale.
            // An integer constant counts with its own digits, an int column with ten.
            const Expr& right = *e.args[1];
            const int digits = right.kind == Expr::Integer
                                   ? int(QString(right.text).remove(u'-').size())
                                   : (b->base == BaseType::BigInt ? 19 : 10);
            const TypeInfo bt =
                b->isExactNumeric() ? *b : TypeInfo::of(BaseType::Decimal, 0, digits, 0);
            int scale = std::max(6, a->scale + bt.precision + 1);
            int precision = a->precision - a->scale + bt.scale + scale;
            if (precision > 38) {
                scale = std::max(6, scale - (precision - 38));
                precision = 38;
            }
            return TypeInfo::of(BaseType::Decimal, 0, precision, std::min(scale, precision));
        }
        if (a && b && a->isNumeric() && b->isNumeric())
            return numericResult(*a, *b);
        return std::nullopt;
    }
    case Expr::Compare:
    case Expr::And:
    case Expr::Or:
    case Expr::Not:
    case Expr::Exists:
    case Expr::InList:
    case Expr::InSelect:
    case Expr::Between:
    case Expr::Like:
    case Expr::IsNull:
        return TypeInfo::of(BaseType::Bit);
    case Expr::Cast:
        return e.castType;
    case Expr::Case: {
        const size_t start = e.hasOperand ? 1 : 0;
        const size_t end = e.hasElse ? e.args.size() - 1 : e.args.size();
        std::vector<std::optional<TypeInfo>> branches;
        for (size_t i = start + 1; i < end; i += 2) {
            if (e.args[i]->kind != Expr::Null)
                branches.push_back(typeOf(*e.args[i], scope));
        }
        if (e.hasElse && e.args.back()->kind != Expr::Null)
            branches.push_back(typeOf(*e.args.back(), scope));
        if (branches.empty())
            return std::nullopt;
        return mergeTypes(branches);
    }
    case Expr::Subquery: {
        if (!e.select || e.select->items.empty() || e.select->items[0].star)
            return std::nullopt;
        Scope inner;
        inner.parent = scope;
        for (const auto& f : e.select->from) {
            if (f->kind == TableSource::Table) {
                try {
                    const ResolvedTable r = resolveTable(f->name);
                    Source src;
                    src.alias = (f->alias.isEmpty() ? f->name.name : f->alias).toLower();
                    src.table = f->name.name.toLower();
                    src.columns = columnsOf(r.schema, r.table);
                    inner.sources.push_back(src);
                } catch (const SqlError&) {
                }
            }
        }
        return typeOf(*e.select->items[0].expr, &inner);
    }
    case Expr::Function: {
        const QString& f = e.text;
        auto arg = [&](size_t i) -> std::optional<TypeInfo> {
            return i < e.args.size() ? typeOf(*e.args[i], scope) : std::nullopt;
        };
        if (f == u"count" || f == u"len" || f == u"datalength" || f == u"charindex" ||
            f == u"patindex" || f == u"datediff" || f == u"datepart" || f == u"year" ||
            f == u"month" || f == u"day" || f == u"ascii" || f == u"unicode" || f == u"object_id" ||
            f == u"isnumeric" || f == u"isdate" || f == u"row_number" || f == u"rank" ||
            f == u"dense_rank" || f == u"ntile" || f == u"sign" || f == u"has_dbaccess" ||
            f == u"@@rowcount")
            return TypeInfo::of(f == u"count" || f == u"row_number" || f == u"rank" ||
                                        f == u"dense_rank"
                                    ? (f == u"count" ? BaseType::Int : BaseType::BigInt)
                                    : BaseType::Int);
        if (f == u"count_big" || f == u"datediff_big")
            return TypeInfo::of(BaseType::BigInt);
        if (f == u"db_id")
            return TypeInfo::of(BaseType::SmallInt);
        if (f == u"getdate" || f == u"getutcdate" || f == u"current_timestamp")
            return TypeInfo::of(BaseType::DateTime);
        if (f == u"sysdatetime" || f == u"sysutcdatetime")
            return TypeInfo::of(BaseType::DateTime2, 0, 0, 7);
        if (f == u"sysdatetimeoffset")
            return TypeInfo::of(BaseType::DateTimeOffset, 0, 0, 7);
        if (f == u"dateadd")
            return arg(2) && arg(2)->isDateTime() ? arg(2) : TypeInfo::of(BaseType::DateTime);
        if (f == u"suser_sname" || f == u"suser_name" || f == u"user_name" || f == u"db_name" ||
            f == u"host_name" || f == u"app_name" || f == u"object_name" || f == u"quotename" ||
            f == u"original_login" || f == u"schema_name")
            return TypeInfo::of(BaseType::NVarChar, 128);
        if (f == u"newid")
            return TypeInfo::of(BaseType::UniqueIdentifier);
        if (f == u"datename")
            return TypeInfo::of(BaseType::NVarChar, 30);
        if (f == u"serverproperty" || f == u"databasepropertyex")
            return TypeInfo::of(BaseType::NVarChar, 128);
        if (f == u"collationproperty" || f == u"fileproperty")
            return TypeInfo::of(BaseType::Int);
        if (f == u"isnull")
            return arg(0);
        if (f == u"coalesce" || f == u"iif") {
            std::vector<std::optional<TypeInfo>> branches;
            for (size_t i = f == u"iif" ? 1 : 0; i < e.args.size(); ++i)
                if (e.args[i]->kind != Expr::Null)
                    branches.push_back(arg(i));
            return branches.empty() ? std::nullopt : mergeTypes(branches);
        }
        if (f == u"ceiling" || f == u"floor") {
            auto t = arg(0);
            if (t && t->isExactNumeric() && t->base != BaseType::Money &&
                t->base != BaseType::SmallMoney)
                return TypeInfo::of(BaseType::Decimal, 0, std::max(1, t->precision - t->scale + 1),
                                    0);
            return t;
        }
        if (f == u"nullif" || f == u"min" || f == u"max" || f == u"abs" || f == u"round")
            return arg(0);
        if (f == u"sum") {
            auto t = arg(0);
            if (t && (t->base == BaseType::Bit || t->base == BaseType::TinyInt ||
                      t->base == BaseType::SmallInt))
                return TypeInfo::of(BaseType::Int);
            if (t && t->isExactNumeric() && t->base != BaseType::Money)
                return TypeInfo::of(BaseType::Decimal, 0, 38, t->scale);
            return t;
        }
        if (f == u"avg") {
            auto t = arg(0);
            if (t && t->isInteger())
                return TypeInfo::of(BaseType::Int);
            if (t && t->isExactNumeric() && t->base != BaseType::Money)
                return TypeInfo::of(BaseType::Decimal, 0, 38, std::max(6, t->scale));
            return t;
        }
        if (f == u"upper" || f == u"lower" || f == u"ltrim" || f == u"rtrim" || f == u"trim" ||
            f == u"reverse" || f == u"left" || f == u"right" || f == u"substring" ||
            f == u"replace" || f == u"stuff") {
            auto t = arg(0);
            if (t && t->isString()) {
                if (t->base == BaseType::Char)
                    return TypeInfo::of(BaseType::VarChar, t->length);
                if (t->base == BaseType::NChar)
                    return TypeInfo::of(BaseType::NVarChar, t->length);
                if (t->base == BaseType::Text)
                    return TypeInfo::of(BaseType::VarChar, ColumnType::max);
                if (t->base == BaseType::NText)
                    return TypeInfo::of(BaseType::NVarChar, ColumnType::max);
                if (f == u"replace" || f == u"stuff")
                    return stringType(t->isUnicode(), t->isUnicode() ? 4000 : 8000);
                return t;
            }
            return std::nullopt;
        }
        if (f == u"replicate") {
            // "Returns the same type as string_expression"; one that is not (max) gives at most
            // 8,000 bytes (REPLICATE (Transact-SQL)).
            const auto t = arg(0);
            const bool unicode = t && t->isUnicode();
            const bool max = t && t->length == ColumnType::max;
            return TypeInfo::of(unicode ? BaseType::NVarChar : BaseType::VarChar,
                                max       ? ColumnType::max
                                : unicode ? 4000
                                          : 8000);
        }
        if (f == u"space" || f == u"str" || f == u"char" || f == u"concat")
            return TypeInfo::of(BaseType::VarChar, f == u"char" ? 1 : 8000);
        if (f == u"nchar")
            return TypeInfo::of(BaseType::NChar, 1);
        if (f == u"power" || f == u"sqrt" || f == u"exp" || f == u"log" || f == u"log10" ||
            f == u"rand" || f == u"pi" || f == u"sin" || f == u"cos" || f == u"tan" ||
            f == u"atan" || f == u"asin" || f == u"acos" || f == u"square" || f == u"degrees" ||
            f == u"radians")
            return f == u"power" ? arg(0) : TypeInfo::of(BaseType::Float);
        if (f == u"scope_identity" || f == u"ident_current")
            return TypeInfo::of(BaseType::Numeric, 0, 38, 0);
        return std::nullopt;
    }
    }
    return std::nullopt;
}

// A string literal compared with (or stored into) a date or number is converted as SQL Server
// converts it, so that text comparison in SQLite gives the same answer. Other text meeting a
// date type converts to it too, as the date type takes precedence.
// https://learn.microsoft.com/sql/t-sql/data-types/data-type-precedence-transact-sql
QString Translator::operandForType(const Expr& e, const std::optional<TypeInfo>& other,
                                   Scope* scope)
{
    if (other && e.kind == Expr::String &&
        (other->isDateTime() || other->base == BaseType::UniqueIdentifier)) {
        const Value v =
            convertValue(QString(e.text), typeOf(e, scope), *other, ConversionMode::Cast);
        return bind(v);
    }
    // Beside xml (ISNULL's replacement, COALESCE) a value becomes xml, well-formed or refused.
    if (isXml(other) && e.kind == Expr::String)
        return bind(convertValue(QString(e.text), typeOf(e, scope), *other, ConversionMode::Cast));
    const QString sql = expr(e, scope);
    if (other && other->isDateTime())
        return textAsDate(sql, typeOf(e, scope), *other);
    if (const auto own = typeOf(e, scope); isXml(other) && own && !isXml(own))
        return u"tsql_cast(%1,%2,0,%3,0)"_s.arg(sql, literal(other->declText()),
                                                literal(own->declText()));
    return sql;
}

// Text becomes a date when the statement runs, so that the DATEFORMAT then in force reads it;
// afterwards it is in the storage form, which compares and converts alike under every order.
QString Translator::textAsDate(const QString& valueSql, const std::optional<TypeInfo>& source,
                               const TypeInfo& target)
{
    if (!target.isDateTime() || !source || !source->isString())
        return valueSql;
    return u"tsql_cast(%1,%2,0,%3,0)"_s.arg(valueSql, literal(target.declText()),
                                            literal(source->declText()));
}

QString Translator::compareSql(const Expr& e, Scope* scope)
{
    const auto ta = typeOf(*e.args[0], scope);
    const auto tb = typeOf(*e.args[1], scope);
    refuseLegacyLobComparison(ta, tb, e.text);
    QString a = operandForType(*e.args[0], tb, scope);
    QString b = operandForType(*e.args[1], ta, scope);
    if (ta && tb && ta->isDateTime() && tb->isDateTime()) {
        // Two date types meet in the one of higher precedence, at its finest: datetime's
        // 1/300 second stays exact in datetime2 (from compatibility level 130 on), so a
        // datetime of .003 equals no datetime2 of .003. datetimeoffset compares by the UTC
        // instant, which its storage form begins with.
        if (ta->base != tb->base) {
            const bool left = temporalRank(ta->base) < temporalRank(tb->base);
            TypeInfo to = left ? *tb : *ta;
            if (isPreciseTemporal(to.base) && to.base != BaseType::Date)
                to.scale = 7;
            QString& lower = left ? a : b;
            lower = u"tsql_cast(%1,%2,0,%3,0)"_s.arg(lower, literal(to.declText()),
                                                     literal((left ? ta : tb)->declText()));
        }
    }
    if ((ta && ta->base == BaseType::DateTimeOffset) ||
        (tb && tb->base == BaseType::DateTimeOffset))
        return u"(substr(%1,1,27) %2 substr(%3,1,27))"_s.arg(a, e.text, b);
    if (ta && tb && ta->isDateTime() && tb->isDateTime())
        return u"(%1 %2 %3)"_s.arg(a, e.text, b);
    // An explicit COLLATE on either side decides; otherwise the server's collation.
    const bool plain = (ta && (ta->isNumeric() || ta->isBinary())) ||
                       (tb && (tb->isNumeric() || tb->isBinary())) ||
                       !e.args[0]->collation.isEmpty() || !e.args[1]->collation.isEmpty();
    return u"(%1 %2 %3%4)"_s.arg(a, e.text, b, plain ? QString() : u" COLLATE TSQL"_s);
}

QString Translator::argsSql(const Expr& e, Scope* scope, size_t from)
{
    QStringList out;
    for (size_t i = from; i < e.args.size(); ++i)
        out << expr(*e.args[i], scope);
    return out.join(u',');
}

QString Translator::castSql(const ExprPtr& value, const TypeInfo& target, const QString& style,
                            bool tryCast, Scope* scope)
{
    const auto source = typeOf(*value, scope);
    return u"tsql_cast(%1,%2,%3,%4,%5)"_s.arg(
        expr(*value, scope), literal(target.declText()), style.isEmpty() ? u"0"_s : style,
        source ? literal(source->declText()) : u"NULL"_s, tryCast ? u"1"_s : u"0"_s);
}

QString Translator::expr(const Expr& e, Scope* scope)
{
    if (!e.collation.isEmpty()) {
        Expr bare = e;
        bare.collation.clear();
        return u'(' + expr(bare, scope) + u" COLLATE "_s + sqliteCollation(e.collation) + u')';
    }
    switch (e.kind) {
    case Expr::Null:
        return u"NULL"_s;
    case Expr::Default:
        fail(102, u"Incorrect syntax near the keyword 'DEFAULT'."_s);
    case Expr::Star:
        return u"*"_s;
    case Expr::Integer: {
        bool ok = false;
        e.text.toLongLong(&ok);
        return ok ? e.text : literal(e.text);
    }
    case Expr::Decimal: {
        QString digits = e.text;
        digits.remove(u'-').remove(u'.');
        while (digits.startsWith(u'0'))
            digits.remove(0, 1);
        if (digits.size() > 15)
            return literal(e.text);
        return e.text.startsWith(u'.')      ? u"0"_s + e.text
               : e.text.startsWith(u"-."_s) ? u"-0"_s + e.text.mid(1)
               : e.text.endsWith(u'.')      ? e.text + u'0'
                                            : e.text;
    }
    case Expr::Float:
        return e.text;
    case Expr::String:
        return literal(e.text);
    case Expr::Binary: {
        QString hex = e.text;
        if (hex.size() % 2)
            hex.prepend(u'0');
        return u"X'"_s + hex + u'\'';
    }
    case Expr::Column: {
        QStringList parts = e.parts;
        // db.schema.table.column and schema.table.column: the table name is enough here.
        while (parts.size() > 2)
            parts.removeFirst();
        QStringList q;
        for (const QString& p : parts)
            q << quote(p);
        return q.join(u'.');
    }
    case Expr::Variable: {
        const Variable* v = m_host.variable(e.text);
        if (!v)
            fail(137, u"Must declare the scalar variable \"%1\"."_s.arg(e.text));
        return bind(sqliteOperand(v->value, v->type));
    }
    case Expr::SysVariable:
        return bind(m_host.systemVariable(e.text).value);
    case Expr::Unary:
        if (e.text == u"~")
            return u"(~%1)"_s.arg(expr(*e.args[0], scope));
        return u"(-%1)"_s.arg(expr(*e.args[0], scope));
    case Expr::BinaryOp: {
        const auto ta = typeOf(*e.args[0], scope);
        const auto tb = typeOf(*e.args[1], scope);
        const QString a = expr(*e.args[0], scope);
        const QString b = expr(*e.args[1], scope);
        const QString& op = e.text;
        // Numbers add to datetime and smalldatetime only; the other date types refuse them
        // as they refuse the conversion (learn.microsoft.com "CAST and CONVERT", chart).
        for (const auto& [date, number] : {std::pair{ta, tb}, std::pair{tb, ta}})
            if (date && isPreciseTemporal(date->base) && number && number->isNumeric())
                fail(206, u"Operand type clash: %1 is incompatible with %2"_s.arg(
                              date->baseName(), number->baseName()));
        if ((op == u"+" || op == u"-") && ta && ta->isDateTime() && tb && tb->isNumeric()) {
            return u"tsql_dateadd('ms',(%1)*86400000.0*%2,%3,%4)"_s.arg(
                b, op == u"-" ? u"-1"_s : u"1"_s, a, literal(ta->declText()));
        }
        // A string meets a number: the string converts to the number's type, with SQL
        // Server's error when it cannot.
        if (ta && tb && ta->isString() != tb->isString() && (ta->isNumeric() || tb->isNumeric()) &&
            (ta->isString() || tb->isString())) {
            const bool leftIsText = ta->isString();
            const TypeInfo& target = leftIsText ? *tb : *ta;
            const QString converted =
                u"tsql_cast(%1,%2,0,%3,0)"_s.arg(leftIsText ? a : b, literal(target.declText()),
                                                 literal((leftIsText ? ta : tb)->declText()));
            const QString l = leftIsText ? converted : a;
            const QString r = leftIsText ? b : converted;
            if (op == u"/")
                return u"tsql_div(%1,%2)"_s.arg(l, r);
            if (op == u"%")
                return u"tsql_mod(%1,%2)"_s.arg(l, r);
            if (op == u"^")
                return u"((%1 | %2) - (%1 & %2))"_s.arg(l, r);
            return u"(%1 %2 %3)"_s.arg(l, op, r);
        }
        if (op == u"+") {
            if (ta && tb && ta->isNumeric() && tb->isNumeric())
                return u"(%1 + %2)"_s.arg(a, b);
            if (ta && tb && ta->isString() && tb->isString())
                return u"(%1 || %2)"_s.arg(a, b);
            return u"tsql_add(%1,%2)"_s.arg(a, b);
        }
        if (op == u"/")
            return u"tsql_div(%1,%2)"_s.arg(a, b);
        if (op == u"%")
            return u"tsql_mod(%1,%2)"_s.arg(a, b);
        if (op == u"^")
            return u"((%1 | %2) - (%1 & %2))"_s.arg(a, b);
        return u"(%1 %2 %3)"_s.arg(a, op, b);
    }
    case Expr::Compare:
        return compareSql(e, scope);
    case Expr::And:
        return u"(%1 AND %2)"_s.arg(expr(*e.args[0], scope), expr(*e.args[1], scope));
    case Expr::Or:
        return u"(%1 OR %2)"_s.arg(expr(*e.args[0], scope), expr(*e.args[1], scope));
    case Expr::Not:
        return u"(NOT %1)"_s.arg(expr(*e.args[0], scope));
    case Expr::IsNull:
        return u"(%1 IS %2NULL)"_s.arg(expr(*e.args[0], scope), e.negated ? u"NOT "_s : QString());
    case Expr::Like: {
        for (size_t i = 0; i < 2 && i < e.args.size(); ++i)
            if (isXml(typeOf(*e.args[i], scope)))
                fail(8116,
                     u"Argument data type xml is invalid for argument %1 of like function."_s.arg(
                         i + 1));
        QString out = u"(%1 %2LIKE %3"_s.arg(
            expr(*e.args[0], scope), e.negated ? u"NOT "_s : QString(), expr(*e.args[1], scope));
        if (e.args.size() > 2)
            out += u" ESCAPE "_s + expr(*e.args[2], scope);
        return out + u')';
    }
    case Expr::Between: {
        const auto t = typeOf(*e.args[0], scope);
        refuseLegacyLobComparison(t, typeOf(*e.args[1], scope), u">="_s);
        refuseLegacyLobComparison(t, typeOf(*e.args[2], scope), u"<="_s);
        const bool numeric = t && (t->isNumeric() || t->isBinary());
        return u"(%1%2 %3BETWEEN %4 AND %5)"_s.arg(
            expr(*e.args[0], scope), numeric ? QString() : u" COLLATE TSQL"_s,
            e.negated ? u"NOT "_s : QString(), operandForType(*e.args[1], t, scope),
            operandForType(*e.args[2], t, scope));
    }
    case Expr::InList: {
        const auto t = typeOf(*e.args[0], scope);
        // IN is a chain of = (NOT IN of <>) to SQL Server.
        for (size_t i = 1; i < e.args.size(); ++i)
            refuseLegacyLobComparison(t, typeOf(*e.args[i], scope), e.negated ? u"<>"_s : u"="_s);
        const bool numeric = t && (t->isNumeric() || t->isBinary());
        QStringList items;
        for (size_t i = 1; i < e.args.size(); ++i)
            items << operandForType(*e.args[i], t, scope);
        return u"(%1%2 %3IN (%4))"_s.arg(expr(*e.args[0], scope),
                                         numeric ? QString() : u" COLLATE TSQL"_s,
                                         e.negated ? u"NOT "_s : QString(), items.join(u", "_s));
    }
    case Expr::InSelect: {
        Expr first;
        first.kind = Expr::Subquery;
        first.select = e.select;
        refuseLegacyLobComparison(typeOf(*e.args[0], scope), typeOf(first, scope),
                                  e.negated ? u"<>"_s : u"="_s);
        return u"(%1 %2IN (%3))"_s.arg(expr(*e.args[0], scope), e.negated ? u"NOT "_s : QString(),
                                       selectSql(*e.select, scope, false));
    }
    case Expr::Exists:
        return u"(EXISTS (%1))"_s.arg(selectSql(*e.select, scope, false));
    case Expr::Subquery: {
        // SQLite takes the first row of a scalar subquery; SQL Server refuses a second one.
        const bool single = e.select->items.size() == 1 && !e.select->items[0].star &&
                            e.select->items[0].assignVar.isEmpty();
        if (!single)
            return u"(%1)"_s.arg(selectSql(*e.select, scope, false));
        m_firstItemAlias = u"__sqlsim_v"_s;
        const QString inner = selectSql(*e.select, scope, false);
        return u"(SELECT tsql_single(\"__sqlsim_v\") FROM (%1))"_s.arg(inner);
    }
    case Expr::Case: {
        QString out = u"(CASE"_s;
        size_t i = 0;
        const size_t end = e.hasElse ? e.args.size() - 1 : e.args.size();
        if (e.hasOperand) {
            const auto operand = typeOf(*e.args[0], scope);
            for (size_t w = 1; w + 1 < end; w += 2)
                refuseLegacyLobComparison(operand, typeOf(*e.args[w], scope), u"="_s);
            out += u' ' + expr(*e.args[0], scope);
            i = 1;
        }
        for (; i + 1 < end; i += 2) {
            out +=
                u" WHEN "_s + expr(*e.args[i], scope) + u" THEN "_s + expr(*e.args[i + 1], scope);
        }
        if (e.hasElse)
            out += u" ELSE "_s + expr(*e.args.back(), scope);
        return out + u" END)"_s;
    }
    case Expr::Cast: {
        QString style;
        if (e.args.size() > 1)
            style = expr(*e.args[1], scope);
        return castSql(e.args[0], e.castType, style, e.tryCast, scope);
    }
    case Expr::Function:
        return functionSql(e, scope);
    }
    return u"NULL"_s;
}

QString Translator::functionSql(const Expr& e, Scope* scope)
{
    const QString& f = e.text;
    const size_t n = e.args.size();
    auto need = [&](size_t min, size_t max) {
        if (n < min || n > max) {
            if (n < min)
                fail(174, u"The %1 function requires %2 argument(s)."_s.arg(f).arg(min));
            fail(174, u"The %1 function requires %2 argument(s)."_s.arg(f).arg(max));
        }
    };
    auto a = [&](size_t i) {
        return expr(*e.args[i], scope);
    };
    QString over;
    if (e.hasOver) {
        QStringList parts;
        if (!e.partitionBy.empty()) {
            QStringList p;
            for (const auto& x : e.partitionBy)
                p << expr(*x, scope);
            parts << u"PARTITION BY "_s + p.join(u", "_s);
        }
        if (!e.overOrder.empty()) {
            QStringList o;
            for (const auto& x : e.overOrder)
                o << expr(*x.expr, scope) + (x.desc ? u" DESC"_s : QString());
            parts << u"ORDER BY "_s + o.join(u", "_s);
        }
        over = u" OVER ("_s + parts.join(u' ') + u')';
    }
    const QString distinct = e.distinct ? u"DISTINCT "_s : QString();

    // Aggregates and window functions.
    if (f == u"count" || f == u"count_big") {
        need(1, 1);
        return u"count("_s + distinct + a(0) + u')' + over;
    }
    if (f == u"sum" || f == u"min" || f == u"max" || f == u"avg") {
        // Only ISNULL, COALESCE and DATALENGTH take xml among the built-in functions
        // (learn.microsoft.com "xml (Transact-SQL)"); aggregates refuse it as an operand.
        if (n == 1 && isXml(typeOf(*e.args[0], scope)))
            fail(8117, u"Operand data type xml is invalid for %1 operator."_s.arg(f));
    }
    if (f != u"isnull" && f != u"coalesce" && f != u"datalength" && f != u"count" &&
        f != u"count_big" && f != u"iif") {
        for (size_t i = 0; i < e.args.size(); ++i)
            if (isXml(typeOf(*e.args[i], scope)) && f != u"sum" && f != u"min" && f != u"max" &&
                f != u"avg")
                fail(8116, u"Argument data type xml is invalid for argument %1 of %2 function."_s
                               .arg(i + 1)
                               .arg(f));
    }
    if (f == u"sum" || f == u"min" || f == u"max") {
        need(1, 1);
        return f + u'(' + distinct + a(0) + u')' + over;
    }
    if (f == u"avg") {
        need(1, 1);
        const auto t = typeOf(*e.args[0], scope);
        if (t && t->isInteger())
            return u"CAST(avg("_s + distinct + a(0) + u')' + over + u" AS INTEGER)"_s;
        return u"avg("_s + distinct + a(0) + u')' + over;
    }
    if (f == u"row_number" || f == u"rank" || f == u"dense_rank" || f == u"ntile" || f == u"lag" ||
        f == u"lead" || f == u"first_value" || f == u"last_value") {
        if (!e.hasOver)
            fail(10753, u"The function '%1' must have an OVER clause."_s.arg(f));
        return f + u'(' + argsSql(e, scope) + u')' + over;
    }
    if (f == u"stdev" || f == u"var" || f == u"string_agg" || f == u"checksum_agg")
        fail(40000, u"sqlsim does not support the function '%1'."_s.arg(f));

    // Scalar functions.
    if (f == u"isnull") {
        need(2, 2);
        const auto t = typeOf(*e.args[0], scope);
        return u"coalesce(%1,%2)"_s.arg(a(0), operandForType(*e.args[1], t, scope));
    }
    if (f == u"coalesce") {
        if (n < 2)
            fail(189, u"The coalesce function requires 2 to 254 arguments."_s);
        return u"coalesce("_s + argsSql(e, scope) + u')';
    }
    if (f == u"nullif") {
        need(2, 2);
        return u"nullif(%1,%2)"_s.arg(a(0), a(1));
    }
    if (f == u"iif") {
        need(3, 3);
        return u"(CASE WHEN %1 THEN %2 ELSE %3 END)"_s.arg(a(0), a(1), a(2));
    }
    if (f == u"getdate" || f == u"getutcdate" || f == u"current_timestamp") {
        need(0, 0);
        return u"tsql_getdate(%1)"_s.arg(f.contains(u"utc"_s) ? 1 : 0);
    }
    // datetime2(7) and datetimeoffset(7) of the server's clock (learn.microsoft.com
    // "SYSDATETIME", "SYSUTCDATETIME", "SYSDATETIMEOFFSET (Transact-SQL)").
    if (f == u"sysdatetime" || f == u"sysutcdatetime" || f == u"sysdatetimeoffset") {
        need(0, 0);
        return u"tsql_sysdatetime(%1)"_s.arg(f == u"sysutcdatetime"      ? 1
                                             : f == u"sysdatetimeoffset" ? 2
                                                                         : 0);
    }
    if (f == u"len" || f == u"datalength") {
        need(1, 1);
        const auto t = typeOf(*e.args[0], scope);
        return u"tsql_%1(%2,%3)"_s.arg(f, a(0), t && t->isUnicode() ? u"1"_s : u"0"_s);
    }
    if (f == u"upper" || f == u"lower" || f == u"reverse" || f == u"ascii" || f == u"isnumeric" ||
        f == u"space" || f == u"quotename" || f == u"soundex") {
        need(1, f == u"quotename" ? 2 : 1);
        return u"tsql_%1(%2)"_s.arg(f, argsSql(e, scope));
    }
    if (f == u"isdate") {
        need(1, 1);
        return u"tsql_isdate(%1)"_s.arg(a(0));
    }
    if (f == u"unicode") {
        need(1, 1);
        return u"unicode(%1)"_s.arg(a(0));
    }
    if (f == u"char" || f == u"nchar") {
        need(1, 1);
        return u"tsql_char(%1)"_s.arg(a(0));
    }
    if (f == u"ltrim" || f == u"rtrim") {
        need(1, 1);
        return u"%1(%2,' ')"_s.arg(f, a(0));
    }
    if (f == u"trim") {
        need(1, 1);
        return u"trim(%1,' ')"_s.arg(a(0));
    }
    if (f == u"substring") {
        need(3, 3);
        return u"tsql_substring(%1,%2,%3)"_s.arg(a(0), a(1), a(2));
    }
    if (f == u"left" || f == u"right") {
        need(2, 2);
        return u"tsql_%1(%2,%3)"_s.arg(f, a(0), a(1));
    }
    if (f == u"replicate") {
        // The result is cut to its type's length: 8,000 bytes unless the string is (max).
        need(2, 2);
        const auto type = typeOf(e, scope);
        const int limit = !type || type->length == ColumnType::max ? -1 : type->length;
        return u"tsql_replicate(%1,%2,%3)"_s.arg(a(0), a(1)).arg(limit);
    }
    if (f == u"charindex" || f == u"patindex") {
        need(2, f == u"charindex" ? 3 : 2);
        return u"tsql_%1(%2)"_s.arg(f, argsSql(e, scope));
    }
    if (f == u"replace") {
        need(3, 3);
        return u"tsql_replace(%1,%2,%3)"_s.arg(a(0), a(1), a(2));
    }
    if (f == u"stuff") {
        need(4, 4);
        return u"tsql_stuff(%1,%2,%3,%4)"_s.arg(a(0), a(1), a(2), a(3));
    }
    if (f == u"concat") {
        if (n < 2)
            fail(189, u"The concat function requires 2 to 254 arguments."_s);
        return u"tsql_concat("_s + argsSql(e, scope) + u')';
    }
    if (f == u"str") {
        need(1, 3);
        return u"tsql_str("_s + argsSql(e, scope) + u')';
    }
    if (f == u"abs" || f == u"floor" || f == u"sqrt" || f == u"exp" || f == u"log10" ||
        f == u"sin" || f == u"cos" || f == u"tan" || f == u"asin" || f == u"acos" || f == u"atan" ||
        f == u"degrees" || f == u"radians" || f == u"sign") {
        need(1, 1);
        return f + u'(' + a(0) + u')';
    }
    if (f == u"ceiling") {
        need(1, 1);
        return u"ceil("_s + a(0) + u')';
    }
    if (f == u"log") {
        need(1, 2);
        return n == 2 ? u"log(%2,%1)"_s.arg(a(0), a(1)) : u"ln("_s + a(0) + u')';
    }
    if (f == u"square") {
        need(1, 1);
        return u"(%1 * %1)"_s.arg(a(0));
    }
    if (f == u"power") {
        need(2, 2);
        return u"pow(%1,%2)"_s.arg(a(0), a(1));
    }
    if (f == u"pi") {
        need(0, 0);
        return u"pi()"_s;
    }
    if (f == u"rand") {
        need(0, 1);
        return u"tsql_rand()"_s;
    }
    if (f == u"round") {
        need(2, 3);
        return u"tsql_round("_s + argsSql(e, scope) + u')';
    }
    if (f == u"newid") {
        need(0, 0);
        return u"tsql_newid()"_s;
    }
    // DATEPART, DATENAME, DATEDIFF (and YEAR, MONTH, DAY, which answer as DATEPART does) read
    // text as datetime2, DATEADD as datetime: only DATEADD knows the order ydm.
    // https://learn.microsoft.com/sql/t-sql/functions/datepart-transact-sql#remarks
    // https://learn.microsoft.com/sql/t-sql/functions/datediff-transact-sql#remarks
    // https://learn.microsoft.com/sql/t-sql/functions/dateadd-transact-sql#arguments
    const TypeInfo textDate = TypeInfo::of(BaseType::DateTime2, 0, 0, 7);
    if (f == u"year" || f == u"month" || f == u"day") {
        need(1, 1);
        const auto t = typeOf(*e.args[0], scope);
        return u"tsql_datepart('%1',%2,%3)"_s.arg(f, operandForType(*e.args[0], textDate, scope),
                                                  t ? literal(t->declText()) : u"NULL"_s);
    }
    if (f == u"datepart" || f == u"datename") {
        need(2, 2);
        const auto t = typeOf(*e.args[1], scope);
        return u"tsql_%1(%2,%3,%4)"_s.arg(f, a(0), operandForType(*e.args[1], textDate, scope),
                                          t ? literal(t->declText()) : u"NULL"_s);
    }
    if (f == u"dateadd") {
        need(3, 3);
        const auto t = typeOf(*e.args[2], scope);
        return u"tsql_dateadd(%1,%2,%3,%4)"_s.arg(
            a(0), a(1), operandForType(*e.args[2], TypeInfo::of(BaseType::DateTime), scope),
            t ? literal(t->declText()) : u"NULL"_s);
    }
    if (f == u"datediff" || f == u"datediff_big") {
        need(3, 3);
        return u"tsql_datediff(%1,%2,%3)"_s.arg(a(0), operandForType(*e.args[1], textDate, scope),
                                                operandForType(*e.args[2], textDate, scope));
    }
    if (f == u"object_id" || f == u"object_name" || f == u"db_id" || f == u"db_name" ||
        f == u"serverproperty" || f == u"databasepropertyex" || f == u"ident_current" ||
        f == u"has_dbaccess" || f == u"col_length" || f == u"schema_name" || f == u"user_id" ||
        f == u"suser_sid" || f == u"is_srvrolemember" || f == u"is_member" ||
        f == u"objectproperty" || f == u"collationproperty" || f == u"fileproperty" ||
        f == u"has_perms_by_name" || f == u"loginproperty" || (f == u"suser_sname" && n == 1)) {
        if (f == u"collationproperty" || f == u"fileproperty" || f == u"loginproperty")
            need(2, 2);
        if (f == u"has_perms_by_name")
            need(3, 5);
        if (f == u"db_name" && n == 0)
            return bind(m_host.currentDatabase());
        if (f == u"schema_name" && n == 0)
            return literal(u"dbo"_s);
        QStringList args;
        for (size_t i = 0; i < n; ++i)
            args << a(i);
        return u"tsql_%1(%2)"_s.arg(f, args.join(u','));
    }
    if (f == u"suser_sname" || f == u"suser_name" || f == u"user_name" || f == u"host_name" ||
        f == u"app_name" || f == u"original_login" || f == u"system_user" || f == u"current_user" ||
        f == u"session_user") {
        if (n > 0 && f != u"user_name" && f != u"suser_sname")
            fail(174, u"The %1 function requires 0 argument(s)."_s.arg(f));
        return bind(m_host.constantFunction(f));
    }
    if (f == u"scope_identity" || f == u"@@identity") {
        need(0, 0);
        return bind(m_host.systemVariable(u"@@identity"_s).value);
    }
    if (f == u"error_message" || f == u"error_number" || f == u"error_severity" ||
        f == u"error_state" || f == u"error_line" || f == u"error_procedure")
        return u"NULL"_s;
    if (f == u"identity")
        fail(177, u"The IDENTITY function can only be used when the SELECT statement has an INTO "
                  "clause."_s);
    fail(195, u"'%1' is not a recognized built-in function name."_s.arg(f));
}

// ---- DDL pieces

QString Translator::defaultSql(const ExprPtr& e)
{
    reset();
    Scope scope;
    QString sql = expr(*e, &scope);
    // Defaults are stored in the schema: no bound parameters allowed.
    for (qsizetype i = m_out.binds.size(); i >= 1; --i) {
        const Value& v = m_out.binds[i - 1];
        QString lit;
        if (isNull(v))
            lit = u"NULL"_s;
        else if (const auto* iv = std::get_if<qint64>(&v))
            lit = QString::number(*iv);
        else if (const auto* d = std::get_if<double>(&v))
            lit = QString::number(*d, 'g', 17);
        else if (const auto* b = std::get_if<QByteArray>(&v))
            lit = u"X'"_s + QString::fromLatin1(b->toHex()) + u'\'';
        else
            lit = literal(valueToText(v));
        sql.replace(u"?%1"_s.arg(i), lit);
    }
    return sql;
}

QString Translator::checkSql(const ExprPtr& e)
{
    return defaultSql(e);
}

QString Translator::columnSql(const ColumnDef& c, bool identityPrimaryKey)
{
    QString out = quote(c.name) + u' ';
    if (identityPrimaryKey) {
        // The rowid alias: SQLite wants exactly "INTEGER PRIMARY KEY".
        out += u"INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL"_s;
        return out;
    }
    out += c.type.storageDecl();
    const bool notNull = c.nullable.has_value() ? !*c.nullable : (c.primaryKey || c.identity);
    if (notNull)
        out += u" NOT NULL"_s;
    if (c.primaryKey)
        out += u" PRIMARY KEY"_s;
    else if (c.unique)
        out += u" UNIQUE"_s;
    if (c.type.isString())
        out += u" COLLATE "_s + (c.collation.isEmpty() ? u"TSQL"_s : sqliteCollation(c.collation));
    if (c.defaultExpr) {
        const QString d = defaultSql(c.defaultExpr);
        // Defaults of fixed-length text are padded when read back, like stored values.
        out += u" DEFAULT ("_s + d + u')';
    }
    if (c.check)
        out += u" CHECK ("_s + checkSql(c.check) + u')';
    if (!c.references.empty()) {
        out += u" REFERENCES "_s + quote(c.references.name);
        if (!c.referencesColumn.isEmpty())
            out += u'(' + quote(c.referencesColumn) + u')';
        out += c.referentialActions;
    }
    return out;
}

} // namespace sqlsim
