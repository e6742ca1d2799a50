// BACKUP writes its media where it lies: WITH INIT over the old backup from the first byte, so a
// backup that breaks off part-way leaves the old one damaged; an appended set goes after the
// sets already there, which a failure leaves readable.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QFile>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class BackupInPlaceTest : public QObject
{
    Q_OBJECT

private:
    SqlsimProcess m_sim;
    OdbcClient m_admin;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        QVERIFY2(m_admin.connect(m_sim.port(), u"sa"_s, m_sim.password()),
                 qPrintable(m_admin.lastError()));
        // Enough rows that the fault switch stops the copy well inside the file.
        const OdbcResult r =
            m_admin.exec(u"CREATE DATABASE bip; USE bip; CREATE TABLE t (id int, v nvarchar(max)); "
                         "DECLARE @i int = 0; WHILE @i < 300 BEGIN "
                         "INSERT INTO t VALUES (@i, REPLICATE(N'ж', 500)); SET @i = @i + 1 END; "
                         "USE master"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
    }

    void cleanupTestCase()
    {
        m_admin.disconnect();
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    void brokenBackup_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("oldSurvives");
        QTest::newRow("INIT writes over the old backup") << u"WITH INIT"_s << false;
        QTest::newRow("FORMAT writes over the old backup") << u"WITH FORMAT"_s << false;
        QTest::newRow("an appended set leaves the old one") << QString() << true;
    }

    void brokenBackup()
    {
        QFETCH(QString, options);
        QFETCH(bool, oldSurvives);
        const QString disk = m_sim.dataDir() + u"/bip_%1.bak"_s.arg(QTest::currentDataTag()[0]);
        OdbcResult r = m_admin.exec(u"BACKUP DATABASE bip TO DISK = N'%1' WITH INIT"_s.arg(disk));
        QVERIFY2(r.ok, qPrintable(r.error));
        const QByteArray old = contents(disk);
        QVERIFY(!old.isEmpty());

        // Every page changes, so that the new backup's first half and the old one's second half
        // do not make a whole.
        r = m_admin.exec(u"UPDATE bip.dbo.t SET id = id + 1000"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(m_admin.exec(u"EXEC sqlsim_fail_next_transfer"_s).ok);
        {
            OdbcClient doomed;
            QVERIFY(doomed.connect(m_sim.port(), u"sa"_s, m_sim.password()));
            r = doomed.exec(u"BACKUP DATABASE bip TO DISK = N'%1' %2"_s.arg(disk, options));
            QVERIFY(!r.ok);
        }

        QVERIFY(QFile::exists(disk));
        QVERIFY(!QFile::exists(disk + u".tmp"_s));
        if (oldSurvives) {
            QCOMPARE(contents(disk), old);
        } else {
            QVERIFY(contents(disk) != old);
            QCOMPARE(contents(disk).left(64).size(), 64); // overwritten, not removed
        }
        // Whatever is left must not restore as a good backup unless it is the old one.
        r = m_admin.exec(
            u"RESTORE DATABASE bipcheck FROM DISK = N'%1' WITH FILE = 1, "
            "MOVE 'bip' TO N'%2/bipcheck.mdf', MOVE 'bip_log' TO N'%2/bipcheck.ldf'"_s.arg(
                disk, m_sim.dataDir()));
        const bool restored = r.ok;
        if (restored)
            QVERIFY(m_admin.exec(u"DROP DATABASE bipcheck"_s).ok);
        QCOMPARE(restored, oldSurvives);
    }
};

QTEST_GUILESS_MAIN(BackupInPlaceTest)
#include "tst_backupinplace.moc"
