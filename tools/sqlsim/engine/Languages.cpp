#include "Languages.h"

#include <QHash>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

struct Form
{
    int number;
    const char16_t* english;
    const char16_t* russian;
};

// English forms are sys.messages' texts for language 1033 ("Database Engine events and errors",
// learn.microsoft.com/sql/relational-databases/errors-events/database-engine-events-and-errors),
// where a %S_MSG word is part of the text written out as the simulator sends it. Each Russian
// form keeps the placeholders of its English one, in the same order.
const Form forms[] = {
    // Russian wording of the Russian documentation pages (learn.microsoft.com/ru-ru/sql/
    // relational-databases/errors-events/mssqlserver-<number>-database-engine-error).
    {102, u"Incorrect syntax near '%.*ls'.", u"Неправильный синтаксис около \"%.*ls\"."},
    {207, u"Invalid column name '%.*ls'.", u"Недопустимое имя столбца «%.*ls»."},
    {208, u"Invalid object name '%.*ls'.", u"Недопустимое имя объекта «%.*ls»."},
    {916,
     u"The server principal \"%.*ls\" is not able to access the database \"%.*ls\" under the "
     u"current security context.",
     u"Субъект сервера \"%.*ls\" не может получить доступ к базе данных \"%.*ls\" в текущем "
     u"контексте безопасности."},
    {945,
     u"Database '%.*ls' cannot be opened due to inaccessible files or insufficient memory or disk "
     u"space.  See the SQL Server errorlog for details.",
     u"Не удалось открыть базу данных «%.*ls» вследствие недоступности файлов, нехватки памяти "
     u"или места на диске.  Подробности см. в журнале ошибок SQL Server."},
    {1101,
     u"Could not allocate a new page for database '%.*ls' because of insufficient disk space in "
     u"filegroup '%.*ls'. Create the necessary space by dropping objects in the filegroup, adding "
     u"additional files to the filegroup, or setting autogrowth on for existing files in the "
     u"filegroup.",
     u"Не удалось выделить новую страницу для базы данных \"%.*ls\" вследствие нехватки места на "
     u"диске в файловой группе \"%.*ls\". Предоставьте необходимое место на диске, удалив объекты "
     u"в файловой группе, добавив дополнительные файлы в файловую группу или указав параметр "
     u"автоматического увеличения размера для существующих файлов в файловой группе."},
    {1105,
     u"Could not allocate space for object '%.*ls'%.*ls in database '%.*ls' because the '%.*ls' "
     u"filegroup is full. Create disk space by deleting unneeded files, dropping objects in the "
     u"filegroup, adding additional files to the filegroup, or setting autogrowth on for existing "
     u"files in the filegroup.",
     u"Не удалось выделить место для объекта '%.*ls'%.*ls в базе данных '%.*ls', так как "
     u"файловая группа '%.*ls' переполнена. Выделите место на диске, удалив ненужные файлы или "
     u"объекты в файловой группе, добавив дополнительные файлы в файловую группу или указав "
     u"параметр автоматического увеличения размера для существующих файлов в файловой группе."},
    {1222, u"Lock request time out period exceeded.",
     u"Истекло время ожидания запроса на блокировку."},
    {3156,
     u"File '%ls' cannot be restored to '%ls'. Use WITH MOVE to identify a valid location for the "
     u"file.",
     u"Невозможно восстановить файл «%ls» до «%ls». Укажите допустимое расположение для файла с "
     u"помощью предложения WITH MOVE."},
    {3176,
     u"File '%ls' is claimed by '%ls'(%d) and '%ls'(%d). The WITH MOVE clause can be used to "
     u"relocate one or more files.",
     u"Файл «%ls» запрошен «%ls»(%d) и «%ls»(%d). Переместить один или несколько файлов можно с "
     u"помощью предложения WITH MOVE."},
    {18456, u"Login failed for user '%.*ls'.%.*ls", u"Ошибка входа пользователя '%.*ls'.%.*ls"},

    // sys.messages' own Russian texts (language_id 1049) are not at hand for these: each is an
    // equivalent sentence written here, with the same parameters in the same order.
    {137, u"Must declare the scalar variable \"%.*ls\".",
     u"Необходимо объявить скалярную переменную \"%.*ls\"."},
    {156, u"Incorrect syntax near the keyword '%.*ls'.",
     u"Неправильный синтаксис около ключевого слова \"%.*ls\"."},
    {229, u"The %ls permission was denied on the object '%.*ls', database '%.*ls', schema '%.*ls'.",
     u"Отказано в разрешении %ls на объект \"%.*ls\", база данных \"%.*ls\", схема \"%.*ls\"."},
    {262, u"%ls permission denied in database '%.*ls'.",
     u"Отказано в разрешении %ls в базе данных \"%.*ls\"."},
    {911, u"Database '%.*ls' does not exist. Make sure that the name is entered correctly.",
     u"База данных \"%.*ls\" не существует. Проверьте правильность имени."},
    {924, u"Database '%.*ls' is already open and can only have one user at a time.",
     u"База данных \"%.*ls\" уже открыта, и с ней может одновременно работать только один "
     u"пользователь."},
    {927, u"Database '%.*ls' cannot be opened. It is in the middle of a restore.",
     u"Не удается открыть базу данных \"%.*ls\". Идет ее восстановление."},
    {942, u"Database '%.*ls' cannot be opened because it is offline.",
     u"Не удается открыть базу данных \"%.*ls\", так как она находится в автономном режиме."},
    {952, u"Database '%.*ls' is in transition. Try the statement later.",
     u"База данных \"%.*ls\" находится в переходном состоянии. Повторите инструкцию позже."},
    {1801, u"Database '%.*ls' already exists. Choose a different database name.",
     u"База данных \"%.*ls\" уже существует. Выберите другое имя базы данных."},
    {1802,
     u"CREATE DATABASE failed. Some file names listed could not be created. Check related errors.",
     u"Ошибка CREATE DATABASE. Не удалось создать некоторые из перечисленных файлов. Проверьте "
     u"связанные ошибки."},
    {1827,
     u"CREATE DATABASE or ALTER DATABASE failed because the resulting cumulative database size "
     u"would exceed your licensed limit of %I64d MB per database.",
     u"Ошибка CREATE DATABASE или ALTER DATABASE: итоговый общий размер базы данных превысил бы "
     u"лицензионное ограничение в %I64d МБ на базу данных."},
    {1834, u"The file '%ls' cannot be overwritten.  It is being used by database '%.*ls'.",
     u"Файл \"%ls\" нельзя перезаписать.  Он используется базой данных \"%.*ls\"."},
    {2714, u"There is already an object named '%.*ls' in the database.",
     u"В базе данных уже существует объект с именем \"%.*ls\"."},
    {2740,
     u"SET LANGUAGE failed because '%.*ls' is not an official language name or a language alias "
     u"on this SQL Server.",
     u"Ошибка SET LANGUAGE: \"%.*ls\" не является официальным названием или псевдонимом языка "
     u"на этом экземпляре SQL Server."},
    {2812, u"Could not find stored procedure '%.*ls'.",
     u"Не удалось найти хранимую процедуру \"%.*ls\"."},
    // As Russian servers word them in the output their users quote; sys.messages' own texts
    // not checked here. "MB/sec" stays in Latin letters there.
    {3013, u"%hs is terminating abnormally.", u"%hs прерывается с ошибкой."},
    {3014, u"%hs successfully processed %I64d pages in %d.%03d seconds (%d.%03d MB/sec).",
     u"%hs успешно обработал %I64d страниц за %d.%03d секунд (%d.%03d MB/sec)."},
    {3021, u"Cannot perform a backup or restore operation within a transaction.",
     u"Операции резервного копирования и восстановления нельзя выполнять внутри транзакции."},
    {3101, u"Exclusive access could not be obtained because the database is in use.",
     u"Не удалось получить монопольный доступ, так как база данных используется."},
    {3102,
     u"%ls cannot process database '%.*ls' because it is in use by this session. It is "
     u"recommended that the master database be used when performing this operation.",
     u"%ls не может обработать базу данных \"%.*ls\", так как она используется этим сеансом. "
     u"Для этой операции рекомендуется использовать базу данных master."},
    {3110, u"User does not have permission to RESTORE database '%.*ls'.",
     u"У пользователя нет разрешения на RESTORE базы данных \"%.*ls\"."},
    {3119,
     u"Problems were identified while planning for the RESTORE statement. Previous messages "
     u"provide details.",
     u"При планировании инструкции RESTORE обнаружены ошибки. Подробности в предыдущих "
     u"сообщениях."},
    {3142,
     u"File \"%ls\" cannot be restored over the existing \"%ls\". Reissue the RESTORE statement "
     u"using WITH REPLACE to overwrite pre-existing files, or WITH MOVE to identify an alternate "
     u"location.",
     u"Файл \"%ls\" нельзя восстановить поверх существующего \"%ls\". Повторите инструкцию "
     u"RESTORE с WITH REPLACE, чтобы перезаписать существующие файлы, или с WITH MOVE, чтобы "
     u"указать другое расположение."},
    {3147, u"Backup and restore operations are not allowed on database tempdb.",
     u"Операции резервного копирования и восстановления для базы данных tempdb запрещены."},
    {3154, u"The backup set holds a backup of a database other than the existing '%ls' database.",
     u"Резервный набор содержит резервную копию базы данных, отличной от существующей базы "
     u"данных \"%ls\"."},
    {3201, u"Cannot open backup device '%ls'. Operating system error %ls.",
     u"Не удается открыть устройство резервного копирования \"%ls\". Ошибка операционной системы "
     u"%ls."},
    {3202, u"Write on \"%ls\" failed: %ls", u"Сбой записи в \"%ls\": %ls"},
    {3203, u"Read on \"%ls\" failed: %ls", u"Сбой чтения \"%ls\": %ls"},
    {3204, u"The backup or restore was aborted.",
     u"Операция резервного копирования или восстановления прервана."},
    {3211, u"%d percent processed.", u"Обработано процентов: %d."},
    {3234,
     u"Logical file '%.*ls' is not part of database '%ls'. Use RESTORE FILELISTONLY to list the "
     u"logical file names.",
     u"Логический файл \"%.*ls\" не входит в базу данных \"%ls\". Список логических имен файлов "
     u"выдает RESTORE FILELISTONLY."},
    {3241,
     u"The media family on device '%ls' is incorrectly formed. SQL Server cannot process this "
     u"media family.",
     u"Семейство носителей на устройстве \"%ls\" сформировано неправильно. SQL Server не может "
     u"обработать это семейство носителей."},
    {3262, u"The backup set on file %d is valid.", u"Резервный набор в файле %d допустим."},
    {3701,
     u"Cannot drop the table '%.*ls', because it does not exist or you do not have permission.",
     u"Не удается удалить таблицу \"%.*ls\", так как она не существует или нет разрешения."},
    {3701,
     u"Cannot drop the database '%.*ls', because it does not exist or you do not have "
     u"permission.",
     u"Не удается удалить базу данных \"%.*ls\", так как она не существует или нет разрешения."},
    {3701,
     u"Cannot drop the procedure '%.*ls', because it does not exist or you do not have "
     u"permission.",
     u"Не удается удалить процедуру \"%.*ls\", так как она не существует или нет разрешения."},
    {3702, u"Cannot drop database \"%.*ls\" because it is currently in use.",
     u"Не удается удалить базу данных \"%.*ls\", так как она используется."},
    {3703, u"Cannot detach the database '%.*ls' because it is currently in use.",
     u"Не удается отсоединить базу данных \"%.*ls\", так как она используется."},
    {4035, u"Processed %I64d pages for database '%ls', file '%ls' on file %d.",
     u"Обработано %I64d страниц для базы данных \"%ls\", файл \"%ls\" для файла %d."},
    {4038, u"Cannot find file ID %d on device '%ls'.",
     u"Не удается найти файл с идентификатором %d на устройстве \"%ls\"."},
    {4060, u"Cannot open database \"%.*ls\" requested by the login. The login failed.",
     u"Не удается открыть базу данных \"%.*ls\", запрошенную при входе. Вход не выполнен."},
    {5011,
     u"User does not have permission to alter database '%.*ls', the database does not exist, or "
     u"the database is not in a state that allows access checks.",
     u"У пользователя нет разрешения на изменение базы данных \"%.*ls\", база данных не "
     u"существует или ее состояние не допускает проверку доступа."},
    // The state's name is a parameter and stays as it comes.
    {5052, u"%ls is not permitted while a database is in the %ls state.",
     u"%ls не допускается, когда база данных находится в состоянии %ls."},
    {5064,
     u"Changes to the state or options of database '%.*ls' cannot be made at this time. The "
     u"database is in single-user mode, and a user is currently connected to it.",
     u"Сейчас нельзя изменить состояние или параметры базы данных \"%.*ls\". База данных "
     u"находится в однопользовательском режиме, и к ней подключен пользователь."},
    {5068, u"Failed to restart the current database. The current database is switched to master.",
     u"Не удалось перезапустить текущую базу данных. Текущей базой данных стала master."},
    {5069, u"ALTER DATABASE statement failed.", u"Ошибка инструкции ALTER DATABASE."},
    {5070, u"Database state cannot be changed while other users are using the database '%.*ls'",
     u"Нельзя изменить состояние базы данных, пока ее используют другие пользователи: "
     u"\"%.*ls\""},
    {5133, u"Directory lookup for the file \"%ls\" failed with the operating system error %ls.",
     u"Сбой поиска в каталоге для файла \"%ls\", ошибка операционной системы %ls."},
    {5170,
     u"Cannot create file '%ls' because it already exists. Change the file path or the file "
     u"name, and retry the operation.",
     u"Невозможно создать файл \"%ls\", так как он уже существует. Измените путь или имя файла "
     u"и повторите операцию."},
    {5701, u"Changed database context to '%.*ls'.", u"Контекст базы данных изменен на \"%.*ls\"."},
    {5703, u"Changed language setting to %.*ls.", u"Язык сеанса изменен на %.*ls."},
    {15010,
     u"The database '%s' does not exist. Supply a valid database name. To see available "
     u"databases, use sys.databases.",
     u"База данных \"%s\" не существует. Укажите допустимое имя базы данных. Список баз данных "
     u"выдает sys.databases."},
    {15247, u"User does not have permission to perform this action.",
     u"У пользователя нет разрешения на выполнение этого действия."},
    {226, u"%ls statement not allowed within multi-statement transaction.",
     u"Инструкция %ls недопустима в транзакции из нескольких инструкций."},
    {3708, u"Cannot drop the database '%.*ls' because it is a system database.",
     u"Не удается удалить базу данных \"%.*ls\", так как она является системной."},
    {230,
     u"The %ls permission was denied on the column '%.*ls' of the object '%.*ls', database "
     u"'%.*ls', schema '%.*ls'.",
     u"Отказано в разрешении %ls на столбец \"%.*ls\" объекта \"%.*ls\", база данных \"%.*ls\", "
     u"схема \"%.*ls\"."},
    {297, u"The user does not have permission to perform this action.",
     u"У пользователя нет разрешения на выполнение этого действия."},
    {300, u"%ls permission was denied on object '%.*ls', database '%.*ls'.",
     u"Отказано в разрешении %ls на объект \"%.*ls\", база данных \"%.*ls\"."},
    {6102, u"User does not have permission to use the KILL statement.",
     u"У пользователя нет разрешения на использование инструкции KILL."},
    {3634, u"The operating system returned the error '%ls' while attempting '%ls' on '%ls'.",
     u"Операционная система возвратила ошибку \"%ls\" при попытке выполнить \"%ls\" для "
     u"\"%ls\"."},
    {4208,
     u"The statement %hs is not allowed while the recovery model is SIMPLE. Use BACKUP DATABASE or "
     u"change the recovery model using ALTER DATABASE.",
     u"Инструкция %hs недопустима при простой модели восстановления. Используйте BACKUP DATABASE "
     u"или измените модель восстановления с помощью ALTER DATABASE."},
    {5061,
     u"ALTER DATABASE failed because a lock could not be placed on database '%.*ls'. Try "
     u"again later.",
     u"Ошибка ALTER DATABASE: не удалось установить блокировку на базу данных \"%.*ls\". "
     u"Повторите попытку позже."},
    {5059, u"Database '%.*ls' is in transition. Try the ALTER DATABASE statement later.",
     u"База данных \"%.*ls\" находится в переходном состоянии. Повторите инструкцию ALTER "
     u"DATABASE позже."},
    {5060, u"Nonqualified transactions are being rolled back. Estimated rollback completion: %d%%.",
     u"Выполняется откат неквалифицированных транзакций. Предполагаемое завершение отката: "
     u"%d%%."},
    {5105, u"New log file '%.*ls' was created.", u"Создан новый файл журнала \"%.*ls\"."},
    {5120, u"Unable to open the physical file \"%.*ls\". Operating system error %d: \"%ls\".",
     u"Не удается открыть физический файл \"%.*ls\". Ошибка операционной системы %d: "
     u"\"%ls\"."},
    {3108,
     u"To restore the master database, the server must be running in single-user mode. For "
     u"information on starting in single-user mode, see \"How to: Start an Instance of SQL "
     u"Server (sqlservr.exe)\" in Books Online.",
     u"Чтобы восстановить базу данных master, сервер должен работать в однопользовательском "
     u"режиме. Сведения о запуске в однопользовательском режиме см. в разделе \"Как запустить "
     u"экземпляр SQL Server (sqlservr.exe)\" электронной документации."},
    {3206,
     u"Backup device '%.*ls' does not exist. To view existing backup devices, use the "
     u"sys.backup_devices catalog view. To create a new backup device use either "
     u"sp_addumpdevice or SQL Server Management Studio.",
     u"Устройство резервного копирования \"%.*ls\" не существует. Список существующих устройств "
     u"выдает представление каталога sys.backup_devices. Создать устройство можно с помощью "
     u"sp_addumpdevice или SQL Server Management Studio."},
};

