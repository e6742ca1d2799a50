// A session is in its database from its login (or its USE) until it leaves or disconnects:
// operations that need the database to themselves see it, and see it gone as soon as the client
// has closed its socket.
#include "OdbcClient.h"
#include "RawTdsClient.h"
#include "SqlsimProcess.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class SessionDatabaseTest : public QObject
{
    Q_OBJECT

private:
    SqlsimProcess m_sim;
    OdbcClient m_admin;
    QString m_backup;

    // A new login, as a script's next step makes; the first error of the statement, or 0.
    int freshLoginRuns(const QString& sql, QString* text = nullptr)
    {
        RawTdsClient client;
        const RawTdsClient::Reply login = client.connect(m_sim.port(), u"sa"_s, m_sim.password());
        if (!login.received || !login.errors.isEmpty())
            return -1;
        const RawTdsClient::Reply reply = client.batch(sql);
        if (!reply.received)
            return -1;
        if (reply.errors.isEmpty())
            return 0;
        if (text)
            *text = reply.errors.first().text;
        return reply.errors.first().number;
    }

    QString restoreSql() const
    {
        return u"RESTORE DATABASE sessdb FROM DISK = N'%1' WITH REPLACE"_s.arg(m_backup);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        QVERIFY2(m_admin.connect(m_sim.port(), u"sa"_s, m_sim.password()),
                 qPrintable(m_admin.lastError()));
        m_backup = m_sim.dataDir() + u"/sessdb.bak"_s;
        OdbcResult r = m_admin.exec(u"CREATE DATABASE sessdb"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = m_admin.exec(u"BACKUP DATABASE sessdb TO DISK = N'%1' WITH INIT"_s.arg(m_backup));
        QVERIFY2(r.ok, qPrintable(r.error));
    }

    void cleanupTestCase()
    {
        m_admin.disconnect();
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    void inUseUntilDisconnect_data()
    {
        QTest::addColumn<bool>("byUse");
        QTest::newRow("database named at login") << false;
        QTest::newRow("database entered by USE") << true;
    }

    void inUseUntilDisconnect()
    {
        QFETCH(bool, byUse);
        m_admin.exec(u"IF DB_ID('sessdb') IS NULL RESTORE DATABASE sessdb FROM DISK = N'%1'"_s.arg(
            m_backup));
        // Many rounds: a server that ends sessions lazily loses the race now and then.
        for (int round = 0; round < 20; ++round) {
            RawTdsClient holder;
            RawTdsClient::Reply login = holder.connect(m_sim.port(), u"sa"_s, m_sim.password(),
                                                       byUse ? QString() : u"sessdb"_s);
            QVERIFY2(login.received && login.errors.isEmpty(), qPrintable(login.problem));
            if (byUse) {
                login = holder.batch(u"USE sessdb"_s);
                QVERIFY(login.received && login.errors.isEmpty());
            }

            QString text;
            QCOMPARE(freshLoginRuns(restoreSql(), &text), 3101);
            QCOMPARE(text,
                     u"Exclusive access could not be obtained because the database is in use."_s);
            QCOMPARE(freshLoginRuns(u"EXEC sp_detach_db 'sessdb'"_s, &text), 3703);
            QCOMPARE(text,
                     u"Cannot detach the database 'sessdb' because it is currently in use."_s);

            holder.close();
            QCOMPARE(freshLoginRuns(restoreSql(), &text), 0);
            QCOMPARE(freshLoginRuns(u"EXEC sp_detach_db 'sessdb'"_s, &text), 0);
            QCOMPARE(freshLoginRuns(restoreSql()), 0); // over the detached files
        }
    }

    // Leaving by USE frees the database at once, without a new login.
    void leavingByUse()
    {
        RawTdsClient holder;
        QVERIFY(holder.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"sessdb"_s).received);
        QCOMPARE(m_admin.exec(restoreSql()).nativeError, 3101);
        QVERIFY(holder.batch(u"USE master"_s).errors.isEmpty());
        const OdbcResult r = m_admin.exec(restoreSql());
        QVERIFY2(r.ok, qPrintable(r.error));
    }
};

QTEST_GUILESS_MAIN(SessionDatabaseTest)
#include "tst_sessiondatabase.moc"
