#include "DatabaseRestore.h"

#include "Connection.h"
#include "FileHelpers.h"
#include "MyException.h"
#include "OperationFailure.h"
#include "PathMacros.h"
#include "PathText.h"
#include "ServerDisk.h"
#include "ServerRights.h"
#include "StatementText.h"
#include "TextDecoding.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

constexpr int statusTimeoutSeconds = 3600;
constexpr int fileListTimeoutSeconds = 36000;

// The file-name part of a path written with either separator.
QString fileNamePart(const QString& path)
{
    return path.mid(pathtext::lastSeparator(path) + 1);
}

} // namespace

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
                                                   statusTimeoutSeconds);
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
        throw MyException(admin::folderError(folder));
    if (folderOnServer) {
        admin::makeServerFolder(disk, folder, folder);
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
        RunWithProgress(connection, sql, progress);
    } catch (const std::exception& error) {
        // CREATE DATABASE refused (262) is a new database's right; RESTORE refused (3110) one
        // over an existing database.
        const bool newDatabase = serverErrorOf(error) == 262;
        throw admin::failure(u"Не удалось восстановить базу."_s + restoringLine(plan, connection),
                             &disk, error, plan.folder,
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
