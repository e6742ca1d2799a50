// Languages on a server installed in Russian (--default-language russian): where a session's
// language comes from (the login's default, or LOGIN7's), SET LANGUAGE and @@LANGUAGE, and the
// messages of backup, restore, attach and the like in Russian words with their parameters
// kept, Windows' own texts of operating system errors included.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QtTest>
#include <sql.h>
#include <sqlext.h>

using namespace Qt::StringLiterals;

namespace {

// Connects through FreeTDS with a connection string of our own: `extra` adds keywords, such as
// "Language=;" (LOGIN7 with no language: the login's default) or "Language=Russian;". The
// server's first message when refused, else empty.
QString refusal(OdbcClient& client, quint16 port, const QString& password, const QString& extra)
{
    client.disconnect();
    const QString text = OdbcClient::connectionString(port, u"sa"_s, password) + extra;
    const std::u16string wide = text.toStdU16String();
    std::vector<SQLWCHAR> buffer(wide.begin(), wide.end());
    buffer.push_back(0);
    const SQLRETURN rc =
        SQLDriverConnectW(static_cast<SQLHDBC>(client.dbc()), nullptr, buffer.data(), SQL_NTS,
                          nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (SQL_SUCCEEDED(rc))
        return {};
    QString last;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6];
        SQLINTEGER native = 0;
        SQLWCHAR message[1024];
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_DBC, static_cast<SQLHDBC>(client.dbc()), i,
                                          state, &native, message, 1024, &length)))
            break;
        // The server's own (FreeTDS's are 20000 and up).
        if (native > 0 && native < 20000 && last.isEmpty())
            last = QString::fromUtf16(reinterpret_cast<const char16_t*>(message), length);
    }
    return last.isEmpty() ? u"refused"_s : last;
}

bool connectWith(OdbcClient& client, quint16 port, const QString& password, const QString& extra)
{
    return refusal(client, port, password, extra).isEmpty();
}

QVariant cell(const OdbcResult& r, int column = 0)
{
    return r.resultSets.value(0).rows.value(0).value(column);
}

} // namespace

class LanguagesTest : public QObject
{
    Q_OBJECT

    SqlsimProcess m_sim;
    OdbcClient m_ru; // a session in the server's default language, Russian

