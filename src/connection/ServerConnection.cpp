#include "ServerConnection.h"

#include "Connection.h"
#include "ConnectionStringTranslation.h"
#include "IniFile.h"
#include "MyException.h"
#include "PathMacros.h"

#include <QStringList>

using namespace Qt::StringLiterals;

QString BuildConnectString(const QString& server, const QString& userName, const QString& password,
                           bool windowsAuthentication, const QString& options)
{
    if (windowsAuthentication)
        return u"Data Source="_s + db::quoteAdoValue(server) + u";Integrated Security=SSPI;"_s +
               options;
    return u"Data Source="_s + db::quoteAdoValue(server) + u";User ID="_s +
           db::quoteAdoValue(userName) + u";Password="_s + db::quoteAdoValue(password) +
           (options.isEmpty() ? QString() : u';' + options);
}

namespace {

bool isOptionKey(const QString& key)
{
    return db::isEncryptionKey(key) || key == u"server spn"_s || key == u"serverspn"_s;
}

} // namespace

ParsedConnectString SplitConnectString(const QString& text)
{
    ParsedConnectString parsed;
    QStringList options;
    for (const db::AdoPair& pair : db::splitAdoConnectionString(text)) {
        const QString key = pair.key.trimmed().toLower();
        const QString& value = pair.value;
        if (key == u"password"_s)
            parsed.password = value;
        else if (key == u"user id"_s)
            parsed.userId = value;
        else if (key == u"initial catalog"_s)
            parsed.initialCatalog = value;
        else if (key == u"data source"_s)
            parsed.dataSource = value;
        else if (key == u"provider"_s)
            parsed.provider = value;
        else if (key == u"integrated security"_s)
            parsed.integratedSecurity = value == u"SSPI"_s;
        else if (isOptionKey(key))
            options.append(pair.key.trimmed() + u'=' +
                           db::quoteAdoValue(pair.quoted ? value : value.trimmed()));
    }
    parsed.options = options.join(u';');
    return parsed;
}

ServerConnection::ServerConnection(db::Connection& connection, ConnectionPanel& panel,
                                   QString& connectString, QString& currentDBName)
    : m_connection(connection), m_panel(panel), m_connectString(connectString),
      m_currentDBName(currentDBName)
{}

QString PasswordFor(const QString& userName, const QString& password, bool windowsAuthentication)
{
    if (!password.isEmpty() || windowsAuthentication || userName.isEmpty())
        return password;
    return qEnvironmentVariable("DBSETUP_PASSWORD");
}

bool ServerConnection::ConnectServer()
{
    const QString built = BuildConnectString(
        m_panel.server(), m_panel.userName(),
        PasswordFor(m_panel.userName(), m_panel.password(), m_panel.isAuthorization()),
        m_panel.isAuthorization(), m_options);
    if (m_connection.isOpen() && built == m_connectString)
        return true;
    try {
        m_connection.close();
        m_connection.setDefaultDatabase(u"master"_s);
        m_connection.setConnectionString(built);
        m_connection.open();
    } catch (const std::exception& error) {
        // Reported by the status label only; the callers decide what a failure means.
        m_connection.close();
        m_lastFailure = errorMessage(error);
        m_panel.showConnected(false, m_lastFailure);
        return false;
    }
    m_lastFailure.clear();
    m_connectString = built;
    m_panel.showConnected(true, {});
    return true;
}

void ServerConnection::ParseConnectString(const QString& text)
{
    const ParsedConnectString parsed = SplitConnectString(text);
    if (parsed.userId.isEmpty() || parsed.dataSource.isEmpty())
        return;
    m_panel.setServer(parsed.dataSource);
    m_panel.setUserName(parsed.userId);
    m_panel.setPassword(parsed.password);
    // Before the tick, whose change connects at once.
    m_options = parsed.options;
    m_panel.setAuthorization(parsed.integratedSecurity);
    // A string without "Provider=" keeps the connection's provider: an empty one could never be
    // set on an open connection, and every later run would fail on it.
    if (!parsed.provider.isEmpty())
        m_connection.setProvider(parsed.provider);
    m_currentDBName = parsed.initialCatalog;
}

void ServerConnection::LoadConnectString(const QString& path)
{
    const QString expanded = ExpandMacros(path);
    if (expanded.isEmpty())
        return;
    const QString value =
        platform::IniFile::load(expanded).value(u"oledb"_s, u"Provider"_s).trimmed();
    if (value.isEmpty())
        return;
    ParseConnectString(u"Provider="_s + value);
}
