// The batch mode's command line: the input split at line breaks is argv after the program name.
#include "CommandLine.h"
#include "FuzzSupport.h"

#include <QStringList>

using namespace Qt::StringLiterals;

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QStringList arguments = fuzz::text(data, size).split(u'\n');
    arguments.prepend(u"dbsetup"_s);
    const BatchMode mode = batchModeOf(arguments);
    const BackupOptions backup = parseBackupOptions(arguments);
    const RestoreOptions restore = parseRestoreOptions(arguments);

    // Values come from the arguments as written, after the first ":" of one of them.
    const auto fromArguments = [&](const QString& value) {
        if (value.isEmpty())
            return true;
        for (qsizetype i = 2; i < arguments.size(); ++i) {
            const qsizetype colon = arguments[i].indexOf(u':');
            if (colon >= 0 && arguments[i].mid(colon + 1) == value)
                return true;
        }
        return false;
    };
    for (const QString& value :
         {backup.dbName, backup.file, backup.fileUdl, backup.installDir, backup.connectionString,
          restore.dbName, restore.file, restore.pathDb, restore.fileUdl, restore.connectionString,
          restore.installDir})
        FUZZ_CHECK(fromArguments(value), value);
    // Options shared by both modes read the same.
    FUZZ_CHECK(backup.dbName == restore.dbName && backup.file == restore.file &&
                   backup.fileUdl == restore.fileUdl &&
                   backup.connectionString == restore.connectionString &&
                   backup.installDir == restore.installDir,
               arguments.join(u' '));
    if (arguments.size() < 3) {
        FUZZ_CHECK(backup.showProgress && backup.addFiles && restore.showProgress &&
                       !restore.extractFiles && restore.replace,
                   arguments.join(u' '));
    }
    (void)mode;
    return 0;
}
