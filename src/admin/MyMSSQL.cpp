#include "MyMSSQL.h"

#include "Connection.h"
#include "DiskSpace.h"
#include "FileHelpers.h"
#include "MyException.h"
#include "PathMacros.h"
#include "PathText.h"
#include "PreviousBackup.h"
#include "ServerDisk.h"
#include "ServerRights.h"
#include "StatementText.h"
#include "TextDecoding.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <optional>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr int historyTimeoutSeconds = 3600;
constexpr int backupTimeoutSeconds = 3600;
constexpr int fileListTimeoutSeconds = 36000;
constexpr auto pollInterval = std::chrono::milliseconds(10);

// Polls the asynchronous statement every 10 ms, handing over the time and the server's progress;
// a stop asked for cancels it, and its error then leaves waitForAsync.
void waitForServer(db::Connection& connection, const ServerProgress& progress)
{
    bool cancelled = false;
    while (connection.isExecuting()) {
        if (progress.pump)
            progress.pump();
        if (!cancelled && progress.stopRequested && progress.stopRequested()) {
            connection.cancel();
            cancelled = true;
        }
        std::this_thread::sleep_for(pollInterval);
    }
    connection.waitForAsync();
}

db::Connection::MessageHandler percentHandler(const ServerProgress& progress)
{
    return [progress](const db::ServerMessage& message) {
        if (const auto percent = ProgressPercent(message); percent && progress.percent)
            progress.percent(*percent, progress.step);
    };
}

QString folderError(const QString& folder)
{
    return u"Не удалось создать путь \""_s + folder + u"\"."_s;
}

// The operator's message, then whose disk or rights are at fault when the server's error says.
QString withHint(QString message, ServerDisk& disk, const std::exception& error,
                 const QString& path)
{
    if (const QString hint = disk.accessHint(error, path); !hint.isEmpty())
        message += u"\r\n"_s + hint;
    return message;
}

// A failure as the operator reads it: what failed and whose disk or rights the server's error
// points at, then the server's own words, then the right the login lacks when the server
// refused for lack of one.
MyException failure(QString message, ServerDisk* disk, const std::exception& error,
                    const QString& path, const QString& needed)
{
    if (disk == nullptr)
        return MyException({}, message, &error);
    return MyException({}, withHint(message, *disk, error, path), &error,
                       disk->rightsHint(error, needed));
}

// Makes a folder on the server's disk; its refusal throws the folder error with the server's.
void makeServerFolder(ServerDisk& disk, const QString& folder, const QString& shown)
{
    try {
        disk.makeFolder(folder);
    } catch (const db::DbError& error) {
        throw MyException({}, withHint(folderError(shown), disk, error, folder), &error);
    }
}

QString withoutTrailingSeparator(QString folder)
{
    while (!folder.isEmpty() && pathtext::isSeparator(folder.back()))
        folder.chop(1);
    return folder;
}

// The file-name part of a path written with either separator.
QString fileNamePart(const QString& path)
{
    return path.mid(pathtext::lastSeparator(path) + 1);
}

} // namespace

QString LastBackupFile(db::Connection& connection, const QString& databaseName)
{
    const QString sql =
        u"select top 1 description,backup_set_id, backup_finish_date, database_name, "
        u"physical_device_name \r\n"
        u"from msdb.dbo.backupset bs inner join msdb.dbo.backupmediafamily bm on "
        u"(bm.media_set_id=bs.media_set_id )\r\n"
        u"where database_name=N'"_s +
        sqltext::literalBody(databaseName) + u"' order by backup_set_id desc\r\n"_s;
    if (!connection.isOpen())
        connection.open();
    const auto rows = connection.openRecordSet(sql, historyTimeoutSeconds);
    rows->first();
    if (rows->eof())
        return {};
    return platform::trimBlanks(rows->fieldText(u"physical_device_name"_s)).toString();
}

QString DefaultBackupFileName(const QString& databaseName, const QDate& today)
{
    return databaseName + u'_' + today.toString(u"ddMMyy"_s) + u".bak"_s;
}

