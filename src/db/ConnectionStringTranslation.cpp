#include "ConnectionStringTranslation.h"

#include "Connection.h"
#include "MyException.h"

#include <QFileInfo>
#include <QtGlobal>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace db {

QList<AdoPair> splitAdoConnectionString(const QString& text)
{
    QList<AdoPair> pairs;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        // Key: up to "=", or the piece ends at ";" without one.
        AdoPair pair;
        bool hasEquals = false;
        while (i < n && text[i] != u';') {
            if (text[i] == u'=') {
                hasEquals = true;
                ++i;
                break;
            }
            pair.key += text[i++];
        }
        if (!hasEquals) {
            ++i; // skip ";"
            continue;
        }
        qsizetype start = i;
        while (start < n && text[start].isSpace())
            ++start;
        if (start < n && (text[start] == u'"' || text[start] == u'\'')) {
            pair.quoted = true;
            const QChar quote = text[start];
            for (i = start + 1; i < n; ++i) {
                if (text[i] == quote && (i + 1 >= n || text[i + 1] != quote))
                    break;
                if (text[i] == quote)
                    ++i; // a doubled quote stands for one
                pair.value += text[i];
            }
            while (i < n && text[i] != u';') // the closing quote and blanks after it
                ++i;
        } else {
            while (i < n && text[i] != u';')
                pair.value += text[i++];
        }
        ++i; // skip ";"
        pairs.append(pair);
    }
    return pairs;
}

KeyValueList parseAdoConnectionString(const QString& text)
{
    KeyValueList pairs;
    for (const AdoPair& pair : splitAdoConnectionString(text))
        pairs.append(
            {pair.key.trimmed().toLower(), pair.quoted ? pair.value : pair.value.trimmed()});
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

QString quoteMicrosoftOdbcValue(const QString& value)
{
    if (value.contains(QChar(0)))
        throw Error(u"Значение параметра подключения не может содержать символ с кодом 0."_s);
    const bool plain = !value.isEmpty() && std::none_of(value.cbegin(), value.cend(), [](QChar c) {
        return c == u';' || c == u'{' || c == u'}' || c == u'=' || c.isSpace();
    });
    if (plain)
        return value;
    // [MS-ODBCSTR] "ODBC Connection String Structure" (Windows' driver manager, SQL Server's
    // drivers): a braced value ends at the first "}" that is not doubled; "}}" stands for "}".
    QString braced = value;
    braced.replace(u'}', u"}}"_s);
    return u'{' + braced + u'}';
}

bool isSqlServerProvider(const QString& provider)
{
    const QString p = provider.trimmed().toLower();
    return p.isEmpty() || p == u"sqloledb"_s || p.startsWith(u"sqloledb."_s) ||
           p.startsWith(u"sqlncli"_s) || p.startsWith(u"msoledbsql"_s);
}

namespace {

struct ServerAddress
{
    QString host;
    QString port;
    QString instance; // only when no port is known
};

// "." and "(local)" name this machine; "host,port" and "host\instance" as SQL Server clients
// write them. FreeTDS takes the port as a key of its own.
ServerAddress serverAddress(const QString& dataSource, const InstanceResolver& resolve)
{
    QString server = dataSource.trimmed();
    if (server.startsWith(u"tcp:"_s, Qt::CaseInsensitive))
        server = server.mid(4);
    ServerAddress address;
    const qsizetype comma = server.lastIndexOf(u',');
    if (comma >= 0) {
        address.port = server.mid(comma + 1).trimmed();
        server = server.left(comma).trimmed();
    }
    address.host = server;
    const qsizetype slash = server.indexOf(u'\\');
    if (slash >= 0) {
        address.host = server.left(slash).trimmed();
        address.instance = server.mid(slash + 1).trimmed();
    }
    if (address.host.isEmpty() || address.host == u"."_s ||
        address.host.compare(u"(local)"_s, Qt::CaseInsensitive) == 0)
        address.host = u"localhost"_s;
    if (!address.port.isEmpty())
        address.instance.clear(); // an explicit port wins over the instance lookup
    if (!address.instance.isEmpty() && resolve) {
        address.port = QString::number(resolve(address.host, address.instance));
        address.instance.clear();
    }
    return address;
}

void appendServer(QString& out, const ServerAddress& address)
{
    out += u"SERVER="_s +
           quoteOdbcValue(address.instance.isEmpty() ? address.host
                                                     : address.host + u'\\' + address.instance) +
           u';';
    if (!address.port.isEmpty())
        out += u"PORT="_s + quoteOdbcValue(address.port) + u';';
}

// A section of FreeTDS's configuration file: one "name = value" a line, no quoting at all.
QString confLine(const QString& name, const QString& value)
{
    if (value.contains(u'\n') || value.contains(u'\r') || value.contains(QChar(0)) ||
        value.trimmed() != value || value.isEmpty())
        throw Error(u"Значение \"%1\" нельзя передать драйверу FreeTDS."_s.arg(value));
    return u'\t' + name + u" = "_s + value + u'\n';
}

// The driver manager reads the string before the driver does: blanks and ";" before a key are
// skipped, and a braced value ends at the first "}" that is not doubled (unixODBC's manager; on
// Windows [MS-ODBCSTR] says the same, skipping fewer blanks). So a value FreeTDS reads whole
// ("a} ;DRIVER=/tmp/x.so") can end early for the manager and hand it keys of its own; a later
// DRIVER or FILEDSN wins over ours and makes it load another library. Such strings are refused.
// Keys the manager ignores do no harm: FreeTDS gets the string as it is. Microsoft's drivers read
// by the manager's rule, so with written given every key and value must read back as written.
void checkDriverManagerView(const QString& odbc, const QString& driver,
                            const KeyValueList* written = nullptr)
{
    const auto refuse = [] {
        throw Error(u"Значение параметра подключения содержит \"}\", за которым диспетчер "
                    u"драйверов ODBC прочёл бы другие параметры."_s);
    };
    KeyValueList read;
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
            break;
        const QString keyAsWritten = odbc.mid(i, eq - i);
        const QString key = keyAsWritten.toUpper();
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
        if (first ? key != u"DRIVER"_s || value != driver : managerKey)
            refuse();
        first = false;
        read.append({keyAsWritten, value});
    }
    if (written && read != *written)
        refuse();
}

bool isTrue(const QString& value)
{
    const QString v = value.trimmed().toLower();
    return v == u"sspi"_s || v == u"true"_s || v == u"yes"_s;
}

// The keywords as the providers write them, for messages.
QString keywordName(const QString& key)
{
    if (key == u"use encryption for data"_s)
        return u"Use Encryption for Data"_s;
    if (key == u"encrypt"_s)
        return u"Encrypt"_s;
    if (key == u"trust server certificate"_s)
        return u"Trust Server Certificate"_s;
    return u"TrustServerCertificate"_s;
}

// "MSOLEDBSQL19", "msoledbsql19.1"
bool encryptsByDefault(const QString& provider)
{
    QString p = provider.trimmed().toLower();
    if (p.endsWith(u".1"_s))
        p.chop(2);
    return p == u"msoledbsql19"_s;
}

} // namespace

