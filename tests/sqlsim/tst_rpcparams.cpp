// How the simulator binds the arguments of system procedures called by RPC: extended
// procedures (sp_executesql, sp_prepexec, …) by position whatever their names, catalogue
// procedures by name.
#include "RawTdsClient.h"
#include "SqlsimProcess.h"

#include <QtTest>

using namespace Qt::StringLiterals;

using Param = RawTdsClient::Param;
using Params = QList<Param>;

Q_DECLARE_METATYPE(Params)

namespace {

QStringList texts(const QList<RawTdsClient::Message>& messages)
{
    QStringList out;
    for (const auto& m : messages)
        out << u"%1: %2"_s.arg(m.number).arg(m.text);
    return out;
}

} // namespace

class RpcParamsTest : public QObject
{
    Q_OBJECT

private:
    SqlsimProcess m_sim;
    RawTdsClient m_client;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        const RawTdsClient::Reply login = m_client.connect(m_sim.port(), u"sa"_s, m_sim.password());
        QVERIFY2(login.received && login.errors.isEmpty(), qPrintable(login.problem));
    }

    void cleanupTestCase()
    {
        m_client.close();
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    // Each call prints what it saw, or fails; "0: text" is a PRINT, "N: text" error N.
    void executeSqlByPosition_data()
    {
        QTest::addColumn<Params>("params");
        QTest::addColumn<QStringList>("expected");

        const QString print = u"PRINT N'got ' + CAST(@x AS nvarchar(20))"_s;
        QTest::newRow("unnamed, as drivers send it")
            << Params{{{}, print}, {{}, u"@x int"_s}, {{}, 7}} << QStringList{u"0: got 7"_s};
        QTest::newRow("the documented names")
            << Params{{u"@stmt"_s, print}, {u"@params"_s, u"@x int"_s}, {u"@x"_s, 8}}
            << QStringList{u"0: got 8"_s};
        QTest::newRow("other names for the first two")
            << Params{{u"@statement"_s, print}, {u"@p"_s, u"@x int"_s}, {u"@x"_s, 9}}
            << QStringList{u"0: got 9"_s};
        QTest::newRow("names of each other: still by position")
            << Params{{u"@params"_s, print}, {u"@stmt"_s, u"@x int"_s}, {{}, 10}}
            << QStringList{u"0: got 10"_s};
        QTest::newRow("statement alone, named oddly")
            << Params{{u"@sql"_s, u"PRINT N'alone'"_s}} << QStringList{u"0: alone"_s};
        QTest::newRow("a statement that is not Unicode text")
            << Params{{u"@stmt"_s, 5}}
            << QStringList{u"214: Procedure expects parameter '@statement' of type "
                           "'ntext/nchar/nvarchar'."_s};
        QTest::newRow("declarations that are not Unicode text")
            << Params{{{}, print}, {{}, 1}, {{}, 7}}
            << QStringList{u"214: Procedure expects parameter '@parameters' of type "
                           "'ntext/nchar/nvarchar'."_s};
        QTest::newRow("nothing at all")
            << Params{}
            << QStringList{u"201: Procedure or function 'sp_executesql' expects parameter "
                           "'@statement', which was not supplied."_s};
    }

    void executeSqlByPosition()
    {
        QFETCH(Params, params);
        QFETCH(QStringList, expected);
        const RawTdsClient::Reply reply = m_client.rpc(u"sp_executesql"_s, params);
        QVERIFY2(reply.received, qPrintable(reply.problem));
        QCOMPARE(texts(reply.infos) + texts(reply.errors), expected);
    }

    // The same rule in a batch: EXEC names do not matter, types do.
    void executeSqlInBatch_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("renamed") << u"EXEC sp_executesql @statement = N'PRINT 1'"_s
                                 << QStringList{u"0: 1"_s};
        QTest::newRow("varchar statement")
            << u"EXEC sp_executesql 'PRINT 1'"_s
            << QStringList{u"214: Procedure expects parameter '@statement' of type "
                           "'ntext/nchar/nvarchar'."_s};
        QTest::newRow("varchar declarations")
            << u"EXEC sp_executesql N'PRINT @a', '@a int', 3"_s
            << QStringList{u"214: Procedure expects parameter '@parameters' of type "
                           "'ntext/nchar/nvarchar'."_s};
        QTest::newRow("positional after named")
            << u"PRINT N'before' EXEC sp_executesql @stmt = N'PRINT @a', N'@a int', 3"_s
            << QStringList{u"119: Must pass parameter number 2 and subsequent parameters as "
                           "'@name = value'. After the form '@name = value' has been used, all "
                           "subsequent parameters must be passed in the form '@name = value'."_s};
        QTest::newRow("nvarchar variable")
            << u"DECLARE @s nvarchar(max) = N'PRINT @a' EXEC sp_executesql @s, N'@a int', 4"_s
            << QStringList{u"0: 4"_s};
    }

    void executeSqlInBatch()
    {
        QFETCH(QString, sql);
        QFETCH(QStringList, expected);
        const RawTdsClient::Reply reply = m_client.batch(sql);
        QVERIFY2(reply.received, qPrintable(reply.problem));
        QCOMPARE(texts(reply.infos) + texts(reply.errors), expected);
    }

    // A prepared statement's handle, declarations and statement go by position too.
    void preparedByPosition()
    {
        RawTdsClient::Reply reply = m_client.rpc(
            u"sp_prepexec"_s, {{u"@h"_s, QVariant(), true},
                               {u"@decl"_s, u"@v int"_s},
                               {u"@text"_s, u"PRINT N'v=' + CAST(@v AS nvarchar(10))"_s},
                               {u"@v"_s, 1}});
        QVERIFY2(reply.received, qPrintable(reply.problem));
        QCOMPARE(texts(reply.errors), QStringList());
        QCOMPARE(texts(reply.infos), QStringList{u"0: v=1"_s});
        QCOMPARE(reply.outputs.size(), 1);
        const int handle = reply.outputs[0].toInt();

        reply = m_client.rpc(u"sp_execute"_s, {{u"@which"_s, handle}, {u"@v"_s, 2}});
        QVERIFY2(reply.received, qPrintable(reply.problem));
        QCOMPARE(texts(reply.infos) + texts(reply.errors), QStringList{u"0: v=2"_s});

        reply = m_client.rpc(u"sp_unprepare"_s, {{u"@gone"_s, handle}});
        QVERIFY2(reply.received, qPrintable(reply.problem));
        QCOMPARE(texts(reply.errors), QStringList());

        reply = m_client.rpc(u"sp_execute"_s, {{{}, handle}, {{}, 3}});
        QVERIFY2(reply.received, qPrintable(reply.problem));
        QCOMPARE(
            texts(reply.errors),
            QStringList{u"8179: Could not find prepared statement with handle %1."_s.arg(handle)});
    }

    // Catalogue procedures are Transact-SQL procedures: a name they do not have is refused.
    void catalogueProceduresByName_data()
    {
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<Params>("params");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("sp_tables")
            << u"sp_tables"_s << Params{{u"@table"_s, u"x"_s}}
            << QStringList{u"8145: @table is not a parameter for procedure sp_tables."_s};
        QTest::newRow("sp_columns")
            << u"sp_columns"_s << Params{{u"@name"_s, u"x"_s}}
            << QStringList{u"8145: @name is not a parameter for procedure sp_columns."_s};
        QTest::newRow("sp_sproc_columns")
            << u"sp_sproc_columns"_s << Params{{u"@procedure"_s, u"x"_s}}
            << QStringList{u"8145: @procedure is not a parameter for procedure "
                           "sp_sproc_columns."_s};
        QTest::newRow("sp_detach_db")
            << u"sp_detach_db"_s << Params{{u"@db"_s, u"x"_s}}
            << QStringList{u"8145: @db is not a parameter for procedure sp_detach_db."_s};
        QTest::newRow("sp_columns without its table")
            << u"sp_columns"_s << Params{{u"@table_owner"_s, u"dbo"_s}}
            << QStringList{u"201: Procedure or function 'sp_columns' expects parameter "
                           "'@table_name', which was not supplied."_s};
    }

    void catalogueProceduresByName()
    {
        QFETCH(QString, procedure);
        QFETCH(Params, params);
        QFETCH(QStringList, expected);
        const RawTdsClient::Reply reply = m_client.rpc(procedure, params);
        QVERIFY2(reply.received, qPrintable(reply.problem));
        QCOMPARE(texts(reply.errors), expected);
    }
};

QTEST_GUILESS_MAIN(RpcParamsTest)
#include "tst_rpcparams.moc"
