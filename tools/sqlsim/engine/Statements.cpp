#include "ServerFiles.h"
#include "SessionImpl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool reservedTable(const QString& name)
{
    const QString n = name.toLower();
    return isInternalTable(n) || n == u"sysobjects" || n == u"sysdatabases";
}

TypeInfo inferType(const QList<QList<Value>>& rows, int column)
{
    bool anyInt = false, anyReal = false, anyText = false, anyBlob = false, wide = false;
    qsizetype maxLen = 0;
    for (const auto& r : rows) {
        const Value& v = r[column];
        if (const auto* i = std::get_if<qint64>(&v)) {
            anyInt = true;
            if (*i < std::numeric_limits<qint32>::min() || *i > std::numeric_limits<qint32>::max())
                wide = true;
        } else if (std::holds_alternative<double>(v)) {
            anyReal = true;
        } else if (const auto* s = std::get_if<QString>(&v)) {
            anyText = true;
            maxLen = std::max(maxLen, s->size());
        } else if (std::holds_alternative<QByteArray>(v)) {
            anyBlob = true;
        }
    }
    if (anyBlob)
        return TypeInfo::of(BaseType::VarBinary, ColumnType::max);
    if (anyText)
        return TypeInfo::of(BaseType::NVarChar, maxLen > 4000 ? int(ColumnType::max) : 4000);
    if (anyReal)
        return TypeInfo::of(BaseType::Float);
    if (anyInt)
        return TypeInfo::of(wide ? BaseType::BigInt : BaseType::Int);
    return TypeInfo::of(BaseType::Int);
}

} // namespace

// ---- DML

void SessionImpl::runSelect(const Stmt& s, Frame& frame)
{
    if (s.select->into) {
        runSelectInto(s, frame);
        return;
    }
    Translator tr(*this);
    const Translation t = tr.select(*s.select);
    StatementGuard g;
    g.st = prepare(t.sql, &t);
    bindAll(g.st, t.binds);
    if (!t.assignments.isEmpty()) {
        qint64 rows = 0;
        int rc;
        while ((rc = sqlite3_step(g.st)) == SQLITE_ROW) {
            ++rows;
            for (qsizetype i = 0; i < t.assignments.size(); ++i) {
                assign(frame, t.assignments[i], columnValue(g.st, int(i)), t.assignTypes.value(i),
                       t.assignOps[i]);
            }
            if ((rows & 255) == 0)
                checkCancel();
        }
        if (rc != SQLITE_DONE)
            throw sqliteError(rc, &t);
        m_rowcount = rows;
        done(frame, countOf(rows));
        return;
    }
    streamResult(g.st, t, frame);
}

void SessionImpl::streamResult(sqlite3_stmt* st, const Translation& t, Frame& frame)
{
    const int n = sqlite3_column_count(st);
    QList<Column> columns;
    QList<std::optional<TypeInfo>> types;
    bool unknown = false;
    for (int i = 0; i < n; ++i) {
        const QString name = QString::fromUtf8(sqlite3_column_name(st, i));
        const char* decl = sqlite3_column_decltype(st, i);
        std::optional<TypeInfo> type;
        if (decl)
            type = typeFromDecl(QString::fromUtf8(decl));
        if (!type) {
            const auto it = t.hints.find(name.toLower());
            if (it != t.hints.end())
                type = *it;
        }
        if (!type)
            unknown = true;
        Column c;
        c.name = t.unnamed.contains(name.toLower()) ? QString() : name;
        columns << c;
        types << type;
    }
    qint64 rows = 0;
    int rc = SQLITE_ROW;
    if (unknown) {
        // Types come from the values: read everything first.
        QList<QList<Value>> buffer;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            QList<Value> r;
            r.reserve(n);
            for (int i = 0; i < n; ++i)
                r << columnValue(st, i);
            buffer << r;
            if ((buffer.size() & 255) == 0)
                checkCancel();
        }
        if (rc != SQLITE_DONE)
            throw sqliteError(rc, &t);
        for (int i = 0; i < n; ++i)
            if (!types[i])
                types[i] = inferType(buffer, i);
        for (int i = 0; i < n; ++i)
            columns[i].type = types[i]->columnType();
        m_reply->columns(columns);
        for (const QList<Value>& raw : buffer) {
            QList<Value> r;
            r.reserve(n);
            for (int i = 0; i < n; ++i)
                r << wireValue(raw[i], *types[i]);
            m_reply->row(r);
            if ((++rows & 255) == 0)
                checkCancel();
        }
    } else {
        for (int i = 0; i < n; ++i)
            columns[i].type = types[i]->columnType();
        bool sentColumns = false;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            if (!sentColumns) {
                m_reply->columns(columns);
                sentColumns = true;
            }
            QList<Value> r;
            r.reserve(n);
            for (int i = 0; i < n; ++i)
                r << wireValue(columnValue(st, i), *types[i]);
            m_reply->row(r);
            if ((++rows & 255) == 0)
                checkCancel();
        }
        if (rc != SQLITE_DONE) {
            const SqlError e = sqliteError(rc, &t);
            if (sentColumns) {
                // The result set has begun: end it before the error.
                m_rowcount = rows;
            }
            throw e;
        }
        if (!sentColumns)
            m_reply->columns(columns);
    }
    m_rowcount = rows;
    done(frame, countOf(rows));
}

