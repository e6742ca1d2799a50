#include "StatementText.h"

using namespace Qt::StringLiterals;

namespace sqltext {

QString literalBody(const QString& value)
{
    QString out = value;
    return out.replace(u"'"_s, u"''"_s);
}

QString identifier(const QString& name)
{
    // Always: a plain word may be a reserved one ("order", "user"), which SQL Server refuses bare.
    QString inner = name;
    return u'[' + inner.replace(u"]"_s, u"]]"_s) + u']';
}

} // namespace sqltext
