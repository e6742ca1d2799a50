#include "BatchCommand.h"

#include "CommandLine.h"
#include "DatabaseSessions.h"
#include "MyException.h"
#include "OperatorUi.h"
#include "Session.h"
#include "StatementText.h"
#include "StderrOperatorUi.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

const QString noFileAdvice =
    u"Не задан файл резервной копии: параметр /file:ПУТЬ (dbsetup --help)."_s;

// The option whose absence a flow's error comes from, for the script's author. Called from a
// handler: rethrows the error, with the advice when there is any.
[[noreturn]] void adviseOnFailure(const std::exception& error, const QStringList& advice)
{
    QStringList lines;
    for (const QString& line : advice)
        if (!line.isEmpty())
            lines << line;
    if (lines.isEmpty())
        throw;
    throw AdvisedError(error, lines.join(u' '));
}

// Applies the run's UDL file or connection string, connects, and names the database the run
// works on.
QString connectForBatch(Session& session, const QString& databaseName, const QString& fileUdl,
                        const QString& connectionString)
{
    QString name = databaseName.isEmpty() ? session.currentDBName() : databaseName;
    // The UDL path is tested as written, before any macro expansion.
    if (!fileUdl.isEmpty() && QFileInfo(fileUdl).isFile()) {
        session.loadConnectString(fileUdl);
        name = session.currentDBName();
    }
    if (!connectionString.isEmpty()) {
        session.parseConnectString(connectionString);
        if (!session.currentDBName().isEmpty())
            name = session.currentDBName();
    }
    if (!session.connectServer()) {
        // A script's log is all its operator reads: the server's or the driver's reason follows.
        const QString reason = session.lastConnectFailure();
        const Error cause(reason);
        throw MyException({}, u"Не удалось подключиться к базе данных."_s,
                          reason.isEmpty() ? nullptr : &cause);
    }
    return name;
}

void RunBackupCommand(Session& session, const QStringList& arguments)
{
    const BackupOptions o = parseBackupOptions(arguments);
    const QString installDir = o.installDir.isEmpty() ? session.installDir() : o.installDir;
    const QString databaseName = connectForBatch(session, o.dbName, o.fileUdl, o.connectionString);
    // The flow does nothing for an empty name; a script must not read that as a backup made.
    if (databaseName.isEmpty())
        throw MyException(u"Не задано имя базы данных для резервного копирования."_s);
    BackupOutcome outcome;
    try {
        outcome = session.backupDB(databaseName, installDir, o.file, o.addFiles, o.showProgress,
                                   o.verify, o.copyOnly);
    } catch (const std::exception& error) {
        adviseOnFailure(error, {o.file.isEmpty() ? noFileAdvice : QString()});
    }
    // A script's log names what was made, whatever the progress flag; a window's operator has
    // the message box. Only the window's operator can decline the files question, which makes no
    // backup, and its notes are shown nowhere.
    QString summary = u"Резервная копия базы \""_s + databaseName + u"\" записана в файл \""_s +
                      o.file + u"\"."_s;
    if (!outcome.filesNotStored.isEmpty())
        summary += u" Файлы программы сохранены в ней не полностью: "_s + outcome.filesNotStored;
    session.operatorUi().note(summary);
}

void RunRestoreCommand(Session& session, const QStringList& arguments)
{
    const RestoreOptions o = parseRestoreOptions(arguments);
    const QString installDir = o.installDir.isEmpty() ? session.installDir() : o.installDir;
    const QString databaseName = connectForBatch(session, o.dbName, o.fileUdl, o.connectionString);
    db::Connection& connection = session.connection();
    // Whether the restore replaced a database is the first thing a script's log is read for; an
    // unanswered question leaves it unsaid rather than failing a restore that can go on.
    std::optional<bool> existed;
    try {
        const auto found = connection.openRecordSet(
            u"SELECT DB_ID(N'"_s + sqltext::literalBody(databaseName) + u"') AS id"_s,
            connection.commandTimeout());
        if (!found->isEmpty())
            existed = !found->isNull(u"id"_s);
    } catch (const std::exception&) {
    }
    // A batch run never asks about program versions, and application files it asked for and did
    // not get fail it: a script sees only the exit code.
    FlowContext context = session.flowContext();
    context.failOnUnwrittenFiles = true;
    // Nobody to ask: other sessions are ended only when the script says so; otherwise they are
    // left alone, and a restore they block names them.
    context.closeSessions = o.closeConnections;
    // Said as soon as it is so: an extraction that fails afterwards does not undo the restore.
    context.restored = [&] {
        QString summary =
            u"База \""_s + databaseName + u"\" восстановлена из файла \""_s + o.file + u"\""_s;
        if (existed)
            summary += *existed ? u" (заменена существующая база)"_s : u" (новая база)"_s;
        session.operatorUi().note(summary + u'.');
    };
    try {
        RestoreDB(context, databaseName, o.file, o.pathDb, installDir, o.replace, o.extractFiles,
                  o.showProgress, false);
    } catch (const DatabaseInUse& error) {
        adviseOnFailure(error, {u"Чтобы отключить их перед восстановлением: параметр "
                                u"/close_connections."_s});
    } catch (const std::exception& error) {
        adviseOnFailure(error, {o.file.isEmpty() ? noFileAdvice : QString(),
                                o.pathDb.isEmpty() ? u"Не задана папка для файлов базы: параметр "
                                                     u"/path_db:ПАПКА (dbsetup --help)."_s
                                                   : QString()});
    }
}

} // namespace

void StartBatchSession(Session& session)
{
    try {
        if (const Settings settings = session.loadSettings(); settings.failure)
            std::rethrow_exception(settings.failure);
        session.connectServer();
    } catch (const std::exception& error) {
        ShowErrorReport(session.operatorUi(), error);
    }
}

bool RunBatchCommand(Session& session, const QStringList& arguments)
{
    switch (batchModeOf(arguments)) {
    case BatchMode::Backup:
        RunBackupCommand(session, arguments);
        return true;
    case BatchMode::Restore:
        RunRestoreCommand(session, arguments);
        return true;
    case BatchMode::None:
        break;
    }
    return false;
}

int RunBatch(Session& session, const QStringList& arguments,
             const std::function<int(const std::exception& error)>& failed)
{
    try {
        StartBatchSession(session);
        RunBatchCommand(session, arguments);
        return 0;
    } catch (const std::exception& error) {
        return failed(error);
    }
}
