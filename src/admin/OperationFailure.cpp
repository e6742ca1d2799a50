#include "OperationFailure.h"

#include "DbError.h"
#include "ServerDisk.h"

using namespace Qt::StringLiterals;

namespace admin {

QString folderError(const QString& folder)
{
    return u"Не удалось создать путь \""_s + folder + u"\"."_s;
}

QString withHint(QString message, ServerDisk& disk, const std::exception& error,
                 const QString& path)
{
    if (const QString hint = disk.accessHint(error, path); !hint.isEmpty())
        message += u"\r\n"_s + hint;
    return message;
}

MyException failure(QString message, ServerDisk* disk, const std::exception& error,
                    const QString& path, const QString& needed)
{
    if (disk == nullptr)
        return MyException({}, message, &error);
    return MyException({}, withHint(message, *disk, error, path), &error,
                       disk->rightsHint(error, needed));
}

void makeServerFolder(ServerDisk& disk, const QString& folder, const QString& shown)
{
    try {
        disk.makeFolder(folder);
    } catch (const db::DbError& error) {
        throw MyException({}, withHint(folderError(shown), disk, error, folder), &error);
    }
}

} // namespace admin