void SessionImpl::runInsert(const Stmt& s, Frame& frame)
{
    Translator tr(*this);
    const Translation t = tr.insert(s);
    const qint64 rows = limitedWrite(t.target, [&] { return execute(t, u"INSERT"_s); });
    if (t.targetHasIdentity && rows > 0) {
        m_identity = sqlite3_last_insert_rowid(m_db);
        m_hasIdentity = true;
    }
    m_rowcount = rows;
    done(frame, countOf(rows));
}

void SessionImpl::runUpdateDelete(const Stmt& s, Frame& frame)
{
    Translator tr(*this);
    const Translation t = s.kind == Stmt::Update ? tr.update(s) : tr.remove(s);
    const QString what = s.kind == Stmt::Update ? u"UPDATE"_s : u"DELETE"_s;
    const qint64 rows = limitedWrite(t.target, [&] { return execute(t, what); });
    m_rowcount = rows;
    done(frame, countOf(rows));
}

void SessionImpl::runSelectInto(const Stmt& s, Frame& frame)
{
    Select query = *s.select;
    const ObjectName target = *query.into;
    query.into.reset();
    Translator tr(*this);
    const ResolvedTable r = tr.resolveTable(target);
    if (!tableColumns(r.schema, r.table).isEmpty() ||
        scalarQuery(u"SELECT 1 FROM "_s + Translator::quote(r.schema) +
                        u".sqlite_master WHERE name = ?1 COLLATE NOCASE"_s,
                    {r.table}))
        throw SqlError(
            2714, u"There is already an object named '%1' in the database."_s.arg(target.name));
    Translator qt(*this);
    const Translation t = qt.select(query);
    if (!t.assignments.isEmpty())
        throw SqlError(141, u"A SELECT statement that assigns a value to a variable must not be "
                            "combined with data-retrieval operations."_s);
    QStringList columns;
    {
        sqlite3_stmt* st = prepare(t.sql, &t);
        const int n = sqlite3_column_count(st);
        QSet<QString> seen;
        for (int i = 0; i < n; ++i) {
            const QString name = QString::fromUtf8(sqlite3_column_name(st, i));
            if (t.unnamed.contains(name.toLower())) {
                sqlite3_finalize(st);
                throw SqlError(1038, u"An object or column name is missing or empty. For SELECT "
                                     "INTO statements, verify each column has a name. For other "
                                     "statements, look for empty alias names. Aliases defined as "
                                     "\"\" or [] are not allowed. Change the alias to a valid "
                                     "name."_s);
            }
            if (seen.contains(name.toLower())) {
                sqlite3_finalize(st);
                throw SqlError(2705, u"Column names in each table must be unique. Column name "
                                     "'%1' in table '%2' is specified more than once."_s.arg(
                                         name, target.name));
            }
            seen.insert(name.toLower());
            const char* decl = sqlite3_column_decltype(st, i);
            std::optional<TypeInfo> type;
            if (decl)
                type = typeFromDecl(QString::fromUtf8(decl));
            if (!type && t.hints.contains(name.toLower()))
                type = t.hints.value(name.toLower());
            QString col = Translator::quote(name);
            if (type) {
                col += u' ' + type->storageDecl();
                if (type->isString())
                    col += u" COLLATE TSQL"_s;
            }
            columns << col;
        }
        sqlite3_finalize(st);
    }
    qint64 rows = 0;
    atomically([&] {
        execSql(u"CREATE TABLE "_s + r.sql + u" ("_s + columns.join(u", "_s) + u')');
        Translation insert = t;
        insert.sql = u"INSERT INTO "_s + r.sql + u' ' + t.sql;
        rows = execute(insert, u"INSERT"_s);
        if (r.schema != u"temp")
            execSql(catalog::sysobjectsInsert(Translator::quote(r.schema)), {r.table, u"U "_s});
    });
    m_rowcount = rows;
    done(frame, countOf(rows));
}

