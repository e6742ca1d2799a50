#include "ConnectionStringTranslation.h"

#include "MyException.h"

#include <QtGlobal>

using namespace Qt::StringLiterals;

namespace db {

KeyValueList parseAdoConnectionString(const QString& text)
{
    KeyValueList pairs;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        // Key: up to "=", or the piece ends at ";" without one.
        QString key;
        bool hasEquals = false;
        while (i < n && text[i] != u';') {
            if (text[i] == u'=') {
                hasEquals = true;
                ++i;
                break;
            }
            key += text[i++];
        }
        if (!hasEquals) {
            ++i; // skip ";"
            continue;
        }
        while (i < n && text[i].isSpace() && text[i] != u';')
            ++i;
        QString value;
        if (i < n && (text[i] == u'"' || text[i] == u'\'')) {
            const QChar quote = text[i++];
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += text[i++];
            }
            while (i < n && text[i] != u';') // blanks after the closing quote
                ++i;
        } else {
            while (i < n && text[i] != u';')
                value += text[i++];
            value = value.trimmed();
        }
        ++i; // skip ";"
        pairs.append({key.trimmed().toLower(), value});
    }
    return pairs;
}

QString quoteAdoValue(const QString& value)
{
    const bool plain = !value.contains(u';') && !value.contains(u'"') && !value.contains(u'\'') &&
                       !value.contains(u'{') && !value.contains(u'}') && value.trimmed() == value;
    if (plain)
        return value;
    const QChar quote = value.contains(u'"') && !value.contains(u'\'') ? u'\'' : u'"';
    QString quoted = value;
    quoted.replace(quote, QString(2, quote));
    return quote + quoted + quote;
}

QString quoteOdbcValue(const QString& value)
{
    const bool plain = !value.contains(u';') && !value.contains(u'{') && !value.contains(u'}') &&
                       !value.contains(u'=') && value.trimmed() == value;
    // The string goes to the driver as a C string: a NUL would cut it there.
    if (value.contains(QChar(0)))
        throw Error(u"Значение параметра подключения не может содержать символ с кодом 0."_s);
    if (plain && !value.isEmpty())
        return value;
    // FreeTDS ends a braced value at the first "}" followed by ";" or the end and takes "}}"
    // literally, so braces go round the value unchanged; "};" inside cannot be written at all.
    if (value.contains(u"};"_s))
        throw Error(u"Значение параметра подключения не может содержать \"};\"."_s);
    return u'{' + value + u'}';
}

bool isSqlServerProvider(const QString& provider)
{
    const QString p = provider.trimmed().toLower();
    return p.isEmpty() || p == u"sqloledb"_s || p.startsWith(u"sqloledb."_s) ||
           p.startsWith(u"sqlncli"_s) || p.startsWith(u"msoledbsql"_s);
}

