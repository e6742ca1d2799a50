// The ADO connection string and its ODBC form. Besides surviving any text, the translation keeps
// its promises: a quoted ADO value reads back whole, and in the ODBC string every value is read
// whole by FreeTDS and by unixODBC's driver manager, so no value can add or replace a keyword.
#include "ConnectionStringTranslation.h"
#include "FuzzSupport.h"
#include "MyException.h"
#include "OdbcDrivers.h"
#include "ServerConnection.h"

#include <QStringList>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

using Pairs = QList<std::pair<QString, QString>>;

// FreeTDS's reading: leading blanks of a key dropped; a braced value ends at the first "}"
// followed by ";", "}}" staying as written; any other value ends at ";".
Pairs freeTdsPairs(const QString& s)
{
    Pairs pairs;
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n) {
        while (i < n && s[i] == u';')
            ++i;
        const qsizetype eq = s.indexOf(u'=', i);
        if (i >= n || eq < 0)
            break;
        while (i < eq && s[i] == u' ')
            ++i;
        const QString key = s.mid(i, eq - i);
        i = eq + 1;
        qsizetype end = -1;
        if (i < n && s[i] == u'{') {
            ++i;
            for (qsizetype j = i; j + 1 < n; ++j) {
                if (s[j] == u'}' && s[j + 1] == u';') {
                    end = j;
                    break;
                }
            }
        } else {
            end = s.indexOf(u';', i);
        }
        if (end < 0)
            end = n;
        pairs.append({key, s.mid(i, end - i)});
        i = end;
        if (i < n && s[i] == u'}')
            ++i;
        ++i;
    }
    return pairs;
}

// unixODBC's driver manager (2.3.11): blanks and ";" before a key skipped; a braced value ends
// at the first "}" not doubled, "}}" standing for "}"; text after a NUL is not seen.
Pairs driverManagerPairs(const QString& whole)
{
    const QString s =
        whole.left(whole.indexOf(QChar(0)) < 0 ? whole.size() : whole.indexOf(QChar(0)));
    const auto isCSpace = [](QChar c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
    };
    Pairs pairs;
    qsizetype i = 0;
    const qsizetype n = s.size();
    for (;;) {
        while (i < n && (isCSpace(s[i]) || s[i] == u';'))
            ++i;
        const qsizetype eq = s.indexOf(u'=', i);
        if (i >= n || eq < 0)
            break;
        const QString key = s.mid(i, eq - i);
        i = eq + 1;
        QString value;
        if (i < n && s[i] == u'{') {
            ++i;
            while (i < n && (s[i] != u'}' || (i + 1 < n && s[i + 1] == u'}'))) {
                if (s[i] == u'}')
                    ++i;
                value += s[i++];
            }
            if (i < n)
                ++i;
        } else {
            while (i < n && s[i] != u';')
                value += s[i++];
        }
        pairs.append({key, value});
    }
    return pairs;
}

QString valueOf(const Pairs& pairs, const QString& key)
{
    QString value;
    for (const auto& [k, v] : pairs) {
        if (k.compare(key, Qt::CaseInsensitive) == 0)
            value = v;
    }
    return value;
}

QStringList keysOf(const Pairs& pairs)
{
    QStringList keys;
    for (const auto& pair : pairs)
        keys.append(pair.first.toUpper());
    return keys;
}

QString show(const QString& text)
{
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(" ;=:{}\"'"));
}

// Microsoft's drivers read the string by the driver manager's rule: it gives exactly the keys
// written, once each, and the login as the ADO string said.
void checkMicrosoftOdbc(const QString& odbc, const QString& driver, const QString& user,
                        const QString& password, bool integrated)
{
    const Pairs read = driverManagerPairs(odbc);
    const QStringList keys = keysOf(read);
    FUZZ_CHECK(keys.size() >= 3 && keys[0] == u"DRIVER"_s && keys[1] == u"SERVER"_s, show(odbc));
    for (const QString& key : keys) {
        FUZZ_CHECK(key == u"DRIVER"_s || key == u"SERVER"_s || key == u"NETWORK"_s ||
                       key == u"ENCRYPT"_s || key == u"TRUSTSERVERCERTIFICATE"_s ||
                       key == u"APP"_s || key == u"TRUSTED_CONNECTION"_s || key == u"SERVERSPN"_s ||
                       key == u"UID"_s || key == u"PWD"_s,
                   show(odbc));
        FUZZ_CHECK(keys.count(key) == 1, show(odbc));
    }
    FUZZ_CHECK(valueOf(read, u"DRIVER"_s) == driver, show(odbc));
    if (!integrated) {
        FUZZ_CHECK(valueOf(read, u"UID"_s) == user, show(odbc));
        if (!password.isEmpty() || !user.isEmpty())
            FUZZ_CHECK(valueOf(read, u"PWD"_s) == password, show(odbc));
    }
}