bool isEncryptionKey(const QString& key)
{
    return key == u"use encryption for data"_s || key == u"encrypt"_s ||
           key == u"trust server certificate"_s || key == u"trustservercertificate"_s;
}

Encryption encryptionFor(const QString& provider, const KeyValueList& pairs)
{
    Encryption result;
    result.encrypt = encryptsByDefault(provider);
    for (const auto& [key, raw] : pairs) {
        if (!isEncryptionKey(key))
            continue;
        const QString value = raw.trimmed().toLower();
        const bool yes = value == u"yes"_s || value == u"true"_s;
        const bool no = value == u"no"_s || value == u"false"_s;
        if (key == u"trust server certificate"_s || key == u"trustservercertificate"_s) {
            if (!yes && !no)
                throw Error(u"Недопустимое значение \"%1\" параметра подключения \"%2\": "
                            u"допустимы yes, no, true и false."_s.arg(raw, keywordName(key)));
            result.trustCertificate = yes;
            continue;
        }
        result.strict = value == u"strict"_s;
        if (result.strict)
            result.strictSetting = keywordName(key) + u'=' + raw;
        if (yes || value == u"mandatory"_s || result.strict)
            result.encrypt = true;
        else if (no || value == u"optional"_s)
            result.encrypt = false;
        else
            throw Error(u"Недопустимое значение \"%1\" параметра подключения \"%2\": "
                        u"допустимы yes, no, true, false, mandatory, optional и strict."_s.arg(
                            raw, keywordName(key)));
    }
    result.verifyCertificate = result.strict || (result.encrypt && !result.trustCertificate);
    return result;
}

QString caFile()
{
    const QString named = qEnvironmentVariable("DBSETUP_CA_FILE").trimmed();
    return named.isEmpty() ? u"/etc/ssl/certs/ca-certificates.crt"_s : named;
}

