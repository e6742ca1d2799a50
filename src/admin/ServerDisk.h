#pragma once

#include "OperatorUi.h"
#include "ServerRights.h"

#include <QString>
#include <exception>
#include <optional>

namespace db {
class Connection;
}

// The disk the server reads and writes the files of BACKUP, RESTORE and attach. A server on this
// computer sees this machine's files, and they are checked here. A server on another machine
// names files on its own disks: those are checked, made and listed through the server's own
// procedures, and none of this machine's folders means anything to it.
class ServerDisk : public OperatorUi::ServerFolders
{
public:
    explicit ServerDisk(db::Connection& connection);

    // Whether the server is on another machine: a file made here under a unique name is looked
    // for by the server. Asked once for each connection string, while the connection is open;
    // false while unknown.
    bool isRemote();
    // Whether the server said where it is. A login that is not sysadmin cannot be told: a file
    // missing here may then still be on the server's disk.
    bool locationKnown();
    // Whether a path is the server's to check: every path of a server on another machine; and,
    // when the server would not say where it is, a path with a drive letter or a "\\" path on a
    // system that has neither.
    bool isServerPath(const QString& path);

    // What the connection's login may do; asked once for each connection string.
    const ServerRights& rights();

    // The server's answers. Nothing when the server will not answer, or would answer falsely
    // (to a login that is not sysadmin every file is missing): the statement that uses the
    // path then finds out for itself.
    std::optional<bool> fileExists(const QString& path);
    std::optional<bool> folderExists(const QString& path);
    std::optional<quint64> freeBytes(const QString& path);
    // Makes a folder and every missing parent on the server's disk. The server's refusal throws
    // its db::DbError; a server that will not run the procedure leaves it to the statement.
    void makeFolder(const QString& folder);

    // The instance's default folders, each ending in its separator; empty when the server does
    // not say. Servers before 2012 (data) and 2019 (backups) do not name them in SERVERPROPERTY:
    // the registry values the server itself reads stand in.
    QString defaultDataFolder();
    QString defaultBackupFolder();
    // The account the SQL Server service runs under; empty when the server does not say.
    QString serviceAccount();

    // ServerAccessHint for an error of a statement on a path, the service account asked of the
    // server only when the hint needs it.
    QString accessHint(const std::exception& error, const QString& path);
    // RightsHint for the connection's login.
    QString rightsHint(const std::exception& error, const QString& needed);

    QStringList drives() override;
    QList<Entry> entries(const QString& folder) override;

private:
    // Forgets what was learnt of another connection.
    void follow();
    std::optional<bool> askSeesThisMachine();
    std::optional<int> fileExistColumn(const QString& path, int column);
    // The first value of a query's first row, trimmed; empty when the server will not answer.
    QString firstValue(const QString& sql);
    QString serverProperty(const QString& name);
    QString registryValue(const QString& key, const QString& name);

    db::Connection& m_connection;
    QString m_askedFor; // the connection the answers below are for
    bool m_machineAsked = false;
    std::optional<bool> m_seesThisMachine;
    std::optional<ServerRights> m_rights;
};

// The sentence that says whose disk and whose rights are at fault, when a server's message
// (its number, its text in any language) reports operating system error 5 (access denied) or 3
// (path not found); empty for any other message. path: the path the statement named, used when
// the message names none.
QString ServerAccessHint(int number, const QString& serverMessage, const QString& path,
                         const QString& serviceAccount, bool remote);

// The folder with the separator of its kind at its end: "/" for a path that starts with "/",
// otherwise "\" ("C:\Data" -> "C:\Data\").
QString ServerFolderWithSeparator(const QString& folder);