// Windows' own texts of the operating system errors that messages quote ("5(Access is
// denied.)"): on a Russian server they come from a Russian Windows (System Error Codes,
// learn.microsoft.com/windows/win32/debug/system-error-codes--0-499-, in its Russian edition).
struct OsText
{
    const char16_t* english;
    const char16_t* russian;
};
const OsText osTexts[] = {
    {u"The system cannot find the file specified.", u"Не удается найти указанный файл."},
    {u"The system cannot find the path specified.", u"Системе не удается найти указанный путь."},
    {u"Access is denied.", u"Отказано в доступе."},
    {u"The data is invalid.", u"Недопустимые данные."},
    {u"The process cannot access the file because it is being used by another process.",
     u"Процесс не может получить доступ к файлу, так как этот файл занят другим процессом."},
    {u"The process cannot access the file because another process has locked a portion of the "
     u"file.",
     u"Процесс не может получить доступ к файлу, так как часть этого файла заблокирована другим "
     u"процессом."},
    {u"Reached the end of the file.", u"Достигнут конец файла."},
    {u"There is not enough space on the disk.", u"Недостаточно места на диске."},
};

// A parameter that quotes an operating system error, "5(Access is denied.)" or a bare text, in
// Russian Windows' words.
QString russianOsText(const QString& value)
{
    for (const OsText& t : osTexts) {
        const QString english = QString::fromUtf16(t.english);
        if (value == english)
            return QString::fromUtf16(t.russian);
        const QString quoted = u'(' + english + u')';
        if (value.endsWith(quoted) && value.size() > quoted.size() &&
            value.left(value.size() - quoted.size()).toInt() > 0)
            return value.left(value.size() - quoted.size()) + u'(' + QString::fromUtf16(t.russian) +
                   u')';
    }
    return value;
}

