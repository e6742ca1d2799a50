#pragma once

#include <QString>

namespace db {
class Connection;
}

// The four fields of the connection panel and its status label, as the connection routines see
// them. Setting the Windows-authentication tick behaves like the operator's click: when the tick
// changes, the panel's change handler runs at once (and connects).
class ConnectionPanel
{
public:
    virtual ~ConnectionPanel() = default;
    virtual QString server() const = 0;
    virtual void setServer(const QString& text) = 0;
    virtual QString userName() const = 0;
    virtual void setUserName(const QString& text) = 0;
    virtual QString password() const = 0;
    virtual void setPassword(const QString& text) = 0;
    virtual bool isAuthorization() const = 0;
    virtual void setAuthorization(bool on) = 0;
    // "Соединение установлено" in blue, or "Соединение не было установлено" in red with the
    // reason: the driver's or the server's message (never a password), empty when connected.
    virtual void showConnected(bool connected, const QString& reason) = 0;
};

// The connection string the panel's values make. Values holding ";", quotes, braces or outer
// blanks are quoted so that any password logs in; others stand exactly as typed. options (pairs
// "Key=Value" joined by ";") follow when there are any.
QString BuildConnectString(const QString& server, const QString& userName, const QString& password,
                           bool windowsAuthentication, const QString& options = {});

// The password a login uses: the one given, or, when a user is named without one, the
// environment's DBSETUP_PASSWORD (a script's way to keep it off command lines and files).
QString PasswordFor(const QString& userName, const QString& password, bool windowsAuthentication);

struct ParsedConnectString
{
    QString password;
    QString userId;
    QString initialCatalog;
    QString dataSource;
    QString provider;
    bool integratedSecurity = false;
    // The pairs that the panel has no field for but that decide how the connection is made:
    // encryption, the server's certificate, the server's Kerberos name. "Key=Value" as written,
    // joined by ";".
    QString options;
};
// Pairs split by OLE DB's quoting rules (db::splitAdoConnectionString): a quoted value is taken
// whole, an unquoted one exactly as written, blanks kept; keys trimmed and compared in lower
// case; the last of equal keys wins; "Integrated Security" is on only for the exact value "SSPI".
ParsedConnectString SplitConnectString(const QString& text);

// Opens the one connection with the panel's values and keeps the main window's fields that go
// with it.
class ServerConnection
{
public:
    ServerConnection(db::Connection& connection, ConnectionPanel& panel, QString& connectString,
                     QString& currentDBName);

    // Connects with the panel's values, or keeps the open connection when they are unchanged.
    // A failed attempt is no error: the status says so and the result is false.
    bool ConnectServer();
    // Fills the panel, the provider and the current database from a connection string that
    // holds a user id and a data source; any other string changes nothing.
    void ParseConnectString(const QString& text);
    // Reads the "Provider" entry of section "oledb" of a UDL file and parses it; does not connect.
    void LoadConnectString(const QString& path);

    // The options of the last string parsed (see ParsedConnectString); they go into every
    // connection string built from the panel.
    const QString& options() const { return m_options; }
    // Why the last attempt failed, as the status shows it; empty after a success.
    const QString& lastFailure() const { return m_lastFailure; }

private:
    db::Connection& m_connection;
    ConnectionPanel& m_panel;
    QString& m_connectString;
    QString& m_currentDBName;
    QString m_options;
    QString m_lastFailure;
};