// ---- tables

void SessionImpl::runCreateTable(const Stmt& s, Frame& frame)
{
    Translator tr(*this);
    const ResolvedTable r = tr.resolveTable(s.table);
    const QString schema = Translator::quote(r.schema);
    if (scalarQuery(u"SELECT 1 FROM "_s + schema +
                        u".sqlite_master WHERE name = ?1 COLLATE NOCASE AND type IN ('table', "
                        "'view')"_s,
                    {r.table}) ||
        (r.schema != u"temp" &&
         scalarQuery(u"SELECT 1 FROM "_s + schema + u".sysobjects WHERE name = ?1 COLLATE TSQL"_s,
                     {r.table})) ||
        reservedTable(r.table))
        throw SqlError(
            2714, u"There is already an object named '%1' in the database."_s.arg(s.table.name));
    if (s.table.name.size() > 128)
        throw SqlError(103, u"The identifier that starts with '%1' is too long. Maximum length is "
                            "128."_s.arg(s.table.name.left(128)));

    std::vector<ColumnDef> cols = s.columnDefs;
    QSet<QString> seen;
    const ColumnDef* identity = nullptr;
    for (const ColumnDef& c : cols) {
        if (seen.contains(c.name.toLower()))
            throw SqlError(2705,
                           u"Column names in each table must be unique. Column name '%1' in "
                           "table '%2' is specified more than once."_s.arg(c.name, s.table.name));
        seen.insert(c.name.toLower());
        if (c.identity) {
            if (identity)
                throw SqlError(2744,
                               u"Multiple identity columns specified for table '%1'. Only "
                               "one identity column per table is allowed."_s.arg(s.table.name));
            if (!c.type.isInteger() && !(c.type.isExactNumeric() && c.type.scale == 0))
                throw SqlError(2749, u"Identity column '%1' must be of data type int, bigint, "
                                     "smallint, tinyint, or decimal or numeric with a scale of 0, "
                                     "and constrained to be nonnullable."_s.arg(c.name));
            if (c.identityIncrement != 1)
                throw SqlError(40000, u"sqlsim does not support IDENTITY increments other than 1 "
                                      "('%1')."_s.arg(c.name));
            identity = &c;
        }
    }
    // The identity column becomes SQLite's rowid; another primary key becomes a unique key.
    QString identityName = identity ? identity->name : QString();
    qint64 seed = identity ? identity->identitySeed : 1;
    QStringList parts;
    for (ColumnDef& c : cols) {
        const bool isIdentity = !identityName.isEmpty() && sameName(c.name, identityName);
        if (!isIdentity && c.primaryKey && !identityName.isEmpty()) {
            c.primaryKey = false;
            c.unique = true;
            if (!c.nullable.has_value())
                c.nullable = false;
        }
        parts << tr.columnSql(c, isIdentity);
    }
    for (const TableConstraint& k : s.constraints) {
        QStringList quoted;
        for (const QString& c : k.columns) {
            if (!seen.contains(c.toLower()))
                throw SqlError(1911, u"Column name '%1' does not exist in the target table or "
                                     "view."_s.arg(c));
            quoted << Translator::quote(c);
        }
        const QString prefix =
            k.name.isEmpty() ? QString() : u"CONSTRAINT "_s + Translator::quote(k.name) + u' ';
        switch (k.kind) {
        case TableConstraint::PrimaryKey:
            if (!identityName.isEmpty()) {
                if (k.columns.size() == 1 && sameName(k.columns[0], identityName))
                    break;
                parts << prefix + u"UNIQUE ("_s + quoted.join(u", "_s) + u')';
            } else {
                parts << prefix + u"PRIMARY KEY ("_s + quoted.join(u", "_s) + u')';
            }
            break;
        case TableConstraint::Unique:
            parts << prefix + u"UNIQUE ("_s + quoted.join(u", "_s) + u')';
            break;
        case TableConstraint::ForeignKey: {
            QStringList refs;
            for (const QString& c : k.referencesColumns)
                refs << Translator::quote(c);
            parts << prefix + u"FOREIGN KEY ("_s + quoted.join(u", "_s) + u") REFERENCES "_s +
                         Translator::quote(k.references.name) +
                         (refs.isEmpty() ? QString() : u" ("_s + refs.join(u", "_s) + u')') +
                         k.referentialActions;
            break;
        }
        case TableConstraint::Check:
            parts << prefix + u"CHECK ("_s + tr.checkSql(k.check) + u')';
            break;
        }
    }
    const QString sql = u"CREATE TABLE "_s + r.sql + u" ("_s + parts.join(u", "_s) + u')';
    const qint64 increment = identity ? identity->identityIncrement : 1;
    atomically([&] {
        execSql(sql);
        if (!identityName.isEmpty()) {
            // The seed is kept: TRUNCATE TABLE starts the numbers again from it.
            if (r.schema == u"temp")
                execSql(u"CREATE TABLE IF NOT EXISTS temp.sqlsim_identity (name TEXT NOT NULL "
                        "PRIMARY KEY COLLATE TSQL, seed INTEGER NOT NULL, increment INTEGER NOT "
                        "NULL)"_s);
            execSql(u"INSERT OR REPLACE INTO "_s + schema +
                        u".sqlsim_identity (name, seed, increment) VALUES (?1, ?2, ?3)"_s,
                    {r.table, seed, increment});
            if (seed != 1)
                execSql(u"INSERT INTO "_s + schema +
                            u".sqlite_sequence (name, seq) VALUES (?1, ?2)"_s,
                        {r.table, seed - 1});
        }
        if (r.schema != u"temp")
            execSql(catalog::sysobjectsInsert(schema), {r.table, u"U "_s});
    });
    done(frame, std::nullopt);
}

