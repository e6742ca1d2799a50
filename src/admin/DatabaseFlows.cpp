#include "DatabaseFlows.h"

#include "Connection.h"
#include "DatabaseBackup.h"
#include "DatabaseRestore.h"
#include "DatabaseSessions.h"
#include "DiskSpace.h"
#include "FileExtraction.h"
#include "FileHelpers.h"
#include "FileStore.h"
#include "MyException.h"
#include "OperatorUi.h"
#include "PathMacros.h"
#include "PreviousBackup.h"
#include "ServerDisk.h"
#include "ServerPaths.h"
#include "ServerProbes.h"

#include <QFileInfo>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QString attention = u"Внимание"_s;

// The progress window of one operation: opened when asked for, closed on every way out (a
// second close is harmless), and the server's percentage cleared with it.
class Operation
{
public:
    Operation(FlowContext& context, bool show, const QString& title) : m_context(context)
    {
        if (show) {
            m_context.ui.startOperation(title);
            m_open = true;
        }
    }
    ~Operation() { finish(); }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        if (m_open)
            m_context.ui.finishOperation();
        m_open = false;
        if (m_context.progress.percent)
            m_context.progress.percent(-1, {});
    }

private:
    FlowContext& m_context;
    bool m_open = false;
    bool m_finished = false;
};

std::optional<quint64> freeBytesAt(const FlowContext& context, const QString& path)
{
    return context.freeBytes ? context.freeBytes(path) : platform::freeBytes(path);
}

// The context's disk, or one of the flow's own.
class FlowDisk
{
public:
    explicit FlowDisk(FlowContext& context)
    {
        if (context.disk == nullptr)
            m_own.emplace(context.connection);
        m_disk = context.disk != nullptr ? context.disk : &*m_own;
    }
    ServerDisk& operator*() const { return *m_disk; }
    ServerDisk* operator->() const { return m_disk; }

private:
    std::optional<ServerDisk> m_own;
    ServerDisk* m_disk = nullptr;
};

} // namespace

void ThrowIfStopped(const ServerProgress& progress)
{
    if (progress.stopRequested && progress.stopRequested())
        throw MyException(u"Работа прервана."_s);
}

namespace {

// What the file store and the extraction call after each file: the window stays alive, and a
// stop asked for ends them there.
PumpMessages pumpAndStop(const ServerProgress& progress)
{
    return [progress] {
        if (progress.pump)
            progress.pump();
        ThrowIfStopped(progress);
    };
}

// The server writes the file: the space is the free space of the disk it writes to, against the
// pages in use in the connection's current database: a backup holds only those.
void checkFreeSpace(const FlowContext& context, ServerDisk& disk, const QString& backupFile)
{
    const qint64 size = GetDBSpaceUsed(context.connection, false);
    const bool onServer = disk.isServerPath(backupFile);
    const std::optional<quint64> free =
        onServer ? disk.freeBytes(backupFile) : freeBytesAt(context, backupFile);
    if (!free || *free >= static_cast<quint64>(std::max<qint64>(size, 0)))
        return;
    const auto megabytes = [](quint64 bytes) {
        return FloatToStrDot(u'.', std::round(static_cast<long double>(bytes) / 1024.0L / 1024.0L));
    };
    QString message = u"На диске не хватает свободного места для сохранения "
                      u"бэкап-файла.\r\nРазмер бэкапа-файла "_s +
                      megabytes(static_cast<quint64>(size)) + u" MБ ."_s;
    // Whose disk: the operator cannot see the server's from here.
    if (onServer)
        message += u"\r\nСвободно на диске сервера "_s + backupFile.left(2) + u" "_s +
                   megabytes(*free) + u" MБ."_s;
    throw MyException(message);
}

// A folder named as the backup file would be refused by the server as a matter of rights; it
// is a matter of the name.
void refuseFolderAsFile(const QString& databaseName, const QString& backupFile, ServerDisk& disk)
{
    const bool folder = disk.isServerPath(backupFile)
                            ? disk.folderExists(backupFile).value_or(false)
                            : QFileInfo(backupFile).isDir();
    if (folder)
        throw MyException(u"Не удалось создать резервную копию базы \""_s + databaseName +
                          u"\".\r\n\""_s + backupFile +
                          u"\" — это папка, а не файл: укажите имя файла резервной копии в ней."_s);
}

// A backup file a killed run left aside under another name goes back before anything else
// happens to it.
void recoverLeftoverBackup(FlowContext& context, ServerDisk& disk, const QString& backupFile)
{
    if (disk.isServerPath(backupFile))
        return;
    if (const QString note = PreviousBackup::recoverLeftover(backupFile); !note.isEmpty())
        context.ui.showMessage(OperatorUi::Icon::Warning, attention, note);
}

} // namespace

