#include "AttachDetach.h"

#include "Connection.h"
#include "MyException.h"
#include "OperationFailure.h"
#include "ServerDisk.h"
#include "ServerRights.h"
#include "StatementText.h"

using namespace Qt::StringLiterals;

namespace {

constexpr int autoExecTimeoutSeconds = 3600;

} // namespace

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
        throw admin::failure(u"Ошибка подключение базы данных."_s, disk, error, dataFile,
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
            autoExecTimeoutSeconds);
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
        return admin::failure(
                   u"Процедура \""_s + proc +
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
