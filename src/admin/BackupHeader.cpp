#include "BackupHeader.h"

#include "Connection.h"
#include "StatementText.h"
#include "TextDecoding.h"

using namespace Qt::StringLiterals;

namespace {
constexpr int headerTimeoutSeconds = 600;
}

std::optional<BackupHeader> ReadBackupHeader(db::Connection& connection, const QString& file)
{
    const auto sets = connection.openRecordSet(u"RESTORE HEADERONLY FROM DISK = N'"_s +
                                                   sqltext::literalBody(file) + u'\'',
                                               headerTimeoutSeconds);
    if (sets->isEmpty())
        return std::nullopt;
    sets->first();
    const auto field = [&sets](const QString& column) {
        return platform::trimBlanks(sets->fieldText(column)).toString();
    };
    BackupHeader header;
    header.databaseName = field(u"DatabaseName"_s);
    header.finished = sets->value(0, sets->columnIndex(u"BackupFinishDate"_s)).toDateTime();
    header.serverName = field(u"ServerName"_s);
    header.version = field(u"SoftwareVersionMajor"_s) + u'.' + field(u"SoftwareVersionMinor"_s) +
                     u'.' + field(u"SoftwareVersionBuild"_s);
    header.backupsInFile = sets->recordCount();
    return header;
}

QString BackupHeaderText(const BackupHeader& header)
{
    QString text = u"База \""_s + header.databaseName + u"\", копия от "_s +
                   header.finished.toString(u"dd.MM.yyyy HH:mm"_s) + u", сервер "_s +
                   header.serverName + u", версия "_s + header.version;
    if (header.backupsInFile > 1)
        text += u" (первая из %1 копий в файле)"_s.arg(header.backupsInFile);
    return text;
}