BackupOutcome BackupDB(FlowContext& context, const QString& databaseName, const QString& installDir,
                       const QString& backupFile, bool addFiles, bool showProgress, bool verify,
                       bool copyOnly)
{
    BackupOutcome outcome;
    if (databaseName.isEmpty())
        return outcome;
    Operation operation(context, showProgress, u"Создается резервная копия базы данных."_s);
    db::Connection& connection = context.connection;
    const FlowDisk disk(context);
    recoverLeftoverBackup(context, *disk, backupFile);

    // Where the backup goes is checked before the database changes: a backup refused for its
    // target must leave the stored application files as they were.
    connection.setDefaultDatabase(databaseName);
    refuseFolderAsFile(databaseName, backupFile, *disk);
    MakeBackupFolder(backupFile, *disk);
    checkFreeSpace(context, *disk, backupFile);

    if (addFiles) {
        const QStringList exclusions = LoadExclusionList(context.settingsDir);
        UnstoredNames unstored;
        try {
            const QString version = GetFileApprVersion(context.apprNamePathName);
            unstored =
                AddFilesToDB(installDir, fileStoreTable, version, exclusions, context.maxSizeAddDB,
                             connection, pumpAndStop(context.progress));
        } catch (const std::exception& error) {
            ThrowIfStopped(context.progress);
            const bool goOn = context.ui.askYesNo(
                OperatorUi::Icon::Warning, attention,
                u"Список файлов не удалось загрузить в базу данных.\r\nОшибка: \""_s +
                    errorMessage(error) + u"\".\r\n"_s + u"Продолжить создание бэкапа?"_s);
            if (!goOn)
                return outcome;
            context.ui.note(u"Резервная копия создаётся, но файлы программы сохранены в базе не "
                            u"полностью."_s);
            outcome.filesNotStored = errorMessage(error);
        }
        if (!unstored.paths.isEmpty()) {
            context.ui.showMessage(OperatorUi::Icon::Warning, attention,
                                   UnstoredNamesWarning(unstored));
            if (outcome.filesNotStored.isEmpty())
                outcome.filesNotStored =
                    u"не сохранено файлов: %1 (имя нельзя записать в кодировке базы)"_s.arg(
                        unstored.paths.size());
        }
        // Storing the files may have lost the connection, and the operator chose to go on: the
        // backup gets a new one, in the database being backed up.
        if (!connection.isOpen())
            connection.open();
        // The stored files made the database larger.
        checkFreeSpace(context, *disk, backupFile);
    }
    ThrowIfStopped(context.progress);

    const QString description =
        IsRemovableDrive(backupFile, context.apprNamePathName, GetSystemDir());
    outcome.previousNotKept = MSSQLBackupDB(databaseName, backupFile, description, connection,
                                            *disk, context.progress, verify, copyOnly);
    outcome.made = true;
    if (!outcome.previousNotKept.isEmpty())
        context.ui.note(outcome.previousNotKept);
    const QString verified = u"Резервная копия проверена."_s;
    if (verify)
        context.ui.note(verified);

    operation.finish();
    if (showProgress && context.successMessage) {
        QString text = u"Резервное копирование базы \""_s + databaseName +
                       u"\" успешно завершено."_s + u"\r\n"_s + u"Файл копии: "_s + backupFile;
        for (const QString& more : {verify ? verified : QString(), outcome.previousNotKept})
            if (!more.isEmpty())
                text += u"\r\n"_s + more;
        context.ui.showMessage(OperatorUi::Icon::Plain, applicationTitle(), text);
    }
    return outcome;
}

bool AcceptOlderFiles(OperatorUi& ui, const QString& installedVersion, const QString& storedVersion)
{
    return ui.askYesNo(OperatorUi::Icon::Question, attention,
                       u"Текущая версии программы \""_s + installedVersion +
                           u"\", версия программы в базе данных \""_s + storedVersion + u"\"."_s +
                           u"\r\n"_s + u"Вы действительно хотите заменить новую версию старой? "_s);
}

void RestoreDB(FlowContext& context, const QString& databaseName, const QString& backupFile,
               const QString& restoreFolder, const QString& installDir, bool replace,
               bool extractFiles, bool showProgress, bool askVersion)
{
    Operation operation(context, showProgress, u"Восстанавливается резервная копия базы данных."_s);
    db::Connection& connection = context.connection;
    connection.setDefaultDatabase(u"master"_s);
    const FlowDisk disk(context);
    recoverLeftoverBackup(context, *disk, ExpandMacros(backupFile));
    // Everything that can refuse is asked before other sessions are ended.
    const RestorePlan plan = PrepareRestore(databaseName, backupFile, restoreFolder, replace,
                                            connection, *disk, context.progress);
    ThrowIfStopped(context.progress);
    // Replacing a database others are in: with consent they are ended by the restore's own
    // batch, and the database is open to all again afterwards, whatever happens.
    const SessionClosing closing = replace ? DecideClosing(connection, context.ui, databaseName,
                                                           context.closeSessions, disk->rights())
                                           : SessionClosing{};
    ThrowIfStopped(context.progress);
    RunAlone(connection, context.ui, databaseName, closing, {}, [&](const QString& prefix) {
        RunRestore(plan, connection, *disk, context.progress, prefix);
    });
    if (context.restored)
        context.restored();

    if (extractFiles) {
        connection.setDefaultDatabase(databaseName);
        const QString version = GetFileApprVersion(context.apprNamePathName);
        ExtractOptions options;
        options.pump = pumpAndStop(context.progress);
        options.wrapOutput = context.wrapOutput;
        options.failOnSkipped = context.failOnUnwrittenFiles;
        options.freeBytes = context.freeBytes;
        if (askVersion)
            options.acceptOlder = [&context](const QString& installed, const QString& stored) {
                return AcceptOlderFiles(context.ui, installed, stored);
            };
        if (!ExtractFilesFromDB(installDir, connection, version, context.ui, options)) {
            operation.finish();
            context.ui.showMessage(OperatorUi::Icon::Warning, attention,
                                   u"Восстановление базы прошло успешно.\r\nРезервная копия не "
                                   u"содержала файлы программы.\r\n"_s);
        }
    }

    operation.finish();
    if (showProgress && context.successMessage)
        context.ui.showMessage(OperatorUi::Icon::Plain, applicationTitle(),
                               u"База восстановлена."_s);
}