void SessionImpl::runDropTable(const Stmt& s, Frame& frame)
{
    for (const ObjectName& name : s.names) {
        Translator tr(*this);
        ResolvedTable r;
        try {
            r = tr.resolveTable(name);
        } catch (const SqlError&) {
            if (s.ifExists)
                continue;
            throw SqlError(3701, u"Cannot drop the table '%1', because it does not exist or you "
                                 "do not have permission."_s.arg(name.text));
        }
        const QString schema = Translator::quote(r.schema);
        const auto exists = scalarQuery(u"SELECT name FROM "_s + schema +
                                            u".sqlite_master WHERE type = 'table' AND name = ?1 "
                                            "COLLATE NOCASE"_s,
                                        {r.table});
        if (!exists || reservedTable(r.table)) {
            if (s.ifExists)
                continue;
            throw SqlError(3701, u"Cannot drop the table '%1', because it does not exist or you "
                                 "do not have permission."_s.arg(name.text));
        }
        const QString realName = valueToText(*exists);
        const bool hasIdentityTable = bool(scalarQuery(
            u"SELECT 1 FROM "_s + schema + u".sqlite_master WHERE name = 'sqlsim_identity'"_s));
        atomically([&] {
            execSql(u"DROP TABLE "_s + schema + u'.' + Translator::quote(realName));
            if (hasIdentityTable)
                execSql(u"DELETE FROM "_s + schema +
                            u".sqlsim_identity WHERE name = ?1 COLLATE TSQL"_s,
                        {realName});
            if (r.schema != u"temp")
                execSql(u"DELETE FROM "_s + schema +
                            u".sysobjects WHERE name = ?1 COLLATE TSQL AND type = 'U'"_s,
                        {realName});
        });
        m_identityInsert.remove((r.schema + u'.' + r.table).toLower());
    }
    done(frame, std::nullopt);
}

