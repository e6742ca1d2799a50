#include "MyMSSQL.h"

#include "Connection.h"
#include "StatementText.h"
#include "TextDecoding.h"

using namespace Qt::StringLiterals;

namespace {
constexpr int historyTimeoutSeconds = 3600;
}

QString LastBackupFile(db::Connection& connection, const QString& databaseName)
{
    const QString sql =
        u"select top 1 description,backup_set_id, backup_finish_date, database_name, "
        u"physical_device_name \r\n"
        u"from msdb.dbo.backupset bs inner join msdb.dbo.backupmediafamily bm on "
        u"(bm.media_set_id=bs.media_set_id )\r\n"
        u"where database_name='"_s +
        sqltext::literalBody(databaseName) + u"' order by backup_set_id desc\r\n"_s;
    if (!connection.isOpen())
        connection.open();
    const auto rows = connection.openRecordSet(sql, historyTimeoutSeconds);
    rows->first();
    if (rows->eof())
        return {};
    return platform::trimBlanks(rows->fieldText(u"physical_device_name"_s)).toString();
}
