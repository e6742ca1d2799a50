#include "DatabaseFlows.h"

#include "Connection.h"
#include "DatabaseSessions.h"
#include "DiskSpace.h"
#include "FileHelpers.h"
#include "FileStore.h"
#include "MyException.h"
#include "OperatorUi.h"
#include "PathMacros.h"
#include "ServerDisk.h"

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
            m_context.progress.percent(-1);
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

void BackupDB(FlowContext& context, const QString& databaseName, const QString& installDir,
              const QString& backupFile, bool addFiles, bool showProgress, bool verify)
{
    if (databaseName.isEmpty())
        return;
    Operation operation(context, showProgress, u"Создается резервная копия базы данных."_s);
    db::Connection& connection = context.connection;

    if (addFiles) {
        connection.setDefaultDatabase(databaseName);
        const QStringList exclusions = LoadExclusionList(context.programDir);
        UnstoredNames unstored;
        try {
            const QString version = GetFileApprVersion(context.apprNamePathName);
            unstored = AddFilesToDB(installDir, fileStoreTable, version, exclusions,
                                    context.maxSizeAddDB, connection, context.progress.pump);
        } catch (const std::exception& error) {
            const bool goOn = context.ui.askYesNo(
                OperatorUi::Icon::Warning, attention,
                u"Список файлов не удалось загрузить в базу данных.\r\nОшибка: \""_s +
                    errorMessage(error) + u"\".\r\n"_s + u"Продолжить создание бэкапа?"_s);
            if (!goOn)
                return;
            context.ui.note(u"Резервная копия создаётся, но файлы программы сохранены в базе не "
                            u"полностью."_s);
        }
        if (!unstored.paths.isEmpty())
            context.ui.showMessage(OperatorUi::Icon::Warning, attention,
                                   UnstoredNamesWarning(unstored));
    } else {
        connection.setDefaultDatabase(databaseName);
    }

    // Storing the files may have lost the connection, and the operator chose to go on: the
    // backup gets a new one, in the database being backed up.
    if (!connection.isOpen())
        connection.open();
    // The server writes the file: the space is the free space of the disk it writes to.
    const FlowDisk disk(context);
    const qint64 size = GetDBSize(connection);
    const bool onServer = disk->isServerPath(backupFile);
    const std::optional<quint64> free =
        onServer ? disk->freeBytes(backupFile) : freeBytesAt(context, backupFile);
    if (free && *free < static_cast<quint64>(std::max<qint64>(size, 0))) {
        const auto megabytes = [](quint64 bytes) {
            return FloatToStrDot(u'.',
                                 std::round(static_cast<long double>(bytes) / 1024.0L / 1024.0L));
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

    const QString description =
        IsRemovableDrive(backupFile, context.apprNamePathName, GetSystemDir());
    MSSQLBackupDB(databaseName, backupFile, description, connection, *disk, context.progress);
    const QString verified = u"Резервная копия проверена."_s;
    if (verify) {
        MSSQLVerifyBackup(backupFile, connection, context.progress);
        context.ui.note(verified);
    }

    operation.finish();
    if (showProgress)
        context.ui.showMessage(OperatorUi::Icon::Plain, applicationTitle(),
                               u"Резервное копирование базы \""_s + databaseName +
                                   u"\" успешно завершено."_s + u"\r\n"_s + u"Файл копии: "_s +
                                   backupFile + (verify ? u"\r\n"_s + verified : QString()));
}

void RestoreDB(FlowContext& context, const QString& databaseName, const QString& backupFile,
               const QString& restoreFolder, const QString& installDir, bool replace,
               bool extractFiles, bool showProgress, bool askVersion)
{
    Operation operation(context, showProgress, u"Восстанавливается резервная копия базы данных."_s);
    db::Connection& connection = context.connection;
    connection.setDefaultDatabase(u"master"_s);
    const FlowDisk disk(context);
    // Replacing a database others are in: with consent they are ended first, and the database
    // is open to all again afterwards, whatever happens.
    QList<DatabaseSession> others;
    std::unique_ptr<SingleUserDatabase> alone;
    if (replace)
        alone = TakeDatabase(connection, context.ui, databaseName, context.closeSessions, others);
    try {
        MSSQLRestoreDB(databaseName, backupFile, restoreFolder, replace, connection, *disk,
                       context.progress);
    } catch (const std::exception& error) {
        if (alone || others.isEmpty())
            throw;
        throw MyException(errorMessage(error) + u"\r\nБазу используют другие подключения: "_s +
                          SessionsText(others) + u'.');
    }
    if (alone)
        alone->release();

    if (extractFiles) {
        connection.setDefaultDatabase(databaseName);
        const QString version = GetFileApprVersion(context.apprNamePathName);
        ExtractOptions options;
        options.pump = context.progress.pump;
        options.wrapOutput = context.wrapOutput;
        options.failOnSkipped = context.failOnUnwrittenFiles;
        if (!ExtractFilesFromDB(installDir, connection, askVersion, version, context.ui, options)) {
            operation.finish();
            context.ui.showMessage(OperatorUi::Icon::Warning, attention,
                                   u"Восстановление базы прошло успешно.\r\nРезервная копия не "
                                   u"содержала файлы программы.\r\n"_s);
        }
    }

    operation.finish();
    if (showProgress)
        context.ui.showMessage(OperatorUi::Icon::Plain, applicationTitle(),
                               u"База восстановлена."_s);
}
