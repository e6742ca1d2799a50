// Finer points of the simulator's T-SQL: conversions and their errors, procedures and their
// parameters, messages, options, catalogue procedures. Each case is a batch and what the
// client must see.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class EngineDialect : public QObject
{
    Q_OBJECT

private:
    SqlsimProcess m_sim;
    OdbcClient m_db;

    OdbcResult run(const QString& sql) { return m_db.exec(sql); }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        QVERIFY2(m_db.connect(m_sim.port(), u"sa"_s, m_sim.password()),
                 qPrintable(m_db.lastError()));
        OdbcResult r = run(u"create database dialect"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = run(u"use dialect"_s);
        QVERIFY(r.ok);
        r = run(u"create procedure greet @name nvarchar(20), @times int = 1, @out nvarchar(100) "
                "output as\r\n"
                "declare @i int set @i = 0 set @out = ''\r\n"
                "while @i < @times begin set @out = @out + N'hi ' + @name + N';' set @i = @i + 1 "
                "end\r\n"
                "if @times > 2 return 5\r\n"
                "select @out as greeting"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = run(u"create procedure deep @n int as if @n > 0 begin declare @m int set @m = @n - 1 "
                "exec deep @m end else select db_name() as here"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
    }

    void cleanupTestCase()
    {
        m_db.disconnect();
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    void conversions_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("value");
        QTest::newRow("varchar to int") << u"cast(' 42 ' as int)"_s << u"42"_s;
        QTest::newRow("empty string to int") << u"cast('' as int)"_s << u"0"_s;
        QTest::newRow("float to int truncates") << u"cast(-2.9e0 as int)"_s << u"-2"_s;
        QTest::newRow("decimal rounds half away")
            << u"cast(-2.345 as decimal(5,2))"_s << u"-2.35"_s;
        QTest::newRow("int to varchar") << u"cast(-15 as varchar(10))"_s << u"-15"_s;
        QTest::newRow("too long number to varchar") << u"cast(123456 as varchar(3))"_s << u"*"_s;
        QTest::newRow("string truncates in a cast")
            << u"cast('abcdef' as varchar(3))"_s << u"abc"_s;
        QTest::newRow("char pads in a cast") << u"cast('ab' as char(4)) + '|'"_s << u"ab  |"_s;
        QTest::newRow("float to varchar")
            << u"cast(cast(1234567.0 as float) as varchar(20))"_s << u"1.23457e+006"_s;
        QTest::newRow("money keeps two decimals in text")
            << u"cast(cast(12.5 as money) as varchar(20))"_s << u"12.50"_s;
        QTest::newRow("datetime default style")
            << u"cast(cast('2014-12-05 13:07:00' as datetime) as varchar(30))"_s
            << u"Dec  5 2014  1:07PM"_s;
        QTest::newRow("style 120")
            << u"convert(varchar(19), cast('20141225 08:09:10' as datetime), 120)"_s
            << u"2014-12-25 08:09:10"_s;
        QTest::newRow("style 103")
            << u"convert(varchar(10), cast('2014-12-25' as datetime), 103)"_s << u"25/12/2014"_s;
        QTest::newRow("style 112")
            << u"convert(char(8), cast('2014-12-25' as datetime), 112)"_s << u"20141225"_s;
        QTest::newRow("datetime keeps 1/300 s")
            << u"convert(varchar(23), cast('2014-12-25 10:11:12.345' as datetime), 121)"_s
            << u"2014-12-25 10:11:12.347"_s;
        QTest::newRow("us date") << u"convert(varchar(10), cast('12/25/2014' as datetime), 23)"_s
                                 << u"2014-12-25"_s;
        QTest::newRow("month name")
            << u"convert(varchar(10), cast('25 Dec 2014' as datetime), 23)"_s << u"2014-12-25"_s;
        QTest::newRow("int to datetime")
            << u"convert(varchar(10), cast(1 as datetime), 23)"_s << u"1900-01-02"_s;
        QTest::newRow("varchar to varbinary")
            << u"convert(varchar(20), cast('AB' as varbinary(4)), 1)"_s << u"0x4142"_s;
        QTest::newRow("int to binary")
            << u"convert(varchar(20), cast(258 as binary(4)), 1)"_s << u"0x00000102"_s;
        QTest::newRow("bit from text") << u"cast('true' as bit)"_s << u"1"_s;
        QTest::newRow("bit from number") << u"cast(5 as bit)"_s << u"1"_s;
        QTest::newRow("guid text") << u"cast('{6f9619ff-8b86-d011-b42d-00c04fc964ff}' as "
                                      "uniqueidentifier)"_s
                                   << u"6F9619FF-8B86-D011-B42D-00C04FC964FF"_s;
        QTest::newRow("try_cast") << u"isnull(cast(try_cast('x' as int) as varchar(5)), 'none')"_s
                                  << u"none"_s;
        QTest::newRow("isnumeric")
            << u"cast(isnumeric('1.5') + isnumeric('x') as varchar(5))"_s << u"1"_s;
    }

    void conversions()
    {
        QFETCH(QString, expression);
        QFETCH(QString, value);
        const OdbcResult r = run(u"select "_s + expression);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.value(0).rows.value(0).value(0).toString(), value);
    }

    void conversionErrors_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("245") << u"select cast('12x' as int)"_s << 245
                             << u"Conversion failed when converting the varchar value '12x' to "
                                "data type int."_s;
        QTest::newRow("245 nvarchar")
            << u"declare @v nvarchar(5) set @v = N'a' select @v + 1"_s << 245
            << u"Conversion failed when converting the nvarchar value "
               "'a' to data type int."_s;
        QTest::newRow("8114") << u"select cast('1.2.3' as decimal(5,2))"_s << 8114
                              << u"Error converting data type varchar to numeric."_s;
        QTest::newRow("8115") << u"select cast(1000 as tinyint)"_s << 8115
                              << u"Arithmetic overflow error converting expression to data type "
                                 "tinyint."_s;
        QTest::newRow("8115 decimal") << u"select cast(12345.6 as decimal(4,1))"_s << 8115
                                      << u"Arithmetic overflow error converting expression to "
                                         "data type numeric."_s;
        QTest::newRow("241") << u"select cast('not a date' as datetime)"_s << 241
                             << u"Conversion failed when converting date and/or time from "
                                "character string."_s;
        QTest::newRow("242") << u"select cast('1700-01-01' as datetime)"_s << 242
                             << u"The conversion of a varchar data type to a datetime data type "
                                "resulted in an out-of-range value."_s;
        QTest::newRow("8134") << u"select 1 / 0"_s << 8134
                              << u"Divide by zero error encountered."_s;
        QTest::newRow("8169") << u"select cast('nope' as uniqueidentifier)"_s << 8169
                              << u"Conversion failed when converting from a character string to "
                                 "uniqueidentifier."_s;
        QTest::newRow("243") << u"select cast(1 as nosuchtype)"_s << 243
                             << u"Type nosuchtype is not a defined system type."_s;
        QTest::newRow("2715") << u"create table badtype (a nosuchtype)"_s << 2715
                              << u"Column, parameter, or variable #1: Cannot find data type "
                                 "nosuchtype."_s;
        QTest::newRow("131") << u"declare @v varchar(9000)"_s << 131
                             << u"The size (9000) given to the type 'varchar' exceeds the maximum "
                                "allowed for any data type (8000)."_s;
        QTest::newRow("257") << u"create table bin (b varbinary(10)) insert bin values ('text')"_s
                             << 257
                             << u"Implicit conversion from data type varchar to varbinary is not "
                                "allowed. Use the CONVERT function to run this query."_s;
        QTest::newRow("195") << u"select nosuchfunction(1)"_s << 195
                             << u"'nosuchfunction' is not a recognized built-in function name."_s;
    }

    void conversionErrors()
    {
        QFETCH(QString, batch);
        QFETCH(int, number);
        QFETCH(QString, text);
        const OdbcResult r = run(batch);
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, number);
        QCOMPARE(serverText(r.error), text);
    }

    void procedures_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("defaults")
            << u"declare @o nvarchar(100) exec greet N'Ann', @out = @o output"_s
            << QStringList{u"hi Ann;"_s};
        QTest::newRow("named in any order")
            << u"declare @o nvarchar(100) exec greet @times = 2, @out = @o output, @name = 'Bo'"_s
            << QStringList{u"hi Bo;hi Bo;"_s};
        QTest::newRow("output and return status")
            << u"declare @o nvarchar(100), @rc int exec @rc = greet 'C', 3, @o output "
               "select @rc, @o"_s
            << QStringList{u"5|hi C;hi C;hi C;"_s};
        QTest::newRow("DEFAULT keyword")
            << u"declare @o nvarchar(100) execute dbo.greet 'D', default, @o out"_s
            << QStringList{u"hi D;"_s};
        QTest::newRow("three-part name from another database")
            << u"use master declare @o nvarchar(100) exec dialect.dbo.greet 'E', 1, @o output"_s
            << QStringList{u"hi E;"_s};
        QTest::newRow("runs in its own database")
            << u"use master exec dialect..deep 3"_s << QStringList{u"dialect"_s};
        QTest::newRow("group number")
            << u"use dialect exec deep;1 0"_s << QStringList{u"dialect"_s};
        QTest::newRow("sp_executesql with output")
            << u"declare @r int exec sp_executesql N'set @x = @a * 2', N'@a int, @x int output', "
               "@a = 21, @x = @r output select @r"_s
            << QStringList{u"42"_s};
        QTest::newRow("procedure text")
            << u"exec sp_helptext 'deep'"_s
            << QStringList{u"create procedure deep @n int as if @n > 0 begin declare @m int set "
                           "@m = @n - 1 exec deep @m end else select db_name() as here"_s};
    }

    void procedures()
    {
        QFETCH(QString, batch);
        QFETCH(QStringList, rows);
        const OdbcResult r = run(batch);
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(!r.resultSets.isEmpty());
        QCOMPARE(flatten(r.resultSets.last()), rows);
        QVERIFY(run(u"use dialect"_s).ok);
    }

    void procedureErrors_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("201") << u"exec greet"_s << 201
                             << u"Procedure or function 'greet' expects parameter '@name', which "
                                "was not supplied."_s;
        QTest::newRow("8144") << u"exec greet 'a', 1, null, 4"_s << 8144
                              << u"Procedure or function greet has too many arguments "
                                 "specified."_s;
        QTest::newRow("8145") << u"exec greet @nme = 'a'"_s << 8145
                              << u"@nme is not a parameter for procedure greet."_s;
        QTest::newRow("217") << u"exec deep 40"_s << 217
                             << u"Maximum stored procedure, function, trigger, or view nesting "
                                "level exceeded (limit 32)."_s;
        QTest::newRow("2714") << u"create procedure greet as select 1"_s << 2714
                              << u"There is already an object named 'greet' in the database."_s;
        QTest::newRow("111") << u"select 1 create procedure late as select 1"_s << 111
                             << u"'CREATE PROCEDURE' must be the first statement in a query "
                                "batch."_s;
        QTest::newRow("154") << u"create procedure hop as use master"_s << 0 << QString();
        QTest::newRow("154 when run") << u"exec hop"_s << 154
                                      << u"a USE database statement is not allowed in a "
                                         "procedure, function or trigger."_s;
        QTest::newRow("166") << u"create procedure master.dbo.p as select 1"_s << 166
                             << u"'CREATE PROCEDURE' does not allow specifying the database name "
                                "as a prefix to the object name."_s;
        QTest::newRow("15009") << u"exec sp_procoption 'nosuch', 'startup', 'on'"_s << 15009
                               << u"The object 'nosuch' does not exist in database 'dialect' or "
                                  "is invalid for this operation."_s;
    }

    void procedureErrors()
    {
        QFETCH(QString, batch);
        QFETCH(int, number);
        QFETCH(QString, text);
        const OdbcResult r = run(batch);
        if (number == 0) {
            QVERIFY2(r.ok, qPrintable(r.error));
            return;
        }
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, number);
        QCOMPARE(serverText(r.error), text);
    }

    void messages_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("print") << u"print 'one' print N'два' + ' ' + cast(2 as varchar)"_s
                               << QStringList{u"one"_s, u"два 2"_s};
        QTest::newRow("print null prints an empty line")
            << u"print null"_s << QStringList{QString()};
        QTest::newRow("raiserror as information")
            << u"raiserror('%s is %d%%', 10, 1, 'progress', 50)"_s
            << QStringList{u"progress is 50%"_s};
        QTest::newRow("use") << u"use master use dialect"_s
                             << QStringList{u"Changed database context to 'master'."_s,
                                            u"Changed database context to 'dialect'."_s};
    }

    void messages()
    {
        QFETCH(QString, batch);
        QFETCH(QStringList, messages);
        const OdbcResult r = run(batch);
        QVERIFY2(r.ok, qPrintable(r.error));
        QStringList texts;
        for (const QString& m : r.messages)
            texts << serverText(m);
        QCOMPARE(texts, messages);
    }

    void raiserrorIsAnError()
    {
        const OdbcResult r = run(u"raiserror('bad thing %d', 16, 3, 7) select 1 as next_one"_s);
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, 50000);
        QCOMPARE(serverText(r.error), u"bad thing 7"_s);
    }

    void options_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QString>("value");
        QTest::newRow("dateformat dmy")
            << u"set dateformat dmy select convert(varchar(10), cast('05/12/2014' as datetime), "
               "23) set dateformat mdy"_s
            << u"2014-12-05"_s;
        QTest::newRow("options accepted")
            << u"set ansi_nulls on set quoted_identifier on set textsize 2147483647 "
               "set lock_timeout 500 set transaction isolation level read committed "
               "set ansi_warnings, arithabort on select @@lock_timeout"_s
            << u"500"_s;
        QTest::newRow("identity_insert")
            << u"create table ii (id int identity primary key, v int) set identity_insert ii on "
               "insert ii (id, v) values (100, 1) set identity_insert ii off "
               "insert ii (v) values (2) select max(id) from ii"_s
            << u"101"_s;
    }

    void options()
    {
        QFETCH(QString, batch);
        QFETCH(QString, value);
        const OdbcResult r = run(batch);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.value(0).rows.value(0).value(0).toString(), value);
    }

    void refusedOptions_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("number");
        QTest::newRow("rowcount") << u"set rowcount 10"_s << 40000;
        QTest::newRow("implicit transactions") << u"set implicit_transactions on"_s << 40000;
        QTest::newRow("unknown option") << u"set nosuchoption on"_s << 195;
        QTest::newRow("bad dateformat") << u"set dateformat xyz"_s << 2741;
        QTest::newRow("identity increment")
            << u"create table inc (id int identity(1, 2))"_s << 40000;
        QTest::newRow("cursor") << u"declare c cursor for select 1"_s << 102;
        QTest::newRow("table variable") << u"declare @t table (a int)"_s << 40000;
        QTest::newRow("try") << u"begin try select 1 end try begin catch select 2 end catch"_s
                             << 40000;
    }

    void refusedOptions()
    {
        QFETCH(QString, batch);
        QFETCH(int, number);
        const OdbcResult r = run(batch);
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, number);
    }

    void savepoints()
    {
        QVERIFY(run(u"create table sv (v int)"_s).ok);
        const OdbcResult r = run(u"begin tran insert sv values (1) save tran half "
                                 "insert sv values (2) rollback tran half "
                                 "insert sv values (3) commit select v from sv order by v"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets.value(0)), (QStringList{u"1"_s, u"3"_s}));
    }

    void errorInsideATransactionKeepsIt()
    {
        QVERIFY(run(u"create table kt (v int not null)"_s).ok);
        const OdbcResult r = run(u"begin tran insert kt values (1) insert kt values (null) "
                                 "insert kt values (2) commit"_s);
        QCOMPARE(r.nativeError, 515);
        const OdbcResult after = run(u"select count(*), @@trancount from kt"_s);
        QCOMPARE(flatten(after.resultSets.value(0)), QStringList{u"2|0"_s});
    }

    void catalogueProcedures()
    {
        OdbcResult r = run(u"exec sp_databases"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(flatten(r.resultSets.value(0)).join(u'\n').contains(u"dialect|"_s));
        r = run(u"exec sp_helpdb"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.value(0).columns.value(1), u"db_size"_s);
        r = run(u"exec sp_helpdb nosuchdb"_s);
        QCOMPARE(r.nativeError, 15010);
        r = run(u"create table cols (id int identity primary key, name nvarchar(30) not null, "
                "price decimal(9,2) default 0) exec sp_columns cols"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        const ResultSet set = r.resultSets.value(0);
        QCOMPARE(set.columns.value(3), u"COLUMN_NAME"_s);
        QStringList described;
        for (const auto& row : set.rows)
            described << row.value(3).toString() + u' ' + row.value(5).toString() + u' ' +
                             row.value(6).toString() + u' ' + row.value(10).toString();
        QCOMPARE(described, (QStringList{u"id int identity 10 0"_s, u"name nvarchar 30 0"_s,
                                         u"price decimal 9 1"_s}));
        r = run(u"exec sp_sproc_columns @procedure_name = 'greet'"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QStringList params;
        for (const auto& row : r.resultSets.value(0).rows)
            params << row.value(3).toString() + u' ' + row.value(4).toString();
        QCOMPARE(params,
                 (QStringList{u"@RETURN_VALUE 5"_s, u"@name 1"_s, u"@times 1"_s, u"@out 2"_s}));
        QCOMPARE(r.resultSets.value(0).rows.value(0).value(2).toString(), u"greet;1"_s);
        // With the group number, and with ODBC's escaped underscores.
        r = run(u"exec sp_sproc_columns @procedure_name = N'sp\\_detach\\_db;1', @ODBCVer = 3"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.value(0).rows.size(), 4);
        QCOMPARE(r.resultSets.value(0).rows.value(2).value(3).toString(), u"@skipchecks"_s);
    }
};

QTEST_GUILESS_MAIN(EngineDialect)
#include "tst_engine_dialect.moc"