QString BackupStatement(const QString& databaseName, const QString& backupFile,
                        const QString& description, const QDateTime& now, bool copyOnly)
{
    const QString name = sqltext::literalBody(databaseName);
    // nvarchar and an N literal: a name outside the server's code page would otherwise reach it
    // as another name ("café" as "caf?" on a Cyrillic server).
    return u"declare @DBName nvarchar(128)\r\nset @DBName=N'"_s + name + u"'"_s +
           u"BACKUP DATABASE @DBName TO  DISK = N'"_s + sqltext::literalBody(backupFile) + u"' "_s +
           u" WITH  INIT, "_s + u" DESCRIPTION="_s + u"'"_s + sqltext::literalBody(description) +
           u"'"_s + u", "_s + u" NOUNLOAD ,  NAME = N'"_s + name + u" backup on "_s +
           now.toString(u"dd-MM-yyyy HH:mm"_s) + u"',  NOSKIP ,  STATS = 10,  NOFORMAT "_s +
           (copyOnly ? u", COPY_ONLY"_s : QString());
}

void MakeBackupFolder(const QString& backupFile, ServerDisk& disk)
{
    const qsizetype cut = pathtext::lastSeparator(backupFile);
    const QString folder = cut < 0 ? QString() : backupFile.left(cut + 1);
    // A folder on the server's disk is the server's to make: one made here would be the
    // operator's, on the wrong machine or out of the service's reach.
    const bool onServer = disk.isServerPath(backupFile);
    if (onServer && !folder.isEmpty())
        makeServerFolder(disk, folder, withoutTrailingSeparator(folder));
    else if (!onServer && !ForceDirs(folder))
        throw MyException(folderError(withoutTrailingSeparator(folder)));
}

namespace {

const QString previousBackIn = u"Прежняя резервная копия возвращена на место."_s;

void verifyBackup(const QString& backupFile, db::Connection& connection,
                  const ServerProgress& progress)
{
    if (!connection.isOpen())
        connection.open();
    // Its percentages are told apart from the backup's.
    ServerProgress checking = progress;
    checking.step = u"Проверка"_s;
    connection.executeAsync(u"RESTORE VERIFYONLY FROM DISK = N'"_s +
                                sqltext::literalBody(backupFile) + u"' WITH STATS = 10"_s,
                            percentHandler(checking));
    waitForServer(connection, checking);
}

QString notVerified(const QString& backupFile)
{
    return u"Резервная копия \""_s + backupFile + u"\" не прошла проверку."_s;
}

// The line that says where the previous backup is after a failure: back under its name, or
// where it had to stay.
QString previousLine(std::optional<PreviousBackup>& previous)
{
    if (previous && !previous->notKept().isEmpty())
        return u"\r\n"_s + previous->notKept();
    if (!previous || previous->asidePath().isEmpty())
        return {};
    const QString kept = previous->restore();
    return u"\r\n"_s + (kept.isEmpty() ? previousBackIn : kept);
}

} // namespace

QString MSSQLBackupDB(const QString& databaseName, const QString& backupFile,
                      const QString& description, db::Connection& connection, ServerDisk& disk,
                      const ServerProgress& progress, bool verify, bool copyOnly)
{
    MakeBackupFolder(backupFile, disk);
    const bool onServer = disk.isServerPath(backupFile);
    const QString sql = BackupStatement(databaseName, backupFile, description,
                                        QDateTime::currentDateTime(), copyOnly);
    connection.setCommandTimeout(backupTimeoutSeconds);
    std::optional<PreviousBackup> previous;
    try {
        // The server overwrites a file in place from its start, so a backup that fails part-way
        // would take the operator's previous one with it. A file only the server sees is the
        // server's to keep.
        if (!onServer)
            previous.emplace(backupFile);
        connection.executeAsync(sql, percentHandler(progress));
        waitForServer(connection, progress);
    } catch (const std::exception& error) {
        throw failure(u"Не удалось создать резервную копию базы \""_s + databaseName + u"\"."_s +
                          previousLine(previous),
                      &disk, error, backupFile, neededRight::backup);
    }
    // The previous backup goes only once the new one is known to be sound.
    if (verify) {
        try {
            verifyBackup(backupFile, connection, progress);
        } catch (const std::exception& error) {
            throw failure(notVerified(backupFile) + previousLine(previous), &disk, error,
                          backupFile, neededRight::readBackup);
        }
    }
    if (!previous)
        return {};
    previous->discard();
    return previous->notKept();
}

void MSSQLVerifyBackup(const QString& backupFile, db::Connection& connection,
                       const ServerProgress& progress)
{
    try {
        verifyBackup(backupFile, connection, progress);
    } catch (const std::exception& error) {
        throw MyException({}, notVerified(backupFile), &error);
    }
}

bool IsServerSidePath(const QString& path)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(path);
    return false;
