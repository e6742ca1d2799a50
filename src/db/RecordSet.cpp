#include "RecordSet.h"

#include "ColumnValues.h"
#include "ConnectionImpl.h"

#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace db {

using namespace odbc;

std::unique_ptr<RecordSet> Connection::openRecordSet(const QString& sql, int timeoutSeconds)
{
    d->requireIdle();
    Statement stmt(d->hdbc(), timeoutSeconds);
    std::vector<SQLWCHAR> text = wide(sql);
    Columns columns;
    QList<QList<QVariant>> rows;
    drain(stmt, SQLExecDirectW(stmt.get(), text.data(), SQL_NTS), [&](SQLSMALLINT count) {
        columns = describe(stmt, count);
        while (stmt.check(SQLFetch(stmt.get()), u"SQLFetch"_s) != SQL_NO_DATA) {
            QList<QVariant> row;
            row.reserve(count);
            for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(count); ++c)
                row.append(readValue(stmt, c, columns.types[c - 1]));
            rows.append(std::move(row));
        }
    });
    QList<bool> binary;
    for (SQLSMALLINT type : columns.types)
        binary.append(isBinaryType(type));
    return std::make_unique<RecordSet>(columns.names, binary, std::move(rows));
}

// ---- RecordSet

RecordSet::RecordSet(QStringList columns, QList<bool> binary, QList<QList<QVariant>> rows)
    : m_columns(std::move(columns)), m_binary(std::move(binary)), m_rows(std::move(rows))
{}

int RecordSet::columnIndex(const QString& name) const
{
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

const QVariant& RecordSet::cell(const QString& column) const
{
    const int index = columnIndex(column);
    if (index < 0)
        throw Error(u"В наборе данных нет поля \"%1\"."_s.arg(column));
    if (eof())
        throw Error(u"Нет текущей записи."_s);
    return m_rows[m_current][index];
}

bool RecordSet::isNull(const QString& column) const
{
    return cell(column).isNull();
}

QString RecordSet::fieldText(const QString& column) const
{
    const QVariant& v = cell(column);
    if (v.typeId() == QMetaType::QByteArray)
        return QString::fromLatin1(v.toByteArray().toHex());
    return v.toString();
}

QString RecordSet::displayText(qsizetype row, int column) const
{
    const QVariant v = value(row, column);
    if (v.typeId() == QMetaType::QByteArray)
        return u"(BLOB)"_s;
    return v.toString();
}

QVariant RecordSet::value(qsizetype row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.size())
        return {};
    return m_rows[row][column];
}

void RecordSet::saveFieldToFile(const QString& column, const QString& path) const
{
    const QVariant& v = cell(column);
    const QByteArray bytes =
        v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(u"Не удалось создать файл \"%1\": %2"_s.arg(path, file.errorString()));
    for (qsizetype at = 0; at < bytes.size(); at += chunkSize) {
        const qsizetype n = std::min(chunkSize, bytes.size() - at);
        if (file.write(bytes.constData() + at, n) != n)
            break;
    }
    if (!file.commit())
        throw Error(u"Не удалось записать файл \"%1\": %2"_s.arg(path, file.errorString()));
}

} // namespace db