void SessionImpl::runAlterTable(const Stmt& s, Frame& frame)
{
    Translator tr(*this);
    const ResolvedTable r = tr.resolveTable(s.table);
    const QList<TableColumn> existing = tableColumns(r.schema, r.table);
    if (existing.isEmpty() || reservedTable(r.table))
        throw SqlError(4902, u"Cannot find the object \"%1\" because it does not exist or you do "
                             "not have permissions."_s.arg(s.table.text));
    if (s.alterAction == u"ADD") {
        const bool empty = !scalarQuery(u"SELECT 1 FROM "_s + r.sql + u" LIMIT 1"_s);
        QStringList statements;
        for (const ColumnDef& c : s.columnDefs) {
            if (std::any_of(existing.begin(), existing.end(),
                            [&](const TableColumn& e) { return sameName(e.name, c.name); }))
                throw SqlError(2705, u"Column names in each table must be unique. Column name "
                                     "'%1' in table '%2' is specified more than once."_s.arg(
                                         c.name, s.table.name));
            if (c.identity || c.primaryKey || c.unique)
                throw SqlError(40000, u"sqlsim does not support adding identity, primary key or "
                                      "unique columns with ALTER TABLE."_s);
            ColumnDef def = c;
            if (def.nullable.has_value() && !*def.nullable && !def.defaultExpr) {
                if (!empty)
                    throw SqlError(4901, u"ALTER TABLE only allows columns to be added that can "
                                         "contain nulls, or have a DEFAULT definition specified, "
                                         "or the column being added is an identity or timestamp "
                                         "column, or alternatively if none of the previous "
                                         "conditions are satisfied the table must be empty to "
                                         "allow addition of this column. Column '%1' cannot be "
                                         "added to non-empty table '%2' because it does not "
                                         "satisfy these conditions."_s.arg(c.name, s.table.name));
                // SQLite cannot add a NOT NULL column without a default even to an empty table.
                def.nullable = true;
            }
            statements << u"ALTER TABLE "_s + r.sql + u" ADD COLUMN "_s + tr.columnSql(def, false);
        }
        atomically([&] {
            for (const QString& sql : statements)
                execSql(sql);
        });
    } else if (s.alterAction == u"DROP COLUMN") {
        atomically([&] {
            for (const QString& c : s.columns) {
                if (std::none_of(existing.begin(), existing.end(),
                                 [&](const TableColumn& e) { return sameName(e.name, c); }))
                    throw SqlError(4924, u"ALTER TABLE DROP COLUMN failed because column '%1' does "
                                         "not exist in table '%2'."_s.arg(c, s.table.name));
                execSql(u"ALTER TABLE "_s + r.sql + u" DROP COLUMN "_s + Translator::quote(c));
            }
        });
    } else {
        throw SqlError(40000,
                       u"sqlsim does not support 'ALTER TABLE ... %1'."_s.arg(s.alterAction));
    }
    done(frame, std::nullopt);
}

void SessionImpl::runCreateIndex(const Stmt& s, Frame& frame)
{
    const auto [r, cols] = existingTable(s.table);
    const QString indexName = r.table + u'.' + s.indexName;
    const QString schema = Translator::quote(r.schema);
    if (scalarQuery(u"SELECT 1 FROM "_s + schema +
                        u".sqlite_master WHERE type = 'index' AND name = ?1 COLLATE NOCASE"_s,
                    {indexName}))
        throw SqlError(1913, u"The operation failed because an index or statistics with name '%1' "
                             "already exists on table '%2'."_s.arg(s.indexName, s.table.text));
    QStringList columns;
    for (QString c : s.columns) {
        const bool desc = c.endsWith(u" DESC"_s);
        if (desc)
            c.chop(5);
        if (std::none_of(cols.begin(), cols.end(),
                         [&](const TableColumn& e) { return sameName(e.name, c); }))
            throw SqlError(
                1911, u"Column name '%1' does not exist in the target table or view."_s.arg(c));
        columns << Translator::quote(c) + (desc ? u" DESC"_s : QString());
    }
    ensureWriteTransaction();
    execSql(u"CREATE "_s + (s.unique ? u"UNIQUE "_s : QString()) + u"INDEX "_s + schema + u'.' +
            Translator::quote(indexName) + u" ON "_s + Translator::quote(r.table) + u" ("_s +
            columns.join(u", "_s) + u')');
    done(frame, std::nullopt);
}