#else
    static const QRegularExpression drive(u"^[A-Za-z]:"_s);
    return drive.match(path).hasMatch() || path.startsWith(u"\\\\"_s);
#endif
}

QString DrivePart(const QString& path)
{
    static const QRegularExpression drive(u"^[A-Za-z]:"_s);
    if (drive.match(path).hasMatch())
        return path.left(2);
    if (path.startsWith(u"\\\\"_s) || path.startsWith(u"//"_s)) {
        // \\server\share
        const QStringList parts = path.mid(2).split(QRegularExpression(u"[\\\\/]"_s));
        return u"\\\\"_s + parts.value(0) + u'\\' + parts.value(1);
    }
    if (!QDir::isAbsolutePath(path))
        return {};
    return platform::mountRoot(path);
}

QString IsRemovableDrive(const QString& backupFile, const QString& apprNamePathName,
                         const QString& systemDir)
{
    const QString drive = DrivePart(backupFile);
    if (drive.compare(DrivePart(apprNamePathName), Qt::CaseInsensitive) == 0)
        return {};
    if (drive.compare(DrivePart(systemDir), Qt::CaseInsensitive) == 0)
        return {};
    return u"REMOVABLE"_s;
}

QString RestoreStatement(const QString& databaseName, const QString& backupFile,
                         const QString& restoreFolder, const QList<BackupFileEntry>& files,
                         bool replace)
{
    QString sql = u"restore database "_s + sqltext::identifier(databaseName) + u" from disk=N'"_s +
                  sqltext::literalBody(backupFile) + u"' with \r\n"_s;
    for (const BackupFileEntry& file : files) {
        const QString name =
            file.targetName.isEmpty() ? fileNamePart(file.physicalName) : file.targetName;
        sql += u" move N'"_s + sqltext::literalBody(file.logicalName) + u"' to N'"_s +
               sqltext::literalBody(restoreFolder + name) + u"',"_s;
    }
    if (replace)
        sql += u" Replace"_s;
    else
        sql.chop(1);
    // The server reports its progress as it does for a backup.
    return sql + u", STATS = 10"_s;
}

QStringList CopyFileNames(const QString& databaseName, const QList<BackupFileEntry>& files)
{
    static const QRegularExpression notInFileNames(u"[<>:\"/\\\\|?*\\x00-\\x1f]"_s);
    QString base = databaseName;
    base.replace(notInFileNames, u"_"_s);
    QStringList names;
    int data = 0;
    int logs = 0;
    for (const BackupFileEntry& file : files) {
        if (file.type == u'L')
            names << (logs++ == 0 ? base + u"_log.ldf"_s
                                  : base + u"_log_"_s + QString::number(logs - 1) + u".ldf"_s);
        else
            names << (data++ == 0 ? base + u".mdf"_s
                                  : base + u'_' + QString::number(data - 1) + u".ndf"_s);
    }
    return names;
}

