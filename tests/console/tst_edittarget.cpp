// Which console results can be written back, and what the statements that do it change on
// the server.
#include "EditTarget.h"
#include "SimConnection.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestEditTarget : public QObject
{
    Q_OBJECT

    SimSession m_session;
    int m_tables = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_session.start({}, u"sa"_s));
        m_session.connection.execute(u"CREATE DATABASE edits"_s);
        m_session.connection.setDefaultDatabase(u"edits"_s);
    }

    void analyze_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("result");
        QTest::addColumn<QString>("table"); // "" when read-only
        QTest::addColumn<QStringList>("columns");
        const QStringList abc{u"a"_s, u"b"_s, u"c"_s};
        QTest::newRow("star") << u"select * from t"_s << abc << u"t"_s << abc;
        QTest::newRow("where, order, top, semicolon, comment")
            << u"-- people\nSELECT TOP 10 * FROM dbo.t WHERE a > 1 ORDER BY b;"_s << abc
            << u"dbo.t"_s << abc;
        QTest::newRow("listed and renamed")
            << u"select a, [b] as bee, x.c from [my t] x"_s << QStringList{u"a"_s, u"bee"_s, u"c"_s}
            << u"[my t]"_s << abc;
        QTest::newRow("join") << u"select * from t join u on t.a = u.a"_s << abc << QString()
                              << QStringList();
        QTest::newRow("two tables") << u"select * from t, u"_s << abc << QString() << QStringList();
        QTest::newRow("expression")
            << u"select a, b + 1, c from t"_s << abc << QString() << QStringList();
        QTest::newRow("group by") << u"select a, b, c from t group by a, b, c"_s << abc << QString()
                                  << QStringList();
        QTest::newRow("union") << u"select * from t union select * from u"_s << abc << QString()
                               << QStringList();
        QTest::newRow("no table") << u"select 1 as a"_s << QStringList{u"a"_s} << QString()
                                  << QStringList();
        QTest::newRow("two statements")
            << u"select * from t; delete from t"_s << abc << QString() << QStringList();
        QTest::newRow("distinct") << u"select distinct a, b, c from t"_s << abc << QString()
                                  << QStringList();
    }
    void analyze()
    {
        QFETCH(QString, sql);
        QFETCH(QStringList, result);
        QFETCH(QString, table);
        QFETCH(QStringList, columns);
        const EditTarget t = AnalyzeSelect(sql, result);
        QCOMPARE(t.editable(), !table.isEmpty());
        if (t.editable()) {
            QCOMPARE(t.table, table);
            QCOMPARE(t.columns, columns);
        }
    }

    // What the grid writes back changes the one row meant, on the server, with a bracket in a
    // column's name and a NULL among the values.
    void statements_data()
    {
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("rows"); // afterwards
        QTest::newRow("update by the key")
            << true << u"update"_s << QStringList{u"7|new|n"_s, u"8|old|NULL"_s};
        QTest::newRow("update by every value")
            << false << u"update"_s << QStringList{u"7|old|kept"_s, u"7|new|n"_s};
        QTest::newRow("delete by every value")
            << false << u"delete"_s << QStringList{u"7|old|kept"_s};
        QTest::newRow("insert") << true << u"insert"_s
                                << QStringList{u"7|old|NULL"_s, u"8|old|NULL"_s, u"9|NULL|x"_s};
    }
    void statements()
    {
        QFETCH(bool, keyed);
        QFETCH(QString, operation);
        QFETCH(QStringList, rows);
        const QString table = u"dbo.t%1"_s.arg(++m_tables);
        QVERIFY(m_session.sim.exec(
            u"CREATE TABLE %1 (id int%2, name nvarchar(10), [note]]x] nvarchar(10)); INSERT INTO "
            u"%1 VALUES (7, N'old', NULL), %3"_s.arg(table, keyed ? u" PRIMARY KEY"_s : QString(),
                                                     keyed ? u"(8, N'old', NULL)"_s
                                                           : u"(7, N'old', N'kept')"_s),
            u"edits"_s));
        EditTarget target;
        target.table = table;
        target.columns = {u"id"_s, u"name"_s, u"note]x"_s};
        if (keyed)
            target.keyColumns = {0};
        const QList<QVariant> before{u"7"_s, u"old"_s, QVariant()};
        const BoundStatement statement =
            operation == u"update"_s   ? UpdateStatement(target, before, {u"7"_s, u"new"_s, u"n"_s})
            : operation == u"delete"_s ? DeleteStatement(target, before)
                                       : InsertStatement(target, {u"9"_s, QVariant(), u"x"_s});
        QCOMPARE(m_session.connection.executeParams(statement.sql, statement.values), 1);
        QCOMPARE(
            m_session.sim.rows(u"SELECT * FROM %1 ORDER BY id, [note]]x]"_s.arg(table), u"edits"_s),
            rows);
    }
};

QTEST_GUILESS_MAIN(TestEditTarget)
#include "tst_edittarget.moc"