const QRegularExpression& placeholder()
{
    // "%%" is a percent sign of the text, no parameter.
    static const QRegularExpression re(u"%(?:%|(?:\\.\\*)?(?:ls|hs|S_MSG|s|I64d|ld|03d|d|u))"_s);
    return re;
}

bool isNumber(const QString& p)
{
    return p.endsWith(u'd') || p == u"%u";
}

// An English form as a pattern that captures its parameters.
QRegularExpression readBack(const QString& english)
{
    QString pattern = u"\\A"_s;
    qsizetype at = 0;
    QRegularExpressionMatchIterator it = placeholder().globalMatch(english);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        pattern += QRegularExpression::escape(english.mid(at, m.capturedStart() - at));
        if (m.captured() == u"%%")
            pattern += u"%"_s;
        else
            pattern += isNumber(m.captured()) ? u"(-?\\d+)"_s : u"(.*?)"_s;
        at = m.capturedEnd();
    }
    pattern += QRegularExpression::escape(english.mid(at)) + u"\\z"_s;
    return QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption);
}

struct Compiled
{
    QRegularExpression english;
    QString russian;
};

const QMultiHash<int, Compiled>& compiled()
{
    static const QMultiHash<int, Compiled> table = [] {
        QMultiHash<int, Compiled> out;
        for (const Form& f : forms)
            out.insert(f.number,
                       {readBack(QString::fromUtf16(f.english)), QString::fromUtf16(f.russian)});
        return out;
    }();
    return table;
}