namespace {

// Paths compare as Windows compares them: without regard to case or to the separator.
QString comparablePath(QString path)
{
    path.replace(u'/', u'\\');
    return path.toCaseFolded();
}

// The files the server keeps: those of the database a restore replaces, and everyone else's.
struct KnownFiles
{
    QSet<QString> own;
    QSet<QString> others;
};

KnownFiles knownFiles(const QString& databaseName, db::Connection& connection)
{
    KnownFiles known;
    const auto collect = [&](const QString& sql, const QString& ownColumn,
                             const QString& pathColumn) {
        const auto rows = connection.openRecordSet(sql, fileListTimeoutSeconds);
        for (rows->first(); !rows->eof(); rows->next()) {
            const QString path =
                comparablePath(platform::trimBlanks(rows->fieldText(pathColumn)).toString());
            (rows->fieldText(ownColumn).trimmed() == u"1"_s ? known.own : known.others)
                .insert(path);
        }
    };
    const QString self = u"DB_ID(N'"_s + sqltext::literalBody(databaseName) + u"')"_s;
    try {
        // Every file of every database, logs and further data files included; the server
        // decides which database the name means.
        collect(u"SELECT CASE WHEN database_id = "_s + self +
                    u" THEN 1 ELSE 0 END AS own, physical_name FROM sys.master_files"_s,
                u"own"_s, u"physical_name"_s);
    } catch (const db::DbError& error) {
        if (error.isConnectionLoss())
            throw;
        // A server without the view knows only each database's primary file: a file of the
        // replaced database that is not listed counts as someone else's, never the other way.
        known = {};
        collect(u"SELECT CASE WHEN dbid = "_s + self +
                    u" THEN 1 ELSE 0 END AS own, filename FROM master.dbo.sysdatabases"_s,
                u"own"_s, u"filename"_s);
    }
    return known;
}

// A restore writes only over the files of the database it replaces. Where a file of the backup
// would land on anything else (a detached database's file, another database's, any file at all),
// every file gets a name made from the new database's name instead, as the server's own tools
// propose; when one of those is taken too, the restore is refused naming it.
void chooseTargetNames(const QString& databaseName, const QString& folder,
                       QList<BackupFileEntry>& files, db::Connection& connection, ServerDisk& disk)
{
    const KnownFiles known = knownFiles(databaseName, connection);
    const bool onServer = disk.isServerPath(folder);
    const auto taken = [&](const QString& target) {
        const QString path = comparablePath(target);
        if (known.others.contains(path))
            return true;
        if (known.own.contains(path))
            return false;
        return onServer ? disk.fileExists(target).value_or(false) : QFileInfo::exists(target);
    };
    const auto firstTaken = [&]() -> QString {
        for (const BackupFileEntry& file : std::as_const(files)) {
            const QString target =
                folder +
                (file.targetName.isEmpty() ? fileNamePart(file.physicalName) : file.targetName);
            if (taken(target))
                return target;
        }
        return {};
    };
    if (firstTaken().isEmpty())
        return;
    const QStringList names = CopyFileNames(databaseName, files);
    for (qsizetype i = 0; i < files.size(); ++i)
        files[i].targetName = names[i];
    if (const QString target = firstTaken(); !target.isEmpty())
        throw MyException(u"Файл \""_s + target + u"\" уже существует и не принадлежит базе \""_s +
                          databaseName +
                          u"\": восстановление не запишет поверх него. Выберите другую папку или "
                          u"другое имя базы."_s);
}

// Where a missing backup file was looked for, when that is not plain: a folder named instead of
// a file, or the disk of a server on another machine (which a file of this one is not on).
QString missingFileHint(const QString& file, bool onServer, ServerDisk& disk)
{
    if (onServer ? disk.folderExists(file).value_or(false) : QFileInfo(file).isDir())
        return u"\r\n\""_s + file + u"\" — это папка, а не файл резервной копии."_s;
    if (!onServer || !disk.isRemote())
        return {};
    QString hint = u"\r\nФайл искали на диске сервера: сервер работает на другом компьютере и "
                   u"видит только свои диски."_s;
    if (QFileInfo(file).isFile())
        hint += u" На этом компьютере такой файл есть: положите его в папку на диске сервера."_s;
    return hint;
}

} // namespace

namespace {

// A restore that fails once it has begun leaves the database RESTORING: nobody can use it until
// a restore succeeds (SQL Server: "RESTORE Statements", "Restore and Recovery Overview").
QString restoringLine(const RestorePlan& plan, db::Connection& connection)
{
    try {
        // A restore cut off with its connection may have left the database so as well.
        if (!connection.isOpen())
            connection.open();
        const auto rows = connection.openRecordSet(u"SELECT CAST(DATABASEPROPERTYEX(N'"_s +
                                                       sqltext::literalBody(plan.databaseName) +
                                                       u"', 'Status') AS nvarchar(60)) AS status"_s,
                                                   historyTimeoutSeconds);
        if (rows->isEmpty() || platform::trimBlanks(rows->value(0, 0).toString()) != u"RESTORING"_s)
            return {};
    } catch (const std::exception&) {
        return {};
    }
    return u"\r\nБаза данных \""_s + plan.databaseName +
           u"\" осталась в состоянии RESTORING: работать с ней нельзя, пока восстановление из "
           u"резервной копии не завершится успешно."_s;
}

} // namespace