namespace {

// "." and "(local)" name this machine; "host,port" and "host\instance" as SQL Server clients
// write them. FreeTDS takes the port as a key of its own.
void appendServer(QString& out, const QString& dataSource, const InstanceResolver& resolve)
{
    QString server = dataSource.trimmed();
    if (server.startsWith(u"tcp:"_s, Qt::CaseInsensitive))
        server = server.mid(4);
    QString port;
    const qsizetype comma = server.lastIndexOf(u',');
    if (comma >= 0) {
        port = server.mid(comma + 1).trimmed();
        server = server.left(comma).trimmed();
    }
    QString host = server;
    QString instance;
    const qsizetype slash = server.indexOf(u'\\');
    if (slash >= 0) {
        host = server.left(slash).trimmed();
        instance = server.mid(slash + 1).trimmed();
    }
    if (host.isEmpty() || host == u"."_s || host.compare(u"(local)"_s, Qt::CaseInsensitive) == 0)
        host = u"localhost"_s;
    if (!port.isEmpty())
        instance.clear(); // an explicit port wins over the instance lookup
    if (!instance.isEmpty() && resolve) {
        port = QString::number(resolve(host, instance));
        instance.clear();
    }
    out +=
        u"SERVER="_s + quoteOdbcValue(instance.isEmpty() ? host : host + u'\\' + instance) + u';';
    if (!port.isEmpty())
        out += u"PORT="_s + quoteOdbcValue(port) + u';';
}

// unixODBC's driver manager reads the string before FreeTDS does, by rules of its own: blanks and
// ";" before a key are skipped, and a braced value ends at the first "}" that is not doubled. So a
// value FreeTDS reads whole ("a} ;DRIVER=/tmp/x.so") can end early for the manager and hand it
// keys of its own; a later DRIVER or FILEDSN wins over ours and makes it load another library.
// Such strings are refused. Keys the manager ignores do no harm: FreeTDS gets the string as it is.
void checkDriverManagerView(const QString& odbc, const QString& driver)
{
    const auto isCSpace = [](QChar c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
    };
    const qsizetype n = odbc.size();
    qsizetype i = 0;
    bool first = true;
    for (;;) {
        while (i < n && (isCSpace(odbc[i]) || odbc[i] == u';'))
            ++i;
        const qsizetype eq = odbc.indexOf(u'=', i);
        if (i >= n || eq < 0)
            return;
        const QString key = odbc.mid(i, eq - i).toUpper();
        i = eq + 1;
        QString value;
        if (i < n && odbc[i] == u'{') {
            for (++i; i < n && (odbc[i] != u'}' || (i + 1 < n && odbc[i + 1] == u'}')); ++i) {
                if (odbc[i] == u'}')
                    ++i; // "}}" stands for "}"
                value += odbc[i];
            }
            if (i < n)
                ++i;
        } else {
            while (i < n && odbc[i] != u';')
                value += odbc[i++];
        }
        const bool managerKey = key == u"DRIVER"_s || key == u"DSN"_s || key == u"FILEDSN"_s ||
                                key == u"SAVEFILE"_s || key.startsWith(u"DM"_s);
        if (first ? key != u"DRIVER"_s || value != driver : managerKey) {
            throw Error(u"Значение параметра подключения содержит \"}\", за которым диспетчер "
                        u"драйверов ODBC прочёл бы другие параметры."_s);
        }
        first = false;
    }
}

bool isTrue(const QString& value)
{
    const QString v = value.trimmed().toLower();
    return v == u"sspi"_s || v == u"true"_s || v == u"yes"_s;
}

} // namespace

QString toOdbcConnectionString(const QString& provider, const QString& adoText,
                               const QString& driverOverride, const InstanceResolver& resolve)
{
    if (!isSqlServerProvider(provider))
        throw Error(u"Поставщик данных \"%1\" не поддерживается."_s.arg(provider));
    QString dataSource;
    QString user;
    QString password;
    bool hasPassword = false;
    bool integrated = false;
    for (const auto& [key, value] : parseAdoConnectionString(adoText)) {
        if (key == u"data source"_s || key == u"server"_s || key == u"address"_s)
            dataSource = value;
        else if (key == u"user id"_s || key == u"uid"_s)
            user = value;
        else if (key == u"password"_s || key == u"pwd"_s) {
            password = value;
            hasPassword = true;
        } else if (key == u"integrated security"_s || key == u"trusted_connection"_s)
            integrated = isTrue(value);
    }
    const QString driver = driverOverride.isEmpty() ? u"FreeTDS"_s : driverOverride;
    QString out = u"DRIVER="_s + quoteOdbcValue(driver) + u';';
    appendServer(out, dataSource, resolve);
    out += u"TDS_Version=7.4;ClientCharset=UTF-8;"_s;
    if (integrated) {
        out += u"Trusted_Connection=Yes;"_s;
        // DOMAIN\name with a password: FreeTDS logs in by NTLM.
        if (!user.isEmpty())
            out += u"UID="_s + quoteOdbcValue(user) + u";PWD="_s + quoteOdbcValue(password) + u';';
    } else {
        out += u"UID="_s + quoteOdbcValue(user) + u';';
        if (hasPassword || !user.isEmpty())
            out += u"PWD="_s + quoteOdbcValue(password) + u';';
    }
    checkDriverManagerView(out, driver);
    return out;
}

int loginTimeoutFrom(const QByteArray& environmentValue)
{
    bool ok = false;
    const int seconds = environmentValue.trimmed().toInt(&ok);
    return ok && seconds > 0 ? seconds : 15;
}

int loginTimeoutSeconds()
{
    return loginTimeoutFrom(qgetenv("DBSETUP_LOGIN_TIMEOUT"));
}

QString odbcDriverOverride()
{
    return qEnvironmentVariable("DBSETUP_ODBC_DRIVER").trimmed();
}

} // namespace db
