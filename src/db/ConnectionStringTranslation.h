#pragma once

#include "OdbcDrivers.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <utility>

// ADO-style connection strings ("Data Source=.;User ID=sa;Password=x") and their ODBC form.
namespace db {

using KeyValueList = QList<std::pair<QString, QString>>;

// One "Key=Value" of an ADO connection string, split by OLE DB's rules: a value in double or
// single quotes is taken whole without them, ";" inside is text and the quote doubled inside
// stands for itself; blanks between "=" and the opening quote and whatever follows the closing
// quote up to ";" are skipped. Any other value stays exactly as it stands between "=" and ";",
// blanks kept; so does the key before "=".
struct AdoPair
{
    QString key;
    QString value;
    bool quoted = false;
};
// Pairs in order; pieces without "=" are skipped.
QList<AdoPair> splitAdoConnectionString(const QString& text);

// Pairs in order, keys trimmed and lower-cased, unquoted values trimmed (see AdoPair).
KeyValueList parseAdoConnectionString(const QString& text);

// The value as it may stand after "Key=": unchanged when nothing in it could be misread,
// otherwise quoted so that parseAdoConnectionString gives it back whole.
QString quoteAdoValue(const QString& value);

// The value as it may stand after "KEY=" in FreeTDS's ODBC string: braced when needed. Throws
// Error for a value holding "};", which FreeTDS cannot take whole, or a NUL, which would end the
// string.
QString quoteOdbcValue(const QString& value);

// The value as it may stand after "KEY=" for Microsoft's drivers and driver managers: braced when
// needed, a "}" inside doubled. Throws Error for a value holding a NUL.
QString quoteMicrosoftOdbcValue(const QString& value);

// Whether the provider name stands for SQL Server (SQLOLEDB, SQLNCLI*, MSOLEDBSQL*); empty too.
bool isSqlServerProvider(const QString& provider);

// The TCP port of a named instance on a host (see InstanceLookup.h).
using InstanceResolver = std::function<quint16(const QString& host, const QString& instance)>;

// How the connection is protected: from the provider's defaults and the string's keywords
// "Use Encryption for Data" / "Encrypt" (yes/no/true/false/mandatory/optional/strict) and
// "Trust Server Certificate" / "TrustServerCertificate" (yes/no/true/false). MSOLEDBSQL19 encrypts
// and checks the certificate unless told otherwise; older providers encrypt only when asked.
struct Encryption
{
    bool encrypt = false;           // every packet, not only the login
    bool verifyCertificate = false; // only when encrypting
    bool trustCertificate = false;  // as the string says, encrypting or not
    // TDS 8: the login too inside TLS, the certificate always checked.
    bool strict = false;
    QString strictSetting; // as written ("Encrypt=strict"), for messages
};
// Throws Error for a value none of the providers knows. A driver that cannot do what the result
// asks refuses the connection (toOdbcTarget) rather than making it weaker than asked.
Encryption encryptionFor(const QString& provider, const KeyValueList& pairs);
// Whether the key is one of the keywords above (lower-case, as parseAdoConnectionString gives).
bool isEncryptionKey(const QString& key);

// What the ODBC driver needs for one connection. FreeTDS takes the file of certificate
// authorities only from its configuration file, never from the connection string, so a FreeTDS
// connection that checks the certificate names a section of freetdsConf (SERVERNAME=) that the
// caller must let FreeTDS read (FREETDSCONF) while it connects. Microsoft's drivers check it
// against the system's own store.
struct OdbcTarget
{
    OdbcDialect dialect = OdbcDialect::FreeTds;
    QString connectionString;
    QString freetdsConf; // empty unless the certificate is checked
    Encryption encryption;
    QString caFile; // the authorities' file named in freetdsConf
    // Windows authentication (Kerberos), and what it needs to say why a login failed.
    bool integrated = false;
    QString host;
    int port = 1433;
    QString serverSpn;
};
// The section that OdbcTarget::freetdsConf defines.
inline constexpr char freetdsConfSection[] = "dbsetup_verified";
// The file of trusted certificate authorities: DBSETUP_CA_FILE, else the system's bundle.
QString caFile();

// The ODBC target for an ADO provider and string; see toOdbcConnectionString. caFilePath is the
// file named in freetdsConf; the file must exist when the certificate is to be checked.
OdbcTarget toOdbcTarget(const QString& provider, const QString& adoText, const QString& driver = {},
                        const InstanceResolver& resolve = {}, const QString& caFilePath = caFile());

// The ODBC connection string for an ADO provider and string, in the keywords of the driver
// (odbcDialect; empty: "FreeTDS"). For FreeTDS a named instance without a port is given to
// resolve when there is one, otherwise left to the driver; Microsoft's drivers always ask the
// server's Browser themselves. The session is named db::applicationName() (APP=). Throws Error
// for a provider that is not SQL Server's, for protection the driver cannot give, and for values
// that the driver manager would read as keys of their own (see quoteOdbcValue for what FreeTDS
// cannot take). The starting database is not part of it (the connection sets it).
QString toOdbcConnectionString(const QString& provider, const QString& adoText,
                               const QString& driver = {}, const InstanceResolver& resolve = {});

// Login timeout in seconds from the text of DBSETUP_LOGIN_TIMEOUT: 15 unless a positive number.
int loginTimeoutFrom(const QByteArray& environmentValue);
int loginTimeoutSeconds();
// DBSETUP_ODBC_DRIVER, trimmed (see odbcDriver).
QString odbcDriverOverride();

} // namespace db