RestorePlan PrepareRestore(const QString& databaseName, const QString& backupFile,
                           const QString& restoreFolder, bool replace, db::Connection& connection,
                           ServerDisk& disk, const ServerProgress& progress)
{
    if (databaseName.trimmed().isEmpty())
        throw MyException(u"Не задано имя восстанавливаемой базы данных."_s);
    if (!connection.isOpen())
        connection.open();
    RestorePlan plan;
    plan.databaseName = databaseName;
    plan.replace = replace;
    const QString file = ExpandMacros(backupFile);
    plan.backupFile = file;
    const bool fileOnServer = disk.isServerPath(file);
    // A file missing here is refused only when the server is known to share this disk.
    const bool missing = fileOnServer ? !disk.fileExists(file).value_or(true)
                                      : !QFileInfo(file).isFile() && disk.locationKnown();
    if (missing)
        throw MyException(u"Файл резервной копии \""_s + file + u"\" не найден."_s +
                          missingFileHint(file, fileOnServer, disk));
    QString folder = ExpandMacros(restoreFolder);
    // The whole text names the folder, a dot in its last part included.
    const bool folderOnServer = disk.isServerPath(folder);
    if (folder.isEmpty() ||
        (!folderOnServer && !ForceDirs(pathtext::withTrailingSeparator(folder))))
        throw MyException(folderError(folder));
    if (folderOnServer) {
        makeServerFolder(disk, folder, folder);
        folder = ServerFolderWithSeparator(folder);
    } else if (!pathtext::isSeparator(folder.back())) {
        folder += pathtext::nativeSeparator();
    }
    plan.folder = folder;

    try {
        const auto list = connection.openRecordSet(u"RESTORE FILELISTONLY FROM disk=N'"_s +
                                                       sqltext::literalBody(file) + u"'"_s,
                                                   fileListTimeoutSeconds);
        for (list->first(); !list->eof(); list->next()) {
            const QString type = list->fieldText(u"Type"_s).trimmed();
            plan.files.append({list->fieldText(u"LogicalName"_s),
                               list->fieldText(u"PhysicalName"_s),
                               type.isEmpty() ? QChar(u'D') : type.at(0).toUpper(),
                               {}});
        }
    } catch (const db::DbError& error) {
        // The server could not read the file: which file, whose rights or disk when the error
        // says, then the server's own words.
        if (error.isConnectionLoss())
            throw;
        const QString hint = disk.accessHint(error, file);
        const QString rights = disk.rightsHint(error, neededRight::readBackup);
        throw MyException({},
                          hint.isEmpty()
                              ? u"Не удалось прочитать файл резервной копии \""_s + file + u"\"."_s
                              : hint,
                          &error, rights);
    }
    // Reading the file list of a large backup takes a while: the window paints before the
    // restore starts.
    if (progress.pump)
        progress.pump();
    chooseTargetNames(databaseName, folder, plan.files, connection, disk);
    return plan;
}

void RunRestore(const RestorePlan& plan, db::Connection& connection, ServerDisk& disk,
                const ServerProgress& progress, const QString& prefix)
{
    const QString sql = prefix + RestoreStatement(plan.databaseName, plan.backupFile, plan.folder,
                                                  plan.files, plan.replace);
    try {
        if (!connection.isOpen())
            connection.open();
        connection.executeAsync(sql, percentHandler(progress));
        waitForServer(connection, progress);
    } catch (const std::exception& error) {
        // CREATE DATABASE refused (262) is a new database's right; RESTORE refused (3110) one
        // over an existing database.
        const bool newDatabase = serverErrorOf(error) == 262;
        throw failure(u"Не удалось восстановить базу."_s + restoringLine(plan, connection), &disk,
                      error, plan.folder,
                      newDatabase ? neededRight::restoreNew : neededRight::restoreOver);
    }
}

void MSSQLRestoreDB(const QString& databaseName, const QString& backupFile,
                    const QString& restoreFolder, bool replace, db::Connection& connection,
                    ServerDisk& disk, const ServerProgress& progress)
{
    RunRestore(PrepareRestore(databaseName, backupFile, restoreFolder, replace, connection, disk,
                              progress),
               connection, disk, progress);
}

QString MSSQLAttachDB(const QString& databaseName, const QString& dataFile, const QString& logFile,
                      db::Connection& connection, ServerDisk* disk)
{
    try {
        if (!logFile.isEmpty())
            connection.callProcedure(u"sp_attach_db;1"_s, {{u"@DBName"_s, databaseName},
                                                           {u"@filename1"_s, dataFile},
                                                           {u"@filename2"_s, logFile}});
        else
            connection.callProcedure(u"sp_attach_single_file_db;1"_s,
                                     {{u"@DBName"_s, databaseName}, {u"@physname"_s, dataFile}});
    } catch (const db::DbError& error) {
        throw failure(u"Ошибка подключение базы данных."_s, disk, error, dataFile,
                      neededRight::attach);
    }
    return MSSQLCreateAutoExec(databaseName, connection, disk);
}

