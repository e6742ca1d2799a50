#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace db {
class Connection;
}

// Whether the console's result can be written back, and where: a SELECT of plain columns from
// one table. Rows are found again by the table's primary key, or by all their original values
// when it has none (optimistic: a row that no longer matches is not touched).
struct EditTarget
{
    QString table;         // as written in the statement ("dbo.t", "[my table]")
    QStringList columns;   // the table column behind each result column
    QList<int> keyColumns; // result columns of the primary key; empty: match every value
    // Result columns of types the server cannot compare (text, ntext, image, xml): without a
    // key they take no part in finding the row again.
    QList<int> incomparableColumns;
    QString readOnlyReason; // why the result cannot be written back; empty when it can

    bool editable() const { return readOnlyReason.isEmpty(); }
};

// The shape of the statement alone: the table and the column of each result column, or why
// not. resultColumns are the names the server gave the result's columns.
EditTarget AnalyzeSelect(const QString& sql, const QStringList& resultColumns);

// AnalyzeSelect, then the table's primary key from the server (sp_pkeys in the current
// database) and, without one, its column types (sp_columns). Never throws: a failure makes the
// result read-only with its reason.
EditTarget FindEditTarget(db::Connection& connection, const QString& sql,
                          const QStringList& resultColumns);

// A statement with "?" markers and the values to bind, in order.
struct BoundStatement
{
    QString sql;
    QList<QVariant> values;
};

// The row located by the key, or by every original value the server can compare (NULL as
// IS NULL).
BoundStatement UpdateStatement(const EditTarget& target, const QList<QVariant>& original,
                               const QList<QVariant>& changed);
BoundStatement DeleteStatement(const EditTarget& target, const QList<QVariant>& original);
// Only the columns given a value (not NULL) are named.
BoundStatement InsertStatement(const EditTarget& target, const QList<QVariant>& values);
