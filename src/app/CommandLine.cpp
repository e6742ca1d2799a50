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
        else if (name == u"/verify"_s)
            o.verify = true;
        else if (name == u"/not_verify"_s)
            o.verify = false;
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
        else if (name == u"/close_connections"_s)
            o.closeConnections = true;
        else if (name == u"/not_close_connections"_s)
            o.closeConnections = false;
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

InfoRequest infoRequestOf(const QStringList& arguments)
{
    if (arguments.size() < 2)
        return InfoRequest::None;
    const QString word = arguments[1].toLower();
    static const QStringList help{u"--help"_s, u"-help"_s, u"-h"_s, u"-?"_s,
                                  u"/?"_s,     u"/help"_s, u"/h"_s};
    static const QStringList version{u"--version"_s, u"-version"_s, u"-v"_s, u"/version"_s,
                                     u"/v"_s};
    if (help.contains(word))
        return InfoRequest::Help;
    if (version.contains(word))
        return InfoRequest::Version;
    return InfoRequest::None;
}

QString usageText()
{
    return u"Настройка базы данных: окно программы или резервное копирование и восстановление "
           u"базы из сценариев.\n"
           u"\n"
           u"Запуск:\n"
           u"  dbsetup                          окно программы (нужен дисплей)\n"
           u"  dbsetup -backup_db [параметры]   создать резервную копию базы без окна\n"
           u"  dbsetup -restore_db [параметры]  восстановить базу из резервной копии без окна\n"
           u"  dbsetup --help                   эта справка (также -h, /?)\n"
           u"  dbsetup --version                версия программы (также -v)\n"
           u"\n"
           u"Режим пишется в любом регистре. Параметр — имя, начинающееся с \"/\", и после "
           u"\":\" значение;\n"
           u"параметр со значением, в котором есть пробелы, берётся в кавычки целиком. "
           u"Неизвестные параметры\n"
           u"пропускаются, из двух противоречащих друг другу действует последний. Чего не "
           u"задают параметры,\n"
           u"берётся из settings.ini рядом с программой.\n"
           u"\n"
           u"Параметры -backup_db:\n"
           u"  /db_name:ИМЯ               база, копия которой создаётся (без него — база из "
           u"settings.ini)\n"
           u"  /file:ФАЙЛ                 файл резервной копии, как его видит сервер\n"
           u"  /install_dir:ПАПКА         папка программы, файлы которой сохраняются в базе\n"
           u"  /file_udl:ФАЙЛ             UDL-файл с подключением; база — из него, /db_name не "
           u"действует\n"
           u"  /connection_string:СТРОКА  строка подключения; её Initial Catalog задаёт базу\n"
           u"  /add_file                  сохранить файлы программы в базе перед копированием "
           u"(так и без него)\n"
           u"  /not_add_file              не сохранять файлы программы в базе\n"
           u"  /verify                    проверить записанную копию (RESTORE VERIFYONLY)\n"
           u"  /not_verify                не проверять копию (так и без него)\n"
           u"  /show_form                 показать окно хода работы и сообщение об успехе (так и "
           u"без него)\n"
           u"  /not_show_form             не показывать их\n"
           u"\n"
           u"Параметры -restore_db:\n"
           u"  /db_name:ИМЯ               имя восстановленной базы (без него — база из "
           u"settings.ini)\n"
           u"  /file:ФАЙЛ                 файл резервной копии\n"
           u"  /path_db:ПАПКА             папка для файлов базы (обязателен)\n"
           u"  /install_dir:ПАПКА         папка программы, куда записываются файлы из базы\n"
           u"  /file_udl:ФАЙЛ             UDL-файл с подключением; база — из него, /db_name не "
           u"действует\n"
           u"  /connection_string:СТРОКА  строка подключения; её Initial Catalog задаёт базу\n"
           u"  /replace_db                заменить существующую базу с этим именем (так и без "
           u"него)\n"
           u"  /not_replace_db            без замены: сервер не восстановит копию поверх другой "
           u"базы с этим именем\n"
           u"  /restore_file              записать файлы программы из копии в папку программы\n"
           u"  /not_restore_file          не записывать файлы программы (так и без него)\n"
           u"  /close_connections         закрыть другие подключения к базе перед "
           u"восстановлением\n"
           u"  /not_close_connections     не закрывать их (так и без него)\n"
           u"  /show_form                 показать окно хода работы и сообщения (так и без "
           u"него)\n"
           u"  /not_show_form             не показывать их\n"
           u"\n"
           u"Без дисплея (cron, ssh) окон нет: сообщения, ход работы и ошибки пишутся в stderr,\n"
           u"на вопросы отвечается \"Да\", итог (какой файл записан, какая база восстановлена) — "
           u"тоже в stderr.\n"
           u"\n"
           u"Коды завершения:\n"
           u"  0  резервная копия создана или база восстановлена\n"
           u"  1  ошибка; её текст — в окне сообщения или в stderr\n"
           u"  2  окну программы нужен дисплей, а его нет\n"
           u"  129, 130, 143  работа прервана сигналом SIGHUP, SIGINT или SIGTERM; начатое "
           u"отменено\n"
           u"     (прежняя резервная копия возвращена, база снова доступна)\n"
           u"\n"
           u"Примеры:\n"
           u"  dbsetup -backup_db /db_name:ostrel_ts /file:/srv/backup/ostrel_ts.bak "
           u"/not_show_form\n"
           u"  dbsetup -restore_db /db_name:ostrel_copy /file:/srv/backup/ostrel_ts.bak "
           u"/path_db:/srv/data /restore_file\n"_s;
}
