#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// NTLM, server side, for logins as a Windows account: FreeTDS authenticates a user name of the
// form DOMAIN\name this way. The challenge goes out, the client's answer is checked against
// the account's password (NTLMv2, or LMv2 alone).
namespace sqlsim::tds::ntlm {

bool isNegotiate(const QByteArray& message);

struct Challenge
{
    QByteArray message;         // the CHALLENGE message
    QByteArray serverChallenge; // its 8 random bytes
};
Challenge makeChallenge(const QString& serverName);

struct Authenticate
{
    QString domain;
    QString user;
    QString workstation;
    QByteArray lmResponse;
    QByteArray ntResponse;
};
// nullopt when the AUTHENTICATE message is malformed.
std::optional<Authenticate> parseAuthenticate(const QByteArray& message);

bool verify(const Authenticate& answer, const QByteArray& serverChallenge, const QString& password);

} // namespace sqlsim::tds::ntlm
