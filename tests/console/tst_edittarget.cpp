// Which console results can be written back, and the statements that do it.
#include "EditTarget.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestEditTarget : public QObject
{
    Q_OBJECT

private slots:
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

    void statements()
    {
        EditTarget keyed;
        keyed.table = u"dbo.t"_s;
        keyed.columns = {u"id"_s, u"name"_s, u"note]x"_s};
        keyed.keyColumns = {0};
        const QList<QVariant> before{u"7"_s, u"old"_s, QVariant()};
        const QList<QVariant> after{u"7"_s, u"new"_s, u"n"_s};
        BoundStatement u = UpdateStatement(keyed, before, after);
        QCOMPARE(u.sql, u"UPDATE dbo.t SET [name] = ?, [note]]x] = ? WHERE [id] = ?"_s);
        QCOMPARE(u.values, (QList<QVariant>{u"new"_s, u"n"_s, u"7"_s}));

        EditTarget keyless = keyed;
        keyless.keyColumns.clear();
        u = UpdateStatement(keyless, before, after);
        QCOMPARE(u.sql, u"UPDATE dbo.t SET [name] = ?, [note]]x] = ? WHERE [id] = ? AND [name] = ? "
                        u"AND [note]]x] IS NULL"_s);
        QCOMPARE(u.values, (QList<QVariant>{u"new"_s, u"n"_s, u"7"_s, u"old"_s}));

        const BoundStatement d = DeleteStatement(keyless, before);
        QCOMPARE(d.sql, u"DELETE FROM dbo.t WHERE [id] = ? AND [name] = ? AND [note]]x] IS NULL"_s);
        const BoundStatement i = InsertStatement(keyed, {u"8"_s, QVariant(), u"x"_s});
        QCOMPARE(i.sql, u"INSERT INTO dbo.t ([id], [note]]x]) VALUES (?, ?)"_s);
        QCOMPARE(i.values, (QList<QVariant>{u"8"_s, u"x"_s}));
    }
};

QTEST_GUILESS_MAIN(TestEditTarget)
#include "tst_edittarget.moc"
