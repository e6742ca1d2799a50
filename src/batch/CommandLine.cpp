#include "CommandLine.h"

#include <QRegularExpression>
#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Each option as (lower-cased name, value after the first ":", whether there was a ":").
struct Option
{
    QString name;
    QString value;
    bool hasValue = false;
    QString argument;
};

QList<Option> options(const QStringList& arguments)
{
    QList<Option> out;
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const qsizetype colon = argument.indexOf(u':');
        if (colon < 0)
            out.append({argument.toLower(), QString(), false, argument});
        else
            out.append({argument.left(colon).toLower(), argument.mid(colon + 1), true, argument});
    }
    return out;
}

// The options of a mode: flags take no value, the others one.
struct OptionNames
{
    QStringList flags;
    QStringList values;
};

const OptionNames& namesOf(BatchMode mode)
{
    static const OptionNames backup{
        {u"/show_form"_s, u"/not_show_form"_s, u"/add_file"_s, u"/not_add_file"_s, u"/verify"_s,
         u"/not_verify"_s, u"/copy_only"_s, u"/not_copy_only"_s, u"/no_dialogs"_s},
        {u"/db_name"_s, u"/file"_s, u"/file_udl"_s, u"/install_dir"_s, u"/connection_string"_s}};
    static const OptionNames restore{{u"/show_form"_s, u"/not_show_form"_s, u"/restore_file"_s,
                                      u"/not_restore_file"_s, u"/replace_db"_s,
                                      u"/not_replace_db"_s, u"/close_connections"_s,
                                      u"/not_close_connections"_s, u"/no_dialogs"_s},
                                     {u"/db_name"_s, u"/file"_s, u"/path_db"_s, u"/file_udl"_s,
                                      u"/connection_string"_s, u"/install_dir"_s}};
    return mode == BatchMode::Restore ? restore : backup;
}

QString modeWord(BatchMode mode)
{
    return mode == BatchMode::Restore ? u"-restore_db"_s : u"-backup_db"_s;
}

