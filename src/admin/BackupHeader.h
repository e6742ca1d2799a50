#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace db {
class Connection;
}

// What RESTORE HEADERONLY says of the first backup in a file: which database it holds, when and
// on which server it was made.
struct BackupHeader
{
    QString databaseName;
    QDateTime finished;
    QString serverName;
    QString version; // "16.0.1000"
    qsizetype backupsInFile = 1;
};

// Asks the server for the header of the backup file; nothing when the file holds no backup.
// The server's refusal passes on.
std::optional<BackupHeader> ReadBackupHeader(db::Connection& connection, const QString& file);

// "База "shop", копия от 01.02.2024 10:30, сервер SRV, версия 16.0.1000", and how many backups
// the file holds when there are several (a restore takes the first).
QString BackupHeaderText(const BackupHeader& header);
