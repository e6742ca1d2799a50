#pragma once

#include "SqlTypes.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

// The parsed form of a T-SQL batch: statements and expressions.
namespace sqlsim {

struct Expr;
struct Select;
struct Stmt;
using ExprPtr = std::shared_ptr<Expr>;
using SelectPtr = std::shared_ptr<Select>;
using StmtPtr = std::shared_ptr<Stmt>;

// [server.][database.][schema.]name as written; empty parts for "db..t".
struct ObjectName
{
    QString database;
    QString schema;
    QString name;
    QString text; // as written, for messages
    bool isTemp() const { return name.startsWith(u'#'); }
    bool empty() const { return name.isEmpty(); }
};

struct OrderItem
{
    ExprPtr expr;
    bool desc = false;
};

struct Expr
{
    enum Kind
    {
        Null,
        Integer,
        Decimal,
        Float,
        String,
        Binary,
        Column,      // parts: [table.]column
        Variable,    // text: @name (lower case)
        SysVariable, // text: @@name (lower case)
        Unary,       // text: - + ~
        BinaryOp,    // text: + - * / % & | ^
        Compare,     // text: = <> < > <= >=
        And,
        Or,
        Not,
        Function, // text: name (lower case); args
        Cast,     // args[0]; castType; style in args[1] for CONVERT
        Case,     // args: [operand] when, then, ... [else]
        Subquery,
        Exists,
        InList,   // args[0] IN (args[1..])
        InSelect, // args[0] IN (select)
        Between,  // args[0] BETWEEN args[1] AND args[2]
        Like,     // args[0] LIKE args[1] [ESCAPE args[2]]
        IsNull,   // args[0] IS [NOT] NULL
        Default,  // DEFAULT in VALUES
        Star,     // COUNT(*)
    };
    Kind kind = Null;
    QString text;
    QStringList parts;
    std::vector<ExprPtr> args;
    SelectPtr select;
    TypeInfo castType;
    bool unicode = false;    // N'...'
    bool negated = false;    // NOT IN, NOT LIKE, IS NOT NULL, NOT BETWEEN
    bool distinct = false;   // COUNT(DISTINCT x)
    bool tryCast = false;    // TRY_CAST / TRY_CONVERT
    bool hasOperand = false; // CASE x WHEN ...
    bool hasElse = false;
    bool hasOver = false;
    std::vector<ExprPtr> partitionBy;
    std::vector<OrderItem> overOrder;
    int pos = 0;
    int depth = 1;     // of the tree below: bounds the recursion of everything that walks it
    QString collation; // expr COLLATE name
};

struct SelectItem
{
    ExprPtr expr; // null for *
    QString alias;
    bool hasAlias = false;
    bool star = false;
    QString starQualifier; // t.*
    QString assignVar;     // SELECT @v = expr
    QString assignOp;      // = += -= ...
};

struct TableSource;
using TableSourcePtr = std::shared_ptr<TableSource>;

struct TableSource
{
    enum Kind
    {
        Table,
        Derived,
        Join
    };
    Kind kind = Table;
    ObjectName name;
    QString alias;
    SelectPtr derived;
    QStringList derivedColumns;
    // A table-valued system function: name(args)
    bool isFunction = false;
    std::vector<ExprPtr> functionArgs;
    // Join
    TableSourcePtr left;
    TableSourcePtr right;
    QString joinType; // INNER, LEFT, RIGHT, FULL, CROSS
    ExprPtr on;
};

struct Cte
{
    QString name;
    QStringList columns;
    SelectPtr select;
};

struct Select
{
    std::vector<Cte> ctes;
    bool distinct = false;
    ExprPtr top;
    bool topPercent = false;
    bool withTies = false;
    std::vector<SelectItem> items;
    std::optional<ObjectName> into;
    std::vector<TableSourcePtr> from;
    ExprPtr where;
    std::vector<ExprPtr> groupBy;
    ExprPtr having;
    // UNION [ALL] / EXCEPT / INTERSECT with the next query
    std::vector<std::pair<QString, SelectPtr>> compounds;
    std::vector<OrderItem> orderBy;
    ExprPtr offset;
    ExprPtr fetch;
};

struct ColumnDef
{
    QString name;
    TypeInfo type;
    bool hasType = true;
    std::optional<bool> nullable;
    bool identity = false;
    qint64 identitySeed = 1;
    qint64 identityIncrement = 1;
    bool primaryKey = false;
    bool unique = false;
    ExprPtr defaultExpr;
    ObjectName references;
    QString referencesColumn;
    QString referentialActions; // "ON DELETE CASCADE ..." as SQLite takes it
    QString collation;          // as declared
    ExprPtr check;
};

struct TableConstraint
{
    enum Kind
    {
        PrimaryKey,
        Unique,
        ForeignKey,
        Check
    };
    Kind kind = PrimaryKey;
    QString name;
    QStringList columns;
    ObjectName references;
    QStringList referencesColumns;
    QString referentialActions;
    ExprPtr check;
};

struct ProcParam
{
    QString name; // @x, lower case
    QString displayName;
    TypeInfo type;
    ExprPtr defaultValue;
    bool hasDefault = false;
    bool output = false;
};

struct ExecArg
{
    QString name; // @x or empty
    ExprPtr value;
    bool output = false;
    bool isDefault = false;
};

struct Stmt
{
    enum Kind
    {
        Select,
        Insert,
        Update,
        Delete,
        CreateTable,
        DropTable,
        AlterTable,
        CreateIndex,
        DropIndex,
        Truncate,
        Use,
        Declare,
        SetVariable,
        SetOption,
        If,
        While,
        Block,
        Break,
        Continue,
        Return,
        Print,
        Raiserror,
        Exec,
        BeginTran,
        CommitTran,
        RollbackTran,
        SaveTran,
        CreateProc,
        DropProc,
        CreateDatabase,
        DropDatabase,
        Backup,
        Restore,
        AlterDatabase, // name ("" for CURRENT); value: the option; words: the termination
        Security,      // logins, users, roles, GRANT / REVOKE: text, read by Security.cpp
        Unsupported,
    };
    Kind kind = Unsupported;
    int line = 1;
    int pos = 0;
    int endPos = 0;