QString fill(const QString& form, const QStringList& values)
{
    QString out;
    qsizetype at = 0;
    qsizetype next = 0;
    QRegularExpressionMatchIterator it = placeholder().globalMatch(form);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += form.mid(at, m.capturedStart() - at);
        out += m.captured() == u"%%" ? u"%"_s : russianOsText(values.value(next++));
        at = m.capturedEnd();
    }
    return out + form.mid(at);
}

} // namespace

const QList<Language>& installedLanguages()
{
    // The columns, and Russian's LCID and message group 1049: "sys.syslanguages
    // (Transact-SQL)", learn.microsoft.com/sql/relational-databases/system-compatibility-views/
    // sys-syslanguages-transact-sql. Russian's langid, official name and month and day names are
    // not on that page: written as a server ships them to our knowledge, not checked against one.
    static const QList<Language> languages = {
        {0, u"us_english"_s, u"English"_s, u"mdy"_s, 7,
         u"January,February,March,April,May,June,July,August,September,October,November,"
         u"December"_s,
         u"Jan,Feb,Mar,Apr,May,Jun,Jul,Aug,Sep,Oct,Nov,Dec"_s,
         u"Monday,Tuesday,Wednesday,Thursday,Friday,Saturday,Sunday"_s, 1033, 1033},
        {21, u"русский"_s, u"Russian"_s, u"dmy"_s, 1,
         u"январь,февраль,март,апрель,май,июнь,июль,август,сентябрь,октябрь,ноябрь,декабрь"_s,
         u"янв,фев,мар,апр,май,июн,июл,авг,сен,окт,ноя,дек"_s,
         u"понедельник,вторник,среда,четверг,пятница,суббота,воскресенье"_s, 1049, 1049},
    };
    return languages;
}

