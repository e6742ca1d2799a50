#pragma once

#include "ReplySink.h"

#include <QList>
#include <QString>

// SQL Server's messages for BACKUP and RESTORE, worded as it words them.
namespace sqlsim::transfer {

inline constexpr qint64 pageSize = 8192;

enum class Statement
{
    Backup,
    Restore,
    FileList,
    HeaderOnly,
    VerifyOnly
};

Message info(int number, const QString& text);
Message error(int number, const QString& text);

// Sends the messages, then 3013 "... is terminating abnormally." and a failed DONE.
void fail(ReplySink& reply, Statement statement, const QList<Message>& messages);

// "3(The system cannot find the path specified.)": Windows' code and wording of an OS error.
QString osError(int code);

Message noSuchDatabase(const QString& database);                        // 911
Message notOnTempdb();                                                  // 3147
Message masterNeedsSingleUser();                                        // 3108
Message cannotOpenDevice(const QString& disk, int osCode);              // 3201
Message badMediaFamily(const QString& disk);                            // 3241
Message aborted();                                                      // 3204
Message readFailed(const QString& path, int osCode);                    // 3203
Message writeFailed(const QString& path, int osCode);                   // 3202
Message noSuchBackupSet(int file, const QString& disk);                 // 4038
Message inUseBySession(const QString& database);                        // 3102
Message noExclusiveAccess();                                            // 3101
Message otherDatabaseInSet(const QString& database);                    // 3154
Message notInDatabase(const QString& logical, const QString& database); // 3234
Message fileClaimedTwice(const QString& path, const QString& first, int firstId,
                         const QString& second, int secondId);        // 3176
Message directoryLookupFailed(const QString& path, int osCode);       // 5133
Message cannotRestoreTo(const QString& logical, const QString& path); // 3156
Message fileInUse(const QString& path, const QString& database);      // 1834
Message wouldOverwrite(const QString& logical, const QString& path);  // 3142
Message planningFailed();                                             // 3119

} // namespace sqlsim::transfer