    // SELECT and the query part of INSERT ... SELECT
    SelectPtr select;
    std::vector<Cte> ctes;

    // INSERT / UPDATE / DELETE / CREATE / DROP / ALTER / TRUNCATE
    ObjectName table;
    QString targetAlias;
    QStringList columns;
    std::vector<std::vector<ExprPtr>> rows;
    bool defaultValues = false;
    std::shared_ptr<Stmt> insertExec;
    struct SetClause
    {
        QString column;
        QString variable;
        QString op;
        ExprPtr value;
    };
    std::vector<SetClause> sets;
    std::vector<TableSourcePtr> from;
    ExprPtr where;
    ExprPtr top;
    std::vector<ColumnDef> columnDefs;
    std::vector<TableConstraint> constraints;
    std::vector<ObjectName> names;
    bool ifExists = false;
    QString alterAction; // ADD, DROP COLUMN, ALTER COLUMN
    QString indexName;
    bool unique = false;

    // USE, databases, options
    QString name;
    QString value;
    QStringList words;

    // DECLARE
    struct Declaration
    {
        QString name;
        TypeInfo type;
        ExprPtr init;
        bool isTable = false;
    };
    std::vector<Declaration> declarations;

    // SET @v / RETURN / PRINT / IF / WHILE
    QString variable;
    QString op;
    ExprPtr expr;
    StmtPtr thenStmt;
    StmtPtr elseStmt;
    std::vector<StmtPtr> body;

    // RAISERROR / EXEC
    std::vector<ExprPtr> exprs;
    QString returnVariable;
    ObjectName procedure;
    QString procedureVariable;
    std::vector<ExecArg> args;
    ExprPtr dynamicSql;

    // CREATE PROCEDURE
    std::vector<ProcParam> params;
    QString definition;
    bool alter = false;

    // CREATE DATABASE files: (logical name, file name) for data then log
    QList<std::pair<QString, QString>> dataFiles;
    QList<std::pair<QString, QString>> logFiles;

    // BACKUP / RESTORE
    ExprPtr database;
    std::vector<ExprPtr> disks;
    struct Option
    {
        QString name; // upper case
        ExprPtr value;
        ExprPtr value2; // MOVE 'x' TO 'y'
    };
    std::vector<Option> options;
    QString restoreKind; // DATABASE, FILELISTONLY, HEADERONLY, ...

    QString text; // the statement's source text
};

} // namespace sqlsim