void SessionImpl::runDropIndex(const Stmt& s, Frame& frame)
{
    for (const ObjectName& n : s.names) {
        ObjectName table = s.table;
        if (table.empty()) {
            // DROP INDEX table.index
            table.name = n.schema;
            table.database = n.database;
            table.text = n.schema;
        }
        if (table.empty())
            throw SqlError(159, u"Must specify the table name and index name for the DROP INDEX "
                                "statement."_s);
        Translator tr(*this);
        const ResolvedTable r = tr.resolveTable(table);
        const QString indexName = r.table + u'.' + n.name;
        const QString schema = Translator::quote(r.schema);
        const auto real = scalarQuery(u"SELECT name FROM "_s + schema +
                                          u".sqlite_master WHERE type = 'index' AND name = ?1 "
                                          "COLLATE NOCASE"_s,
                                      {indexName});
        if (!real) {
            if (s.ifExists)
                continue;
            throw SqlError(3701, u"Cannot drop the index '%1.%2', because it does not exist or you "
                                 "do not have permission."_s.arg(table.text, n.name));
        }
        ensureWriteTransaction();
        execSql(u"DROP INDEX "_s + schema + u'.' + Translator::quote(valueToText(*real)));
    }
    done(frame, std::nullopt);
}

void SessionImpl::runTruncate(const Stmt& s, Frame& frame)
{
    Translator tr(*this);
    const ResolvedTable r = tr.resolveTable(s.table);
    if (tableColumns(r.schema, r.table).isEmpty() || reservedTable(r.table))
        throw SqlError(4701, u"Cannot find the object \"%1\" because it does not exist or you do "
                             "not have permissions."_s.arg(s.table.text));
    const QString schema = Translator::quote(r.schema);
    std::optional<Value> seed;
    if (scalarQuery(u"SELECT 1 FROM "_s + schema +
                    u".sqlite_master WHERE name = 'sqlsim_identity'"_s))
        seed = scalarQuery(u"SELECT seed FROM "_s + schema +
                               u".sqlsim_identity WHERE name = ?1 COLLATE TSQL"_s,
                           {r.table});
    atomically([&] {
        execSql(u"DELETE FROM "_s + r.sql);
        if (scalarQuery(u"SELECT 1 FROM "_s + schema +
                        u".sqlite_master WHERE name = 'sqlite_sequence'"_s)) {
            execSql(u"DELETE FROM "_s + schema +
                        u".sqlite_sequence WHERE name = ?1 COLLATE NOCASE"_s,
                    {r.table});
            // The identity starts again at its seed.
            if (seed && std::holds_alternative<qint64>(*seed) && std::get<qint64>(*seed) != 1)
                execSql(u"INSERT INTO "_s + schema +
                            u".sqlite_sequence (name, seq) VALUES (?1, ?2)"_s,
                        {r.table, std::get<qint64>(*seed) - 1});
        }
    });
    done(frame, std::nullopt);
}

// ---- procedures

void SessionImpl::runCreateProc(const Stmt& s, Frame& frame)
{
    if (!s.procedure.database.isEmpty())
        throw SqlError(166, u"'%1 PROCEDURE' does not allow specifying the database name as a "
                            "prefix to the object name."_s.arg(s.alter ? u"ALTER"_s : u"CREATE"_s));
    if (s.procedure.isTemp())
        throw SqlError(40000, u"sqlsim does not support temporary procedures."_s);
    const auto alias = schemaFor(m_currentDb);
    if (!alias)
        throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is entered "
                            "correctly."_s.arg(m_currentDb));
    const QString schema = Translator::quote(*alias);
    const QString name = s.procedure.name;
    const auto existing = scalarQuery(
        u"SELECT type FROM "_s + schema + u".sysobjects WHERE name = ?1 COLLATE TSQL"_s, {name});
    const bool tableNamed = bool(scalarQuery(
        u"SELECT 1 FROM "_s + schema + u".sqlite_master WHERE name = ?1 COLLATE NOCASE"_s, {name}));
    if (!s.alter && (existing || tableNamed))
        throw SqlError(2714, u"There is already an object named '%1' in the database."_s.arg(name));
    if (s.alter && (!existing || valueToText(*existing).trimmed() != u"P"))
        throw SqlError(208, u"Invalid object name '%1'."_s.arg(name));
    const QString created = storageDateTime(QDateTime::currentDateTime(), BaseType::DateTime);
    atomically([&] {
        if (s.alter) {
            execSql(u"UPDATE "_s + schema +
                        u".sqlsim_modules SET definition = ?2 WHERE name = ?1 COLLATE TSQL"_s,
                    {name, s.definition});
            execSql(u"UPDATE "_s + schema +
                        u".sysobjects SET refdate = ?2 WHERE name = ?1 COLLATE TSQL"_s,
                    {name, created});
        } else {
            execSql(u"INSERT INTO "_s + schema +
                        u".sqlsim_modules (name, type, definition, created) VALUES (?1, 'P', ?2, "
                        "?3)"_s,
                    {name, s.definition, created});
            execSql(catalog::sysobjectsInsert(schema), {name, u"P "_s});
        }
    });
    done(frame, std::nullopt);
}

