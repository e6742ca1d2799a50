#include "TransferMessages.h"

#include "ServerFiles.h"

namespace sqlsim::transfer {

using namespace Qt::StringLiterals;

Message info(int number, const QString& text)
{
    Message m;
    m.number = number;
    m.severity = 0;
    m.text = text;
    return m;
}

Message error(int number, const QString& text)
{
    Message m;
    m.number = number;
    m.severity = 16;
    m.text = text;
    return m;
}

void fail(ReplySink& reply, Statement statement, const QList<Message>& messages)
{
    for (const Message& m : messages)
        reply.message(m);
    QString what;
    switch (statement) {
    case Statement::Backup:
        what = u"BACKUP DATABASE"_s;
        break;
    case Statement::Restore:
        what = u"RESTORE DATABASE"_s;
        break;
    case Statement::FileList:
        what = u"RESTORE FILELIST"_s;
        break;
    case Statement::HeaderOnly:
        what = u"RESTORE HEADERONLY"_s;
        break;
    case Statement::VerifyOnly:
        // RESTORE VERIFYONLY names itself so in its last message.
        what = u"VERIFY DATABASE"_s;
        break;
    }
    reply.message(error(3013, what + u" is terminating abnormally."_s));
    reply.done(DoneKind::Statement, std::nullopt, true);
}

QString osError(int code)
{
    QString text;
    switch (code) {
    case 2:
        text = u"The system cannot find the file specified."_s;
        break;
    case 3:
        text = u"The system cannot find the path specified."_s;
        break;
    case 5:
        text = u"Access is denied."_s;
        break;
    case 13:
        text = u"The data is invalid."_s;
        break;
    case 32:
        text = u"The process cannot access the file because it is being used by another "
               u"process."_s;
        break;
    case 33:
        text = u"The process cannot access the file because another process has locked a "
               u"portion of the file."_s;
        break;
    case 38:
        text = u"Reached the end of the file."_s;
        break;
    case 112:
        text = u"There is not enough space on the disk."_s;
        break;
    default:
        text = u"Unknown error."_s;
        break;
    }
    return u"%1(%2)"_s.arg(code).arg(text);
}

Message noSuchDatabase(const QString& database)
{
    return error(911, u"Database '%1' does not exist. Make sure that the name is entered "
                      u"correctly."_s.arg(database));
}

Message notOnTempdb()
{
    return error(3147, u"Backup and restore operations are not allowed on database tempdb."_s);
}

Message masterNeedsSingleUser()
{
    return error(3108, u"To restore the master database, the server must be running in "
                       u"single-user mode. For information on starting in single-user mode, see "
                       u"\"How to: Start an Instance of SQL Server (sqlservr.exe)\" in Books "
                       u"Online."_s);
}

Message cannotOpenDevice(const QString& disk, int osCode)
{
    return error(3201, u"Cannot open backup device '%1'. Operating system error %2."_s.arg(
                           serverfiles::shown(disk), osError(osCode)));
}

Message badMediaFamily(const QString& disk)
{
    return error(3241, u"The media family on device '%1' is incorrectly formed. SQL Server cannot "
                       u"process this media family."_s.arg(serverfiles::shown(disk)));
}

Message aborted()
{
    return error(3204, u"The backup or restore was aborted."_s);
}

Message readFailed(const QString& path, int osCode)
{
    return error(3203,
                 u"Read on \"%1\" failed: %2"_s.arg(serverfiles::shown(path), osError(osCode)));
}

Message writeFailed(const QString& path, int osCode)
{
    return error(3202,
                 u"Write on \"%1\" failed: %2"_s.arg(serverfiles::shown(path), osError(osCode)));
}

Message noSuchBackupSet(int file, const QString& disk)
{
    return error(4038, u"Cannot find file ID %1 on device '%2'."_s.arg(QString::number(file),
                                                                       serverfiles::shown(disk)));
}

Message inUseBySession(const QString& database)
{
    return error(3102, u"RESTORE cannot process database '%1' because it is in use by this "
                       u"session. It is recommended that the master database be used when "
                       u"performing this operation."_s.arg(database));
}

Message noExclusiveAccess()
{
    return error(3101, u"Exclusive access could not be obtained because the database is in use."_s);
}

Message otherDatabaseInSet(const QString& database)
{
    return error(3154, u"The backup set holds a backup of a database other than the existing "
                       u"'%1' database."_s.arg(database));
}

Message notInDatabase(const QString& logical, const QString& database)
{
    return error(3234, u"Logical file '%1' is not part of database '%2'. Use RESTORE "
                       u"FILELISTONLY to list the logical file names."_s.arg(logical, database));
}

Message fileClaimedTwice(const QString& path, const QString& first, int firstId,
                         const QString& second, int secondId)
{
    return error(3176, u"File '%1' is claimed by '%2'(%3) and '%4'(%5). The WITH MOVE clause can "
                       u"be used to relocate one or more files."_s.arg(
                           serverfiles::shown(path), first, QString::number(firstId), second,
                           QString::number(secondId)));
}

Message directoryLookupFailed(const QString& path, int osCode)
{
    return error(5133, u"Directory lookup for the file \"%1\" failed with the operating system "
                       u"error %2."_s.arg(serverfiles::shown(path), osError(osCode)));
}

Message cannotRestoreTo(const QString& logical, const QString& path)
{
    return error(3156, u"File '%1' cannot be restored to '%2'. Use WITH MOVE to identify a valid "
                       u"location for the file."_s.arg(logical, serverfiles::shown(path)));
}

Message fileInUse(const QString& path, const QString& database)
{
    return error(1834, u"The file '%1' cannot be overwritten.  It is being used by database "
                       u"'%2'."_s.arg(serverfiles::shown(path), database));
}

Message wouldOverwrite(const QString& logical, const QString& path)
{
    return error(3142, u"File \"%1\" cannot be restored over the existing \"%2\". Reissue the "
                       u"RESTORE statement using WITH REPLACE to overwrite pre-existing files, or "
                       u"WITH MOVE to identify an alternate location."_s.arg(
                           logical, serverfiles::shown(path)));
}

Message planningFailed()
{
    return error(3119, u"Problems were identified while planning for the RESTORE statement. "
                       u"Previous messages provide details."_s);
}

} // namespace sqlsim::transfer