namespace {

// Who logs in, and where, as the ADO string says.
struct AdoLogin
{
    QString dataSource;
    QString user;
    QString password;
    QString spn;
    bool hasPassword = false;
    bool integrated = false;
};

AdoLogin adoLogin(const KeyValueList& pairs)
{
    AdoLogin login;
    for (const auto& [key, value] : pairs) {
        if (key == u"data source"_s || key == u"server"_s || key == u"address"_s)
            login.dataSource = value;
        else if (key == u"user id"_s || key == u"uid"_s)
            login.user = value;
        else if (key == u"password"_s || key == u"pwd"_s) {
            login.password = value;
            login.hasPassword = true;
        } else if (key == u"integrated security"_s || key == u"trusted_connection"_s)
            login.integrated = isTrue(value);
        else if (key == u"server spn"_s || key == u"serverspn"_s)
            login.spn = value;
    }
    return login;
}

// driverName as the messages say it: "FreeTDS", or the name in quotes.
[[noreturn]] void refuseStrict(const Encryption& encryption, const QString& driverName,
                               const QString& advice = {})
{
    throw Error(u"Параметр подключения \"%1\" требует строгого шифрования (TDS 8.0), которого "
                u"драйвер %2 не поддерживает. Укажите значение Mandatory (шифровать всё "
                u"соединение) или Optional."_s.arg(encryption.strictSetting, driverName) +
                advice);
}

QString freeTdsConnectionString(OdbcTarget& target, const QString& driver, const AdoLogin& login,
                                const ServerAddress& address, const QString& caFilePath)
{
    const Encryption& encryption = target.encryption;
    if (encryption.strict)
        refuseStrict(encryption, u"FreeTDS"_s);
    QString out = u"DRIVER="_s + quoteOdbcValue(driver) + u';';
    if (encryption.verifyCertificate) {
        if (!QFileInfo(caFilePath).isFile())
            throw Error(u"Не найден файл корневых сертификатов \"%1\", без которого нельзя "
                        u"проверить сертификат сервера. Установите пакет ca-certificates, укажите "
                        u"файл в переменной окружения DBSETUP_CA_FILE или добавьте к строке "
                        u"подключения \"TrustServerCertificate=yes\"."_s.arg(caFilePath));
        QString& conf = target.freetdsConf;
        conf = u'[' + QString::fromLatin1(freetdsConfSection) + u"]\n"_s;
        conf += confLine(u"host"_s, address.host);
        if (!address.port.isEmpty())
            conf += confLine(u"port"_s, address.port);
        else if (!address.instance.isEmpty())
            conf += confLine(u"instance"_s, address.instance);
        conf += confLine(u"tds version"_s, u"7.4"_s);
        conf += confLine(u"encryption"_s, u"require"_s);
        conf += confLine(u"ca file"_s, caFilePath);
        conf += confLine(u"check certificate hostname"_s, u"yes"_s);
        out += u"SERVERNAME="_s + QString::fromLatin1(freetdsConfSection) + u';';
        target.caFile = caFilePath;
    } else {
        appendServer(out, address);
    }
    // "request" is what Microsoft's providers do unasked: the login is encrypted when the server
    // can, the rest only when it insists. FreeTDS's "off" would send the password in clear text.
    // An empty Language: the session speaks its login's default language, as with Microsoft's
    // drivers (a server installed in Russian answers in Russian); FreeTDS would ask for
    // us_english.
    out += u"TDS_Version=7.4;ClientCharset=UTF-8;Language=;Encryption="_s +
           (encryption.encrypt ? u"require"_s : u"request"_s) + u';';
    // The server lists the session under this name (sysprocesses.program_name): an
    // administrator sees who holds a database.
    out += u"APP="_s + quoteOdbcValue(applicationName()) + u';';
    if (login.integrated) {
        // Kerberos: FreeTDS ignores UID and PWD beside Trusted_Connection.
        out += u"Trusted_Connection=Yes;"_s;
        if (!login.spn.isEmpty())
            out += u"ServerSPN="_s + quoteOdbcValue(login.spn) + u';';
    } else {
        // A user written as DOMAIN\name logs in by NTLM: FreeTDS decides by the backslash.
        out += u"UID="_s + quoteOdbcValue(login.user) + u';';
        if (login.hasPassword || !login.user.isEmpty())
            out += u"PWD="_s + quoteOdbcValue(login.password) + u';';
    }
    checkDriverManagerView(out, driver);
    return out;
}

// Keywords from "DSN and Connection String Keywords and Attributes" (driver 17 and 18), "Using
// Connection String Keywords with SQL Server Native Client" and, for the legacy "SQL Server"
// driver, SQL Server 2000's "SQLDriverConnect (ODBC)": that list has Network and Trusted_Connection
// but nothing to demand encryption, trust a certificate or name an SPN.
QString microsoftConnectionString(const OdbcTarget& target, const QString& driver,
                                  const AdoLogin& login, const ServerAddress& address)
{
    const Encryption& encryption = target.encryption;
    const OdbcDialect dialect = target.dialect;
    const bool legacy = dialect == OdbcDialect::LegacySqlServer;
    // Encrypt=Strict came with driver 18 ("ODBC Driver 18 ... major version differences").
    if (encryption.strict && dialect != OdbcDialect::Microsoft18)
        refuseStrict(encryption, u'"' + driver + u'"',
                     u" Строгое шифрование поддерживает драйвер \"ODBC Driver 18 for SQL "
                     u"Server\"."_s);
    // It encrypts only as the machine's client network settings say: maybe not at all.
    if (encryption.encrypt && legacy)
        throw Error(u"Соединение должно быть зашифровано, а драйвер ODBC \"%1\" не позволяет "
                    u"потребовать шифрования в строке подключения. Установите драйвер "
                    u"\"ODBC Driver 18 for SQL Server\" или, если шифрование не нужно, добавьте к "
                    u"строке подключения \"Encrypt=Optional\"."_s.arg(driver));
    // The driver finds a named instance's port itself, through the server's Browser.
    QString server = address.host;
    if (!address.port.isEmpty())
        server += u',' + address.port;
    else if (!address.instance.isEmpty())
        server += u'\\' + address.instance;
    KeyValueList keys{{u"DRIVER"_s, driver}};
    if (legacy) {
        // TCP/IP, as the newer drivers' "tcp:" says: never named pipes or shared memory.
        keys.append({u"SERVER"_s, server});
        keys.append({u"Network"_s, u"dbmssocn"_s});
    } else {
        keys.append({u"SERVER"_s, u"tcp:"_s + server});
        // Said outright either way: driver 18 encrypts and checks the certificate unless told
        // "no", driver 17 does not encrypt unless told "yes".
        keys.append({u"Encrypt"_s, encryption.strict    ? u"strict"_s
                                   : encryption.encrypt ? u"yes"_s
                                                        : u"no"_s});
        // Strict always checks the certificate: the driver ignores TrustServerCertificate then.
        if (encryption.trustCertificate && !encryption.strict)
            keys.append({u"TrustServerCertificate"_s, u"yes"_s});
    }
    keys.append({u"APP"_s, applicationName()});
    if (login.integrated) {
        keys.append({u"Trusted_Connection"_s, u"Yes"_s});
        if (!login.spn.isEmpty() && !legacy)
            keys.append({u"ServerSPN"_s, login.spn});
    } else {
        keys.append({u"UID"_s, login.user});
        if (login.hasPassword || !login.user.isEmpty())
            keys.append({u"PWD"_s, login.password});
    }
    QString out;
    for (const auto& [key, value] : keys)
        out += key + u'=' + quoteMicrosoftOdbcValue(value) + u';';
    checkDriverManagerView(out, driver, &keys);
    return out;
}

} // namespace