void SessionImpl::runDropProc(const Stmt& s, Frame& frame)
{
    for (const ObjectName& n : s.names) {
        const QString database = n.database.isEmpty() ? m_currentDb : n.database;
        const auto alias = schemaFor(database);
        const QString schema = alias ? Translator::quote(*alias) : QString();
        const auto real = alias ? scalarQuery(u"SELECT name FROM "_s + schema +
                                                  u".sqlsim_modules WHERE name = ?1 COLLATE TSQL"_s,
                                              {n.name})
                                : std::nullopt;
        if (!real) {
            if (s.ifExists)
                continue;
            throw SqlError(3701, u"Cannot drop the procedure '%1', because it does not exist or "
                                 "you do not have permission."_s.arg(n.text));
        }
        atomically([&] {
            execSql(u"DELETE FROM "_s + schema + u".sqlsim_modules WHERE name = ?1 COLLATE TSQL"_s,
                    {*real});
            execSql(u"DELETE FROM "_s + schema +
                        u".sysobjects WHERE name = ?1 COLLATE TSQL AND type = 'P'"_s,
                    {*real});
        });
        if (sameName(database, u"master"_s))
            m_server.dropStartupProcedure(valueToText(*real));
    }
    done(frame, std::nullopt);
}

// ---- databases

