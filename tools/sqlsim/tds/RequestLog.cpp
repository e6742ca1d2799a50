#include "RequestLog.h"

#include "TdsTypes.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace sqlsim::tds {

namespace {

constexpr qsizetype longestLoggedBinary = 64;

QString literal(const Value& value)
{
    if (isNull(value))
        return u"NULL"_s;
    if (const auto* bytes = std::get_if<QByteArray>(&value)) {
        if (bytes->size() > longestLoggedBinary)
            return u"<binary %1 bytes>"_s.arg(bytes->size());
        return u"0x"_s + QString::fromLatin1(bytes->toHex().toUpper());
    }
    if (std::holds_alternative<qint64>(value) || std::holds_alternative<double>(value))
        return toText(value);
    QString text = toText(value);
    text.replace(u"'"_s, u"''"_s);
    return u"N'"_s + text + u'\'';
}

bool isPasswordArgument(const QString& procedure, const Param& param, qsizetype position)
{
    if (param.name.contains(u"passw"_s, Qt::CaseInsensitive))
        return true;
    const QString name = procedure.section(u'.', -1).toLower();
    if (!param.name.isEmpty())
        return (name == u"sp_password"_s) &&
               (param.name.compare(u"@old"_s, Qt::CaseInsensitive) == 0 ||
                param.name.compare(u"@new"_s, Qt::CaseInsensitive) == 0);
    return (name == u"sp_addlogin"_s && position == 1) ||
           (name == u"sp_password"_s && position <= 1);
}

} // namespace

bool RequestLog::open(const QString& path, QString* error)
{
    std::lock_guard lock(m_mutex);
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error != nullptr)
            *error = m_file.errorString();
        return false;
    }
    return true;
}

void RequestLog::write(const QString& entry)
{
    std::lock_guard lock(m_mutex);
    if (!m_file.isOpen())
        return;
    m_file.write((entry + u'\n').toUtf8());
    m_file.flush();
}

QString RequestLog::maskPasswords(const QString& sql)
{
    static const QRegularExpression passwordClause(uR"((\bPASSWORD\s*=\s*N?)'(?:[^']|'')*')"_s,
                                                   QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression addLogin(
        uR"((\bsp_addlogin\s+(?:@loginame\s*=\s*)?N?'(?:[^']|'')*'\s*,\s*(?:@passwd\s*=\s*)?N?)'(?:[^']|'')*')"_s,
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression changePassword(
        uR"((\bsp_password\s+(?:@old\s*=\s*)?)(NULL|N?'(?:[^']|'')*')(\s*,\s*(?:@new\s*=\s*)?)N?'(?:[^']|'')*')"_s,
        QRegularExpression::CaseInsensitiveOption);
    QString text = sql;
    text.replace(passwordClause, u"\\1'***'"_s);
    text.replace(addLogin, u"\\1'***'"_s);
    text.replace(changePassword, u"\\1'***'\\3'***'"_s);
    return text;
}

QString RequestLog::batchEntry(const QString& sql)
{
    return u"batch: "_s + maskPasswords(sql);
}

QString RequestLog::rpcEntry(const QString& procedure, const QList<Param>& params)
{
    QStringList parts;
    for (qsizetype i = 0; i < params.size(); ++i) {
        const Param& p = params[i];
        QString part = p.name.isEmpty() ? QString() : p.name + u'=';
        if (isPasswordArgument(procedure, p, i) && !isNull(p.value))
            part += u"'***'"_s;
        else if (std::holds_alternative<QString>(p.value))
            part += maskPasswords(literal(p.value));
        else
            part += literal(p.value);
        if (p.output)
            part += u" OUTPUT"_s;
        parts.append(part);
    }
    QString entry = u"rpc: "_s + procedure;
    if (!parts.isEmpty())
        entry += u' ' + parts.join(u", "_s);
    return entry;
}

} // namespace sqlsim::tds
