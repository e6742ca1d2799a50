#include "StoreStatements.h"

#include "StatementText.h"

using namespace Qt::StringLiterals;

QString VersionNumberText(const QString& versionText)
{
    QString digits;
    for (const QChar c : versionText) {
        if (c >= u'0' && c <= u'9')
            digits.append(c);
    }
    return digits;
}

namespace storesql {

QString dropTable(const QString& table)
{
    return u"drop  table "_s + table;
}

QString createTable(const QString& table)
{
    return u"create table "_s + table +
           u" (path char(255) not null, version int null, file_data IMAGE NULL)"_s;
}

QString insertFile(const QString& table, const QString& storedPath, const QString& versionNumber,
                   const QString& dataParameter)
{
    return u"INSERT INTO "_s + table + u" (path, version, file_data) VALUES ('"_s +
           sqltext::literalBody(storedPath) + u"','"_s + sqltext::literalBody(versionNumber) +
           u"',:"_s + dataParameter + u')';
}

QString selectFiles(const QString& table)
{
    return u"SELECT * FROM "_s + table;
}

QString selectFilesSince(const QString& table, const QString& versionNumber)
{
    // A number, not a text: "7.5.10" is newer than "7.5.9".
    return u"SELECT * FROM "_s + table + u" WHERE version>="_s + versionNumber + u';';
}

} // namespace storesql