void SessionImpl::runCreateDatabase(const Stmt& s, Frame& frame)
{
    if (m_trancount > 0)
        throw SqlError(226, u"CREATE DATABASE statement not allowed within multi-statement "
                            "transaction."_s);
    const QString name = s.name;
    if (name.size() > 128 || name.isEmpty())
        throw SqlError(103, u"The identifier that starts with '%1' is too long. Maximum length is "
                            "128."_s.arg(name.left(128)));
    // CREATE DATABASE, CREATE ANY DATABASE or ALTER ANY DATABASE, for FOR ATTACH too
    // (learn.microsoft.com/sql/t-sql/statements/create-database-transact-sql, "Permissions").
    if (!mayCreateDatabase())
        throw SqlError(262, u"CREATE DATABASE permission denied in database 'master'."_s);
    if (m_server.database(name))
        throw SqlError(
            1801, u"Database '%1' already exists. Choose a different database name."_s.arg(name));
    // The default files are named after the database: a name that is no file name would put
    // them somewhere else.
    if (s.dataFiles.isEmpty() &&
        (name.contains(u'/') || name.contains(u'\\') || name.contains(u':') ||
         name.startsWith(u'.') || name.contains(QChar(0)))) {
        Message first;
        first.number = 5105;
        first.text = u"A file activation error occurred. The physical file name '%1.mdf' may be "
                     "incorrect. Diagnose and correct additional errors, and retry the "
                     "operation."_s.arg(name);
        sendError(first, &s, frame);
        throw SqlError(1802, u"CREATE DATABASE failed. Some file names listed could not be "
                             "created. Check related errors."_s);
    }
    const QDir dir(m_server.newDatabaseFilesFolder());
    DatabaseFiles files;
    files.name = name;
    files.dataLogicalName = name;
    files.logLogicalName = name + u"_log"_s;
    files.dataFile = dir.filePath(name + u".mdf"_s);
    files.logFile = dir.filePath(name + u"_log.ldf"_s);
    if (!s.dataFiles.isEmpty()) {
        if (!s.dataFiles[0].first.isEmpty())
            files.dataLogicalName = s.dataFiles[0].first;
        if (!s.dataFiles[0].second.isEmpty())
            files.dataFile = localPath(s.dataFiles[0].second);
    }
    if (!s.logFiles.isEmpty()) {
        if (!s.logFiles[0].first.isEmpty())
            files.logLogicalName = s.logFiles[0].first;
        if (!s.logFiles[0].second.isEmpty())
            files.logFile = localPath(s.logFiles[0].second);
    } else if (!s.dataFiles.isEmpty() && !s.dataFiles[0].second.isEmpty()) {
        const QFileInfo data(files.dataFile);
        files.logFile = data.absoluteDir().filePath(data.completeBaseName() + u"_log.ldf"_s);
    }
    if (s.value == u"ATTACH") {
        QList<CallArg> args;
        CallArg a;
        a.name = u"@dbname"_s;
        a.value = name;
        args << a;
        a.name = u"@filename1"_s;
        a.value = files.dataFile;
        args << a;
        if (!s.logFiles.isEmpty()) {
            a.name = u"@filename2"_s;
            a.value = files.logFile;
            args << a;
        }
        spAttachDb(args, s.logFiles.isEmpty());
        done(frame, std::nullopt);
        return;
    }
    if (m_server.databaseUsingFile(files.dataFile) || m_server.databaseUsingFile(files.logFile) ||
        QFileInfo::exists(files.dataFile) || QFileInfo::exists(files.logFile)) {
        const QString taken = QFileInfo::exists(files.dataFile) ? files.dataFile : files.logFile;
        Message first;
        first.number = 5170;
        first.text = u"Cannot create file '%1' because it already exists. Change the file path or "
                     "the file name, and retry the operation."_s.arg(serverfiles::shown(taken));
        sendError(first, &s, frame);
        throw SqlError(1802, u"CREATE DATABASE failed. Some file names listed could not be "
                             "created. Check related errors."_s);
    }
    try {
        catalog::createDatabaseFiles(files, catalog::DatabaseKind::User);
    } catch (const SqlError& e) {
        QFile::remove(files.dataFile);
        QFile::remove(files.logFile);
        sendError(e.message, &s, frame);
        throw SqlError(1802, u"CREATE DATABASE failed. Some file names listed could not be "
                             "created. Check related errors."_s);
    }
    if (const auto tooLarge = m_server.databaseTooLarge(QFileInfo(files.dataFile).size())) {
        QFile::remove(files.dataFile);
        QFile::remove(files.logFile);
        throw SqlError(*tooLarge);
    }
    m_server.registerDatabase(files, false, ownerSid());
    done(frame, std::nullopt);
}

void SessionImpl::runDropDatabase(const Stmt& s, Frame& frame)
{
    if (m_trancount > 0)
        throw SqlError(226, u"DROP DATABASE statement not allowed within multi-statement "
                            "transaction."_s);
    for (const ObjectName& n : s.names) {
        const auto entry = m_server.database(n.name);
        if (entry && !entry->system && !mayDropDatabase(*entry))
            throw SqlError(3701, u"Cannot drop the database '%1', because it does not exist or you "
                                 "do not have permission."_s.arg(n.name));
        if (!entry) {
            if (s.ifExists)
                continue;
            throw SqlError(3701, u"Cannot drop the database '%1', because it does not exist or you "
                                 "do not have permission."_s.arg(n.name));
        }
        if (entry->system)
            throw SqlError(3708, u"Cannot drop the database '%1' because it is a system "
                                 "database."_s.arg(entry->files.name));
        if (sameName(m_currentDb, entry->files.name) ||
            m_server.usedByOtherSession(entry->files.name, this))
            throw SqlError(3702,
                           u"Cannot drop database \"%1\" because it is currently in use."_s.arg(
                               entry->files.name));
        releaseDatabase(entry->files.name);
        m_server.unregisterDatabase(entry->files.name);
        QFile::remove(entry->files.dataFile);
        QFile::remove(entry->files.logFile);
    }
    done(frame, std::nullopt);
}

} // namespace sqlsim
