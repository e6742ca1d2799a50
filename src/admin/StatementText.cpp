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
    const bool plain = !name.isEmpty() &&
                       std::all_of(name.begin(), name.end(),
                                   [](QChar c) {
                                       return c.isLetterOrNumber() || c == u'_' || c == u'@' ||
                                              c == u'#' || c == u'$';
                                   }) &&
                       !name.front().isDigit() && name.front() != u'$';
    if (plain)
        return name;
    QString inner = name;
    return u'[' + inner.replace(u"]"_s, u"]]"_s) + u']';
}

} // namespace sqltext