// The ODBC string says what the ADO string said and nothing more, for both of its readers.
void checkOdbc(const QString& odbc, const QString& driver, const QString& user,
               const QString& password, bool integrated)
{
    if (db::odbcDialect(driver) != db::OdbcDialect::FreeTds) {
        checkMicrosoftOdbc(odbc, driver, user, password, integrated);
        return;
    }
    const Pairs tds = freeTdsPairs(odbc);
    const QStringList keys = keysOf(tds);
    // SERVERNAME: a section of the configuration file written for a certificate check.
    FUZZ_CHECK(keys.size() >= 4 && keys[0] == u"DRIVER"_s &&
                   (keys[1] == u"SERVER"_s || keys[1] == u"SERVERNAME"_s),
               show(odbc));
    for (const QString& key : keys) {
        FUZZ_CHECK(key == u"DRIVER"_s || key == u"SERVER"_s || key == u"SERVERNAME"_s ||
                       key == u"PORT"_s || key == u"TDS_VERSION"_s || key == u"CLIENTCHARSET"_s ||
                       key == u"LANGUAGE"_s || key == u"APP"_s || key == u"ENCRYPTION"_s ||
                       key == u"TRUSTED_CONNECTION"_s || key == u"SERVERSPN"_s || key == u"UID"_s ||
                       key == u"PWD"_s,
                   show(odbc));
        FUZZ_CHECK(keys.count(key) == 1, show(odbc));
    }
    FUZZ_CHECK(valueOf(tds, u"DRIVER"_s) == driver, show(odbc));
    // Never "off": that would send the password in clear text.
    const QString encryption = valueOf(tds, u"ENCRYPTION"_s);
    FUZZ_CHECK(encryption == u"request"_s || encryption == u"require"_s, show(odbc));
    if (!integrated) {
        FUZZ_CHECK(valueOf(tds, u"UID"_s) == user, show(odbc));
        if (!password.isEmpty() || !user.isEmpty())
            FUZZ_CHECK(valueOf(tds, u"PWD"_s) == password, show(odbc));
    }

    // The manager acts on DRIVER, DSN, FILEDSN, SAVEFILE and its DM... attributes; a later one
    // would win over (or, for DSN, stand beside) the driver this string names.
    const Pairs dm = driverManagerPairs(odbc);
    FUZZ_CHECK(!dm.isEmpty() && dm[0].first == u"DRIVER"_s && dm[0].second == driver, show(odbc));
    for (qsizetype i = 1; i < dm.size(); ++i) {
        const QString key = dm[i].first.toUpper();
        FUZZ_CHECK(key != u"DRIVER"_s && key != u"DSN"_s && key != u"FILEDSN"_s &&
                       key != u"SAVEFILE"_s && !key.startsWith(u"DM"_s),
                   show(odbc));
    }
}

std::optional<QString> translate(const QString& ado, const QString& driver)
{
    try {
        return db::toOdbcConnectionString(
            u"SQLOLEDB.1"_s, ado, driver,
            [](const QString&, const QString&) -> quint16 { return 1433; });
    } catch (const Error&) {
        return std::nullopt; // refused as a whole: nothing reaches the driver
    }
}

} // namespace

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = fuzz::text(data, size);

    // The whole input as an ADO string.
    const db::KeyValueList pairs = db::parseAdoConnectionString(text);
    QString user;
    QString password;
    bool integrated = false;
    for (const auto& [key, value] : pairs) {
        FUZZ_CHECK(key == key.trimmed() && key == key.toLower(), show(key));
        if (key == u"user id"_s || key == u"uid"_s)
            user = value;
        else if (key == u"password"_s || key == u"pwd"_s)
            password = value;
        else if (key == u"integrated security"_s || key == u"trusted_connection"_s)
            integrated =
                QStringList{u"sspi"_s, u"true"_s, u"yes"_s}.contains(value.trimmed().toLower());
    }
    if (const auto odbc = translate(text, QString()))
        checkOdbc(*odbc, u"FreeTDS"_s, user, password, integrated);

    // Lines as values: server, user, password, driver.
    const QStringList lines = text.split(u'\n');
    for (const QString& value : lines) {
        const Pairs expected{{u"a"_s, u"1"_s}, {u"key"_s, value}, {u"b"_s, u"2"_s}};
        const db::KeyValueList back =
            db::parseAdoConnectionString(u"A=1;Key="_s + db::quoteAdoValue(value) + u";B=2"_s);
        FUZZ_CHECK(back == expected, show(value));
        try {
            const QString quoted = db::quoteOdbcValue(value);
            const Pairs read = freeTdsPairs(u"KEY="_s + quoted + u";NEXT=1;"_s);
            FUZZ_CHECK(read == (Pairs{{u"KEY"_s, value}, {u"NEXT"_s, u"1"_s}}), show(value));
        } catch (const Error&) {
        }
    }
    const QString server = lines.value(0);
    const QString userLine = lines.value(1);
    const QString passwordLine = lines.value(2);
    const QString driver = lines.size() > 3 ? lines[3] : QString();

    // The panel's values, as the program builds its own string from them.
    const QString built = BuildConnectString(server, userLine, passwordLine, false);
    const db::KeyValueList parsed = db::parseAdoConnectionString(built);
    FUZZ_CHECK(parsed == (db::KeyValueList{{u"data source"_s, server},
                                           {u"user id"_s, userLine},
                                           {u"password"_s, passwordLine}}),
               show(built));
    if (const auto odbc = translate(built, driver))
        checkOdbc(*odbc, driver.isEmpty() ? u"FreeTDS"_s : driver, userLine, passwordLine, false);

    const QString windows = BuildConnectString(server, userLine, passwordLine, true);
    FUZZ_CHECK(
        db::parseAdoConnectionString(windows) ==
            (db::KeyValueList{{u"data source"_s, server}, {u"integrated security"_s, u"SSPI"_s}}),
        show(windows));
    if (const auto odbc = translate(windows, driver))
        checkOdbc(*odbc, driver.isEmpty() ? u"FreeTDS"_s : driver, QString(), QString(), true);
    return 0;
}
