#pragma once

#include <QString>

// Why a Windows-authentication (Kerberos) login could not even start. FreeTDS reports every such
// failure with one text ("Unable to connect to data source"); the operator needs to know whether
// the ticket, the server's service name or the server itself is at fault.
namespace db {

struct KerberosProblem
{
    enum Kind
    {
        None,         // a service ticket can be had: the server refused the login itself
        NoTicket,     // no ticket-granting ticket, or an expired one: kinit
        UnknownSpn,   // the domain knows no such service name
        NoKdc,        // no domain controller of the realm answers
        NoRealm,      // Kerberos is not set up: no default realm
        HostRealm,    // no realm for the server's name (an IP address, say)
        Other,        // see detail
        NoGssLibrary, // Kerberos is not installed here
    };
    Kind kind = None;
    QString host;
    QString spn;    // the service name asked for
    QString detail; // the library's own words
};

// The service name FreeTDS asks for: "MSSQLSvc/<full host name>:<port>", or spn when not empty.
QString kerberosServiceName(const QString& host, int port, const QString& spn = {});

// Tries to get a service ticket for the server as FreeTDS would, with the same library.
KerberosProblem checkKerberos(const QString& host, int port, const QString& spn = {});

// The Russian reason for the operator, to append to the driver's message; empty for None.
QString kerberosReason(const KerberosProblem& problem);

} // namespace db