const Language& usEnglish()
{
    return installedLanguages().first();
}

const Language* findLanguage(const QString& nameOrAlias)
{
    const QString wanted = nameOrAlias.trimmed();
    for (const Language& l : installedLanguages())
        if (wanted.compare(l.name, Qt::CaseInsensitive) == 0 ||
            wanted.compare(l.alias, Qt::CaseInsensitive) == 0)
            return &l;
    return nullptr;
}

Message localized(const Message& message, const Language& language)
{
    if (language.msglangid != 1049)
        return message;
    const auto range = compiled().equal_range(message.number);
    for (auto it = range.first; it != range.second; ++it) {
        const QRegularExpressionMatch m = it->english.match(message.text);
        if (!m.hasMatch())
            continue;
        Message out = message;
        out.text = fill(it->russian, m.capturedTexts().mid(1));
        return out;
    }
    return message;
}

QStringList messagePlaceholders(const QString& form)
{
    QStringList out;
    QRegularExpressionMatchIterator it = placeholder().globalMatch(form);
    while (it.hasNext()) {
        const QString p = it.next().captured();
        if (p != u"%%")
            out << p;
    }
    return out;
}

QList<MessageForms> messageTable()
{
    QList<MessageForms> out;
    for (const Form& f : forms)
        out.append({f.number, QString::fromUtf16(f.english), QString::fromUtf16(f.russian)});
    return out;
}

} // namespace sqlsim