    QString path(const QString& name) const { return m_sim.dataDir() + u'/' + name; }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start({u"--default-language"_s, u"russian"_s}),
                 m_sim.stderrText().constData());
        QVERIFY(connectWith(m_ru, m_sim.port(), m_sim.password(), u"Language=;"_s));
        for (const QString& sql :
             {u"CREATE DATABASE lang"_s, u"CREATE TABLE lang.dbo.t (v int)"_s,
              u"INSERT INTO lang.dbo.t VALUES (1)"_s,
              u"BACKUP DATABASE lang TO DISK = N'%1'"_s.arg(path(u"lang.bak"_s))}) {
            const OdbcResult r = m_ru.exec(sql);
            QVERIFY2(r.ok, qPrintable(sql + u": "_s + r.error));
        }
    }

    // "default language" option (learn.microsoft.com/sql/database-engine/configure-windows/
    // configure-the-default-language-server-configuration-option): the login's language unless
    // LOGIN7 names another; FreeTDS names us_english unless told otherwise.
    void sessionLanguage_data()
    {
        QTest::addColumn<QString>("extra");
        QTest::addColumn<QString>("language");
        QTest::addColumn<qint64>("langid");
        QTest::addColumn<qint64>("datefirst");
        QTest::addColumn<QString>("dateformat");
        QTest::newRow("FreeTDS's us_english")
            << QString() << u"us_english"_s << 0LL << 7LL << u"mdy"_s;
        QTest::newRow("none: the login's")
            << u"Language=;"_s << u"русский"_s << 21LL << 1LL << u"dmy"_s;
        QTest::newRow("by alias") << u"Language=Russian;"_s << u"русский"_s << 21LL << 1LL
                                  << u"dmy"_s;
        QTest::newRow("unknown: the login's")
            << u"Language=Klingon;"_s << u"русский"_s << 21LL << 1LL << u"dmy"_s;
    }

    void sessionLanguage()
    {
        QFETCH(QString, extra);
        QFETCH(QString, language);
        QFETCH(qint64, langid);
        QFETCH(qint64, datefirst);
        QFETCH(QString, dateformat);
        OdbcClient client;
        QVERIFY(extra.isEmpty() ? client.connect(m_sim.port(), u"sa"_s, m_sim.password())
                                : connectWith(client, m_sim.port(), m_sim.password(), extra));
        const OdbcResult r =
            client.exec(u"SELECT @@LANGUAGE, @@LANGID, @@DATEFIRST, s.language, s.date_format "
                        "FROM sys.dm_exec_sessions s WHERE s.session_id = @@SPID"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r, 0).toString(), language);
        QCOMPARE(cell(r, 1).toLongLong(), langid);
        QCOMPARE(cell(r, 2).toLongLong(), datefirst);
        QCOMPARE(cell(r, 3).toString(), language);
        QCOMPARE(cell(r, 4).toString(), dateformat);
    }

    // SET LANGUAGE (learn.microsoft.com/sql/t-sql/statements/set-language-transact-sql): an
    // official name or alias of sys.syslanguages; it sets DATEFORMAT too.
    void setLanguage_data()
    {
        QTest::addColumn<QString>("set");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("message");
        QTest::newRow("alias") << u"SET LANGUAGE Russian"_s << 0 << u"русский"_s
                               << u"Язык сеанса изменен на русский."_s;
        QTest::newRow("official name") << u"SET LANGUAGE N'русский'"_s << 0 << u"русский"_s
                                       << u"Язык сеанса изменен на русский."_s;
        QTest::newRow("back to English") << u"SET LANGUAGE us_english"_s << 0 << u"us_english"_s
                                         << u"Changed language setting to us_english."_s;
        QTest::newRow("variable") << u"DECLARE @l sysname = N'english' SET LANGUAGE @l"_s << 0
                                  << u"us_english"_s
                                  << u"Changed language setting to us_english."_s;
        QTest::newRow("unknown") << u"SET LANGUAGE Klingon"_s << 2740 << u"us_english"_s
                                 << u"SET LANGUAGE failed because 'Klingon' is not an official "
                                    u"language name or a language alias on this SQL Server."_s;
    }

    void setLanguage()
    {
        QFETCH(QString, set);
        QFETCH(int, error);
        QFETCH(QString, language);
        QFETCH(QString, message);
        OdbcClient client;
        QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password()));
        const OdbcResult r = client.exec(set);
        QCOMPARE(r.ok, error == 0);
        if (error)
            QCOMPARE(r.nativeError, error);
        QVERIFY2(r.messages.size() == 1 && serverText(r.messages.first()) == message,
                 qPrintable(r.messages.join(u'\n')));
        // In force for the batches that follow, DATEFORMAT with it.
        const OdbcResult after =
            client.exec(u"SELECT @@LANGUAGE, CONVERT(varchar(10), CAST('05.02.2024' AS "
                        "datetime), 23)"_s);
        QCOMPARE(cell(after, 0).toString(), language);
        QCOMPARE(cell(after, 1).toString(),
                 language == u"us_english" ? u"2024-05-02"_s : u"2024-02-05"_s);
    }

    // The messages the program meets, in Russian with their parameters: number and whole text
    // (a regular expression) of the first error, or of the info message with that number.
    void russianMessages_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        const QString missing = QRegularExpression::escape(path(u"nowhere/x.bak"_s));
        const QString osMissing = u"[23]\\((Не удается найти указанный файл|Системе не удается "
                                  u"найти указанный путь)\\.\\)"_s;
        QTest::newRow("3211 percent") << u"BACKUP DATABASE lang TO DISK = N'%1' WITH INIT, "
                                         u"STATS = 10"_s.arg(path(u"p.bak"_s))
                                      << 3211 << u"Обработано процентов: 10\\."_s;
        QTest::newRow("3014 done")
            << u"BACKUP DATABASE lang TO DISK = N'%1' WITH INIT"_s.arg(path(u"p.bak"_s)) << 3014
            << u"BACKUP DATABASE успешно обработал \\d+ страниц за "
               u"\\d+\\.\\d{3} секунд \\(\\d+\\.\\d{3} MB/sec\\)\\."_s;
        QTest::newRow("4035 pages")
            << u"BACKUP DATABASE lang TO DISK = N'%1' WITH INIT"_s.arg(path(u"p.bak"_s)) << 4035
            << u"Обработано \\d+ страниц для базы данных \"lang\", файл "
               u"\"lang\" для файла 1\\."_s;
        QTest::newRow("3201 backup device")
            << u"BACKUP DATABASE lang TO DISK = N'%1'"_s.arg(path(u"nowhere/x.bak"_s)) << 3201
            << u"Не удается открыть устройство резервного копирования \"%1\"\\. Ошибка "
               u"операционной системы %2\\."_s.arg(missing, osMissing);
        QTest::newRow("3201 restore")
            << u"RESTORE DATABASE lang2 FROM DISK = N'%1'"_s.arg(path(u"nowhere/x.bak"_s)) << 3201
            << u"Не удается открыть устройство резервного копирования "
               u"\"%1\"\\. Ошибка операционной системы %2\\."_s.arg(missing, osMissing);
        QTest::newRow("3102 own session")
            << u"USE lang; RESTORE DATABASE lang FROM DISK = N'%1' WITH REPLACE"_s.arg(
                   path(u"lang.bak"_s))
            << 3102
            << u"RESTORE не может обработать базу данных \"lang\", так как она используется "
               u"этим сеансом\\. Для этой операции рекомендуется использовать базу данных "
               u"master\\."_s;
        QTest::newRow("3702 in use")
            << u"USE lang; DROP DATABASE lang"_s << 3702
            << u"Не удается удалить базу данных \"lang\", так как она используется\\."_s;
        QTest::newRow("5120 attach")
            << u"EXEC sp_attach_db N'lost', N'%1'"_s.arg(path(u"lost.mdf"_s)) << 5120
            << u"Не удается открыть физический файл \"%1\"\\. Ошибка "
               u"операционной системы 2: \"2\\(Не удается найти "
               u"указанный файл\\.\\)\"\\."_s.arg(QRegularExpression::escape(path(u"lost.mdf"_s)));
        QTest::newRow("226 in a transaction")
            << u"BEGIN TRAN; EXEC sp_detach_db N'lang'"_s << 226
            << u"Инструкция ALTER DATABASE недопустима в транзакции из нескольких инструкций\\."_s;
        QTest::newRow("1801 exists")
            << u"CREATE DATABASE lang"_s << 1801
            << u"База данных \"lang\" уже существует\\. Выберите другое имя базы данных\\."_s;
        QTest::newRow("208 object") << u"SELECT * FROM nothing_here"_s << 208
                                    << u"Недопустимое имя объекта «nothing_here»\\."_s;
        QTest::newRow("156 keyword") << u"CREATE DATABASE order"_s << 156
                                     << u"Неправильный синтаксис около ключевого слова "
                                        u"\"order\"\\."_s;
    }

    void russianMessages()
    {
        QFETCH(QString, sql);
        QFETCH(int, number);
        QFETCH(QString, text);
        const OdbcResult r = m_ru.exec(sql);
        m_ru.exec(u"IF @@TRANCOUNT > 0 ROLLBACK; USE master"_s);
        const qsizetype at = r.messageNumbers.indexOf(number);
        QVERIFY2(at >= 0, qPrintable(r.messages.join(u'\n')));
        const QString got = serverText(r.messages.value(at));
        QVERIFY2(QRegularExpression(u"\\A"_s + text + u"\\z"_s).match(got).hasMatch(),
                 qPrintable(got));
        // A failed BACKUP or RESTORE ends with 3013 in Russian too.
        if (r.messageNumbers.contains(3201))
            QVERIFY2(r.messages.last().contains(u"прерывается с ошибкой."_s),
                     qPrintable(r.messages.last()));
    }

    // A refused login is told in the language its session would have had.
    void refusedLogin_data()
    {
        QTest::addColumn<QString>("extra");
        QTest::addColumn<QString>("text");
        QTest::newRow("login's language")
            << u"Language=;"_s << u"Ошибка входа пользователя 'sa'."_s;
        QTest::newRow("LOGIN7's us_english") << QString() << u"Login failed for user 'sa'."_s;
    }

    void refusedLogin()
    {
        QFETCH(QString, extra);
        QFETCH(QString, text);
        OdbcClient client;
        const QString wrong = u"not-"_s + m_sim.password();
        QString error;
        if (extra.isEmpty()) {
            QVERIFY(!client.connect(m_sim.port(), u"sa"_s, wrong));
            const QStringList all = client.lastErrors();
            for (const QString& e : all)
                if (e.contains(u"sa'"_s))
                    error = e;
        } else {
            error = refusal(client, m_sim.port(), wrong, extra);
        }
        QVERIFY2(serverText(error) == text, qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(LanguagesTest)
#include "tst_languages.moc"
