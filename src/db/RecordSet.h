#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace db {

// Rows of a result, all read when it opens so that a grid can scroll back and forth.
class RecordSet
{
public:
    RecordSet(QStringList columns, QList<bool> binary, QList<QList<QVariant>> rows);

    bool isEmpty() const { return m_rows.isEmpty(); }
    qsizetype recordCount() const { return m_rows.size(); }
    void first() { m_current = 0; }
    void next()
    {
        if (m_current < m_rows.size())
            ++m_current;
    }
    void moveTo(qsizetype row) { m_current = qBound<qsizetype>(0, row, m_rows.size()); }
    bool eof() const { return m_current >= m_rows.size(); }
    qsizetype currentRow() const { return m_current; }

    int columnCount() const { return static_cast<int>(m_columns.size()); }
    const QStringList& columnNames() const { return m_columns; }
    int columnIndex(const QString& name) const; // -1 when absent (case ignored)
    bool isNull(const QString& column) const;
    // The current row's value as text (binary as hexadecimal); throws Error for an unknown column
    // or at the end of the rows.
    QString fieldText(const QString& column) const;
    QString displayText(qsizetype row, int column) const;
    QVariant value(qsizetype row, int column) const;
    // The current row's byte column written to a file in chunks.
    void saveFieldToFile(const QString& column, const QString& path) const;

private:
    const QVariant& cell(const QString& column) const;

    QStringList m_columns;
    QList<bool> m_binary;
    QList<QList<QVariant>> m_rows;
    qsizetype m_current = 0;
};

} // namespace db
