#pragma once

#include <QString>
#include <exception>
#include <optional>

namespace db {
class Connection;
}

// What the connection's login may do on the server, as the server itself says. An office often
// gives its operators dbcreator and db_backupoperator rather than sysadmin; checks whose answers
// mean nothing under such rights are then left to the statements themselves.
struct ServerRights
{
    QString login;                       // SUSER_SNAME(); empty when unknown
    std::optional<bool> sysadmin;        // nothing when the server would not say
    std::optional<bool> viewServerState; // HAS_PERMS_BY_NAME(NULL, NULL, 'VIEW SERVER STATE')

    // xp_fileexist and its kin answer truly only to sysadmin: anyone else is told that files
    // which exist do not. Unknown rights are trusted, as a server that cannot say is an old one.
    bool serverProceduresTrusted() const { return sysadmin.value_or(true); }
    // Without VIEW SERVER STATE sysprocesses shows a login nothing but its own sessions.
    bool seesOtherSessions() const
    {
        return sysadmin.value_or(false) || viewServerState.value_or(true);
    }
    // "\"OFFICE\\ivanov\"", or the words for an unknown login.
    QString loginText() const;
};

// Asks the server; what it will not say stays unknown. Only a lost connection throws.
ServerRights AskServerRights(db::Connection& connection);

// What an operation needs, for the sentence that names it when the server refuses for lack of it.
namespace neededRight {
extern const QString backup;
extern const QString restoreNew;
extern const QString restoreOver;
extern const QString readBackup;
extern const QString attach;
extern const QString detach;
extern const QString startupProcedure;
extern const QString viewServerState;
} // namespace neededRight

// Whether a server error says the login lacks a permission (229, 262, 3110, 15247, ...).
bool IsPermissionError(int number);

// "Учётной записи \"ivanov\" не хватает прав: <needed>." when the error is the server refusing
// for lack of rights; empty otherwise. An ALTER DATABASE refused (5011) is named as such, whatever
// the operation it came before.
QString RightsHint(const std::exception& error, const ServerRights& rights, const QString& needed);