OdbcTarget toOdbcTarget(const QString& provider, const QString& adoText, const QString& driver,
                        const InstanceResolver& resolve, const QString& caFilePath)
{
    if (!isSqlServerProvider(provider))
        throw Error(u"Поставщик данных \"%1\" не поддерживается."_s.arg(provider));
    const KeyValueList pairs = parseAdoConnectionString(adoText);
    const AdoLogin login = adoLogin(pairs);
    OdbcTarget target;
    target.encryption = encryptionFor(provider, pairs);
    const QString driverName = driver.isEmpty() ? u"FreeTDS"_s : driver;
    target.dialect = odbcDialect(driverName);
    const bool freeTds = target.dialect == OdbcDialect::FreeTds;
    const ServerAddress address =
        serverAddress(login.dataSource, freeTds ? resolve : InstanceResolver());
    target.connectionString =
        freeTds ? freeTdsConnectionString(target, driverName, login, address, caFilePath)
                : microsoftConnectionString(target, driverName, login, address);
    target.integrated = login.integrated;
    target.host = address.host;
    if (const int port = address.port.toInt(); port > 0)
        target.port = port;
    target.serverSpn = login.spn;
    return target;
}

QString toOdbcConnectionString(const QString& provider, const QString& adoText,
                               const QString& driver, const InstanceResolver& resolve)
{
    return toOdbcTarget(provider, adoText, driver, resolve, caFile()).connectionString;
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
