#pragma once

#include "Ast.h"

#include <QHash>
#include <QSet>
#include <functional>

// Turns parsed T-SQL into SQLite SQL over the session's connection, where every database is
// attached under a schema alias of its own. Variables become bound parameters; result columns
// get the T-SQL types the statement implies.
namespace sqlsim {

struct TableColumn
{
    QString name;
    QString decl;
    std::optional<TypeInfo> type;
    bool notNull = false;
    bool primaryKey = false;
    int keySeq = 0; // place in the primary key, from 1
    bool identity = false;
    QString defaultSql; // SQLite default expression text, empty if none
};

struct Variable
{
    TypeInfo type;
    Value value;
};

class TranslatorHost
{
public:
    virtual ~TranslatorHost() = default;
    // The schema alias of an attached database (attaching it on demand); nullopt if unknown.
    virtual std::optional<QString> schemaFor(const QString& database) = 0;
    virtual QString currentDatabase() const = 0;
    virtual const Variable* variable(const QString& name) const = 0;
    // @@version, @@rowcount ...; throws SqlError for an unknown one.
    virtual Variable systemVariable(const QString& name) = 0;
    virtual QList<TableColumn> tableColumns(const QString& schema, const QString& table) = 0;
    // Columns a SELECT yields, or -1 when SQLite rejects it (the error then comes at run time).
    virtual int resultColumnCount(const QString& sql, const QList<Value>& binds) = 0;
    virtual bool identityInsert(const QString& schema, const QString& table) const = 0;
    virtual QString constantFunction(const QString& name) = 0; // suser_sname(), db_name() ...
    // A statement reads sysprocesses or sys.dm_exec_sessions: temp.sqlsim_sysprocesses and
    // temp.sqlsim_dm_exec_sessions must hold the sessions as they are now.
    virtual void sessionViewsWanted() {}
    // A statement reads sys.master_files: temp.sqlsim_master_files must hold the files of the
    // databases as the server has them now.
    virtual void masterFilesWanted() {}
    // A statement reads sys.database_files: temp.sqlsim_database_files must hold the files of
    // that database.
    virtual void databaseFilesWanted(const QString& database) { Q_UNUSED(database); }
    // A catalogue view the server keeps (logins, principals): the temp table that holds it now,
    // or nothing for a table of the database. May refuse the caller (error 300).
    virtual std::optional<QString> serverViewTable(const QString& schema, const QString& table,
                                                   const QString& database)
    {
        Q_UNUSED(schema);
        Q_UNUSED(table);
        Q_UNUSED(database);
        return std::nullopt;
    }
};

struct ResolvedTable
{
    QString schema; // SQLite schema alias ("temp" for #tables)
    QString table;
    QString database; // T-SQL database name
    QString sql;      // "schema"."table"
};

struct Translation
{
    QString sql;
    QList<Value> binds;
    QHash<QString, TypeInfo> hints; // result column name (lower case) -> type
    QSet<QString> unnamed;          // internal aliases of columns SQL Server leaves unnamed
    QStringList assignments;        // SELECT @v = ...: the variables, in result column order
    QStringList assignOps;
    QList<std::optional<TypeInfo>> assignTypes;
    QHash<QString, QString> tableNames; // "schema.table" lower -> name as written
    QString target;                     // INSERT/UPDATE/DELETE: "db.dbo.table"
    bool targetHasIdentity = false;
};

class Translator
{
public:
    explicit Translator(TranslatorHost& host);

    Translation select(const Select& select);
    Translation insert(const Stmt& stmt);
    Translation update(const Stmt& stmt);
    Translation remove(const Stmt& stmt);
    // A lone expression (SET @v = ..., IF ..., PRINT ...) as "SELECT <expr>".
    Translation scalar(const ExprPtr& expr);
    std::optional<TypeInfo> scalarType(const ExprPtr& expr);

    ResolvedTable resolveTable(const ObjectName& name, bool mustExist = false);
    // A column of CREATE TABLE / ALTER TABLE ADD in SQLite syntax.
    QString columnSql(const ColumnDef& column, bool identityPrimaryKey);
    QString defaultSql(const ExprPtr& expr);
    QString checkSql(const ExprPtr& expr);

    static QString quote(const QString& identifier);
    static QString literal(const QString& text);

private:
    struct Source
    {
        QString alias; // lower
        QString table; // lower
        QList<TableColumn> columns;
        QHash<QString, TypeInfo> derived; // derived table columns
        bool known = false;
    };
    struct Scope
    {
        Scope* parent = nullptr;
        std::vector<Source> sources;
        QSet<QString> ctes;
    };

    TranslatorHost& m_host;
    Translation m_out;
    int m_internal = 0;
    QSet<QString> m_cteNames;
    QHash<QString, QList<TableColumn>> m_columnCache;
    QString m_firstItemAlias; // the next core SELECT names its first column so

    void reset();
    QString bind(const Value& value);
    QString selectSql(const Select& s, Scope* parent, bool topLevel,
                      std::vector<std::optional<TypeInfo>>* itemTypes = nullptr);
    QString coreSql(const Select& s, Scope& scope, bool topLevel, bool applyLimit,
                    std::vector<std::optional<TypeInfo>>* itemTypes);
    QString ctesSql(const std::vector<Cte>& ctes, Scope* scope);
    QString fromSql(const TableSource& t, Scope& scope);
    QString volumeStatsSql(const TableSource& t, Scope& scope);
    QString tableSql(const ObjectName& name, const QString& alias, Scope& scope);
    QString expr(const Expr& e, Scope* scope);
    QString compareSql(const Expr& e, Scope* scope);
    QString functionSql(const Expr& e, Scope* scope);
    QString argsSql(const Expr& e, Scope* scope, size_t from = 0);
    QString castSql(const ExprPtr& value, const TypeInfo& target, const QString& style,
                    bool tryCast, Scope* scope);
    QString operandForType(const Expr& e, const std::optional<TypeInfo>& other, Scope* scope);
    QString textAsDate(const QString& valueSql, const std::optional<TypeInfo>& source,
                       const TypeInfo& target);
    std::optional<TypeInfo> typeOf(const Expr& e, Scope* scope);
    std::optional<TypeInfo> columnType(const QStringList& parts, Scope* scope);
    QList<TableColumn> columnsOf(const QString& schema, const QString& table);
    QString limitSql(const ExprPtr& top, Scope* scope);
    QString targetTableFor(const Stmt& stmt, ResolvedTable& target, QList<TableColumn>& cols);
    QString convertToColumn(const QString& valueSql, const TableColumn& column,
                            const QString& table);
};

// Names of the internal catalogue objects users never see.
bool isInternalTable(const QString& name);

} // namespace sqlsim
