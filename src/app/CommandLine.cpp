#include "CommandLine.h"

#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Each option as (lower-cased name, value after the first ":").
QList<std::pair<QString, QString>> options(const QStringList& arguments)
{
    QList<std::pair<QString, QString>> out;
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const qsizetype colon = argument.indexOf(u':');
        if (colon < 0)
            out.append({argument.toLower(), QString()});
        else
            out.append({argument.left(colon).toLower(), argument.mid(colon + 1)});
    }
    return out;
}

} // namespace

BatchMode batchModeOf(const QStringList& arguments)
{
    if (arguments.size() < 2)
        return BatchMode::None;
    const QString mode = arguments[1].toLower();
    if (mode == u"-backup_db"_s)
        return BatchMode::Backup;
    if (mode == u"-restore_db"_s)
        return BatchMode::Restore;
    return BatchMode::None;
}

BackupOptions parseBackupOptions(const QStringList& arguments)
{
    BackupOptions o;
    for (const auto& [name, value] : options(arguments)) {
        if (name == u"/show_form"_s)
            o.showProgress = true;
        else if (name == u"/not_show_form"_s)
            o.showProgress = false;
        else if (name == u"/add_file"_s)
            o.addFiles = true;
        else if (name == u"/not_add_file"_s)
            o.addFiles = false;
        else if (name == u"/db_name"_s)
            o.dbName = value;
        else if (name == u"/file"_s)
            o.file = value;
        else if (name == u"/file_udl"_s)
            o.fileUdl = value;
        else if (name == u"/install_dir"_s)
            o.installDir = value;
        else if (name == u"/connection_string"_s)
            o.connectionString = value;
    }
    return o;
}

RestoreOptions parseRestoreOptions(const QStringList& arguments)
{
    RestoreOptions o;
    for (const auto& [name, value] : options(arguments)) {
        if (name == u"/show_form"_s)
            o.showProgress = true;
        else if (name == u"/not_show_form"_s)
            o.showProgress = false;
        else if (name == u"/restore_file"_s)
            o.extractFiles = true;
        else if (name == u"/not_restore_file"_s)
            o.extractFiles = false;
        else if (name == u"/replace_db"_s)
            o.replace = true;
        else if (name == u"/not_replace_db"_s)
            o.replace = false;
        else if (name == u"/db_name"_s)
            o.dbName = value;
        else if (name == u"/file"_s)
            o.file = value;
        else if (name == u"/path_db"_s)
            o.pathDb = value;
        else if (name == u"/file_udl"_s)
            o.fileUdl = value;
        else if (name == u"/connection_string"_s)
            o.connectionString = value;
        else if (name == u"/install_dir"_s)
            o.installDir = value;
    }
    return o;
}