QString MSSQLCreateAutoExec(const QString& databaseName, db::Connection& connection,
                            ServerDisk* disk)
{
    const QString name = sqltext::identifier(databaseName);
    const QString proc = databaseName + u"_AutoExec"_s;
    try {
        const auto found = connection.openRecordSet(
            u"select 1 from "_s + name + u".dbo.sysobjects where name= N'AutoExecute'"_s,
            backupTimeoutSeconds);
        if (found->isEmpty())
            return {};
        connection.setDefaultDatabase(u"master"_s);
        connection.beginTrans();
        if (!connection.isOpen())
            connection.open();
        connection.execute(u"IF EXISTS (SELECT name FROM sysobjects WHERE  name = N'"_s +
                           sqltext::literalBody(proc) + u"'"_s + u" AND type = 'P') "_s +
                           u"\r\n"_s + u" DROP PROCEDURE "_s + sqltext::identifier(proc));
        connection.execute(u"CREATE PROCEDURE "_s + sqltext::identifier(proc) + u" AS exec "_s +
                           name + u".dbo.AutoExecute"_s);
        connection.commitTrans();
        connection.execute(u"sp_procoption N'"_s + sqltext::literalBody(proc) +
                           u"', N'startup', N'on'"_s);
    } catch (const std::exception& error) {
        // The database is attached all the same; the operator is told what it lacks. Only an
        // open transaction is rolled back; after the commit the procedure stays, unmarked.
        if (connection.inTransaction()) {
            try {
                connection.rollbackTrans();
            } catch (const std::exception&) {
            }
        }
        return failure(u"Процедура \""_s + proc +
                           u"\" не назначена для запуска при старте сервера: база не выполнит "
                           u"свою процедуру AutoExecute после перезапуска SQL Server."_s,
                       disk, error, {}, neededRight::startupProcedure)
            .message();
    }
    return {};
}

void MSSQLDetachDB(const QString& databaseName, db::Connection& connection, const QString& prefix)
{
    if (!connection.isOpen())
        connection.open();
    connection.execute(u"use master"_s);
    int status = 0;
    if (prefix.isEmpty()) {
        status = connection.callProcedure(
            u"sp_detach_db;1"_s, {{u"@dbname"_s, databaseName}, {u"@skipchecks"_s, u"TRUE"_s}});
    } else {
        // One batch with what goes before it, so that nobody comes in between.
        const auto result = connection.openRecordSet(
            prefix +
                u"DECLARE @status int;\r\nEXEC @status = master.dbo.sp_detach_db @dbname = N'"_s +
                sqltext::literalBody(databaseName) +
                u"', @skipchecks = N'TRUE';\r\nSELECT @status AS status"_s,
            connection.commandTimeout());
        result->first();
        status = result->eof() ? 0 : result->fieldText(u"status"_s).toInt();
    }
    if (status != 0)
        throw MyException(u"Базу данных \""_s + databaseName + u"\" неудалось отключить."_s);
}

QString AddUserToDBUsers(db::Connection& connection, const QString& databaseName,
                         const QString& dataFile, bool windowsLogin, const QString& logFile,
                         ServerDisk* disk)
{
    connection.setDefaultDatabase(u"master"_s);
    const QString warning = MSSQLAttachDB(databaseName, dataFile, logFile, connection, disk);
    if (!windowsLogin)
        return warning;
    try {
        connection.setDefaultDatabase(databaseName);
        if (!connection.isOpen())
            connection.open();
        connection.execute(
            u"use "_s + sqltext::identifier(databaseName) + u"\r\n"_s +
            u"if not Exists (select * from DBUsers where Login=suser_sname()) "_s + u"\r\n"_s +
            u"insert DBUsers (Login, UserExCode, GtdCounter, ElCopyCounter) "_s + u"\r\n"_s +
            u"select suser_sname(), UserExCode, GtdCounter, ElCopyCounter from DBUsers where "
            u"Login='sa'"_s);
    } catch (const std::exception&) {
        throw MyException(u"Неудалось добавить пользователя в таблицу \"DBUsers\"."_s);
    }
    return warning;
}

std::optional<int> ProgressPercent(const db::ServerMessage& message)
{
    // 3211 "%d percent processed.": the percentage is its one number, in every language.
    if (message.number != 3211)
        return std::nullopt;
    static const QRegularExpression number(u"\\d+"_s);
    const QRegularExpressionMatch match = number.match(message.text);
    if (!match.hasMatch())
        return std::nullopt;
    const int percent = match.captured().toInt();
    return percent <= 100 ? std::optional<int>(percent) : std::nullopt;
}