// Edits that turn a into b (Levenshtein), for naming the option a typo meant.
qsizetype editDistance(const QString& a, const QString& b)
{
    QList<qsizetype> row(b.size() + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (qsizetype i = 1; i <= a.size(); ++i) {
        qsizetype diagonal = row[0];
        row[0] = i;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The known name closest to a typo, when one is close enough to have been meant.
QString closestName(const QString& name, const QStringList& known)
{
    QString best;
    qsizetype distance = 3;
    for (const QString& candidate : known) {
        if (const qsizetype d = editDistance(name, candidate); d < distance) {
            distance = d;
            best = candidate;
        }
    }
    return best;
}

// An argument as an error line may show it: a password in it (a mistyped /connection_string, a
// connection string cut at a blank) is not repeated into a script's log.
QString shown(const QString& argument)
{
    static const QRegularExpression password(u"((?:password|pwd)\\s*=)[^;]*"_s,
                                             QRegularExpression::CaseInsensitiveOption);
    QString text = argument;
    return text.replace(password, u"\\1***"_s);
}

// The flag that turns another one off: "/verify" and "/not_verify".
QString oppositeFlag(const QString& flag)
{
    return flag.startsWith(u"/not_"_s) ? u'/' + flag.mid(5) : u"/not_"_s + flag.mid(1);
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

QString commandLineError(const QStringList& arguments)
{
    const BatchMode mode = batchModeOf(arguments);
    if (mode == BatchMode::None)
        return {};
    const OptionNames& names = namesOf(mode);
    for (const Option& o : options(arguments)) {
        if (names.values.contains(o.name))
            continue;
        if (names.flags.contains(o.name)) {
            if (!o.hasValue)
                continue;
            const QString off = o.name == u"/no_dialogs"_s
                                    ? QString()
                                    : u" Выключает его "_s + oppositeFlag(o.name) + u'.';
            return u"Параметр \"%1\" не принимает значения (\"%2\").%3 Список параметров: "
                   u"dbsetup --help."_s.arg(o.name, shown(o.argument), off);
        }
        const QString meant = closestName(o.name, names.flags + names.values);
        return u"Неизвестный параметр \"%1\" режима %2%3. Список параметров: dbsetup --help."_s.arg(
            shown(o.argument), modeWord(mode),
            meant.isEmpty() ? QString() : u" (может быть, %1?)"_s.arg(meant));
    }
    return {};
}

QString mistypedModeText(const QStringList& arguments)
{
    if (arguments.size() < 2 || batchModeOf(arguments) != BatchMode::None)
        return {};
    const QString word = arguments[1];
    if (!word.startsWith(u'-') && !word.startsWith(u'/'))
        return {};
    QString letters;
    for (const QChar c : word)
        if (c.isLetter())
            letters += c.toLower();
    static const QStringList modes{u"backupdb"_s, u"restoredb"_s};
    const bool looksLikeMode =
        std::any_of(modes.begin(), modes.end(),
                    [&letters](const QString& m) { return editDistance(letters, m) <= 2; });
    if (!looksLikeMode)
        return {};
    return u"\"%1\" — не режим программы: резервное копирование — -backup_db, восстановление — "
           u"-restore_db (dbsetup --help)."_s.arg(word);
}

bool wantsNoDialogs(const QStringList& arguments)
{
    if (batchModeOf(arguments) == BatchMode::None)
        return false;
    const QList<Option> all = options(arguments);
    return std::any_of(all.begin(), all.end(),
                       [](const Option& o) { return o.name == u"/no_dialogs"_s; });
}

BackupOptions parseBackupOptions(const QStringList& arguments)
{
    BackupOptions o;
    for (const auto& [name, value, hasValue, argument] : options(arguments)) {
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
        else if (name == u"/copy_only"_s)
            o.copyOnly = true;
        else if (name == u"/not_copy_only"_s)
            o.copyOnly = false;
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
    for (const auto& [name, value, hasValue, argument] : options(arguments)) {
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

ConfigOption takeConfigOption(QStringList& arguments)
{
    static const QString name = u"--config"_s;
    ConfigOption option;
    for (qsizetype i = 1; i < arguments.size();) {
        const QString& argument = arguments[i];
        qsizetype taken = 0;
        if (argument.compare(name, Qt::CaseInsensitive) == 0) {
            taken = i + 1 < arguments.size() ? 2 : 1;
            option.folder = taken == 2 ? arguments[i + 1] : QString();
        } else if (argument.startsWith(name + u'=', Qt::CaseInsensitive)) {
            taken = 1;
            option.folder = argument.mid(name.size() + 1);
        }
        if (taken == 0) {
            ++i;
            continue;
        }
        arguments.remove(i, taken);
        option.error = option.folder.isEmpty()
                           ? u"После --config нужна папка настроек: --config ПАПКА."_s
                           : QString();
    }
    return option;
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
           u"  dbsetup --config ПАПКА ...       взять настройки из этой папки (в любом режиме)\n"
           u"\n"
           u"Папка настроек (settings.ini, dbs.xml, exclusion_mask_backup_file.txt): та, что "
           u"задана\n"
           u"параметром --config или переменной DBSETUP_CONFIG_DIR (её не создают: папки нет — "
           u"код 2);\n"
           u"иначе папка программы, если в ней есть settings.ini; иначе "
           u"$XDG_CONFIG_HOME/dbsetup/\n"
           u"(~/.config/dbsetup/), при первом запуске она создаётся с образцом settings.ini.\n"
           u"Какая папка действует сейчас, сказано в конце этой справки.\n"
           u"\n"
           u"Режим пишется в любом регистре. Параметр — имя, начинающееся с \"/\", в любом "
           u"регистре,\n"
           u"и после \":\" значение; параметр со значением, в котором есть пробелы, берётся в "
           u"кавычки\n"
           u"целиком. Из двух противоречащих друг другу параметров действует последний. "
           u"Неизвестный\n"
           u"параметр или значение у параметра-флажка — ошибка (код 2): ничего не делается и к "
           u"серверу\n"
           u"никто не подключается. Чего не задают параметры, берётся из settings.ini в папке "
           u"настроек.\n"
           u"\n"
           u"Параметры -backup_db:\n"
           u"  /db_name:ИМЯ               база, копия которой создаётся (без него — база из "
           u"settings.ini)\n"
           u"  /file:ФАЙЛ                 файл резервной копии, как его видит сервер "
           u"(обязателен)\n"
           u"  /install_dir:ПАПКА         папка программы, файлы которой сохраняются в базе\n"
           u"  /file_udl:ФАЙЛ             UDL-файл с подключением; база — из него, /db_name не "
           u"действует\n"
           u"  /connection_string:СТРОКА  строка подключения; её Initial Catalog задаёт базу\n"
           u"  /add_file                  сохранить файлы программы в базе перед копированием "
           u"(так и без него)\n"
           u"  /not_add_file              не сохранять файлы программы в базе\n"
           u"  /verify                    проверить записанную копию (RESTORE VERIFYONLY); "
           u"прежняя копия\n"
           u"                             удаляется только после проверки\n"
           u"  /not_verify                не проверять копию (так и без него)\n"
           u"  /copy_only                 копия в стороне от плана резервного копирования "
           u"(COPY_ONLY):\n"
           u"                             не меняет базу для разностных копий\n"
           u"  /not_copy_only             обычная полная копия (так и без него)\n"
           u"  /show_form                 показать окно хода работы и сообщение об успехе (так и "
           u"без него)\n"
           u"  /not_show_form             не показывать их\n"
           u"  /no_dialogs                ни окон, ни сообщений на экране, даже при дисплее: всё "
           u"в stderr\n"
           u"\n"
           u"Параметры -restore_db:\n"
           u"  /db_name:ИМЯ               имя восстановленной базы (без него — база из "
           u"settings.ini)\n"
           u"  /file:ФАЙЛ                 файл резервной копии, как его видит сервер "
           u"(обязателен)\n"
           u"  /path_db:ПАПКА             папка для файлов базы, как её видит сервер "
           u"(обязателен)\n"
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
           u"  /close_connections         отключить других пользователей базы перед "
           u"восстановлением\n"
           u"  /not_close_connections     не отключать их: восстановление не состоится (так и "
           u"без него)\n"
           u"  /show_form                 показать окно хода работы и сообщения (так и без "
           u"него)\n"
           u"  /not_show_form             не показывать их\n"
           u"  /no_dialogs                ни окон, ни сообщений на экране, даже при дисплее: всё "
           u"в stderr\n"
           u"\n"
           u"Без дисплея (cron, ssh, systemd) или с /no_dialogs окон нет: сообщения, ход работы и "
           u"ошибки\n"
           u"пишутся в stderr, на вопросы отвечается \"Да\", последняя строка успешного запуска "
           u"— итог\n"
           u"(какой файл записан, какая база восстановлена). QT_QPA_PLATFORM=offscreen "
           u"действует так же.\n"
           u"\n"
           u"Пароль. Командную строку процесса видят все пользователи компьютера (ps), поэтому "
           u"пароль\n"
           u"лучше не писать в /connection_string: переменная окружения DBSETUP_PASSWORD задаёт "
           u"пароль,\n"
           u"когда подключение (settings.ini, UDL-файл или /connection_string) называет "
           u"пользователя\n"
           u"без пароля. Строку /connection_string программа стирает из своей командной строки, "
           u"как только\n"
           u"прочитает её.\n"
           u"\n"
           u"Коды завершения:\n"
           u"  0              резервная копия создана или база восстановлена\n"
           u"  1              ошибка; её текст — в окне сообщения или в stderr\n"
           u"  2              неверная командная строка, или окну программы нужен дисплей, а "
           u"его нет\n"
           u"  129, 130, 143  работа прервана сигналом SIGHUP, SIGINT или SIGTERM; начатое "
           u"отменено\n"
           u"                 (прежняя резервная копия возвращена, база снова доступна)\n"
           u"\n"
           u"Пример: ночная копия с хранением по дням недели (cron, пользователь с доступом к "
           u"settings.ini)\n"
           u"  #!/bin/sh\n"
           u"  export DBSETUP_PASSWORD=\"$(cat /etc/dbsetup/password)\"\n"
           u"  dbsetup -backup_db /no_dialogs /db_name:ostrel_ts /verify \\\n"
           u"      /file:/srv/backup/ostrel_ts_$(date +%u).bak || exit $?\n"
           u"\n"
           u"Пример: тестовая копия рабочей базы под другим именем\n"
           u"  #!/bin/sh\n"
           u"  dbsetup -restore_db /no_dialogs /db_name:ostrel_test /replace_db "
           u"/close_connections \\\n"
           u"      /file:/srv/backup/ostrel_ts_$(date +%u).bak /path_db:/srv/data/test \\\n"
           u"      || { echo \"восстановление не удалось: $?\" >&2; exit 1; }\n"_s;
}
