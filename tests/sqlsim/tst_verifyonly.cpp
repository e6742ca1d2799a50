// RESTORE VERIFYONLY reads a backup to its end and says whether it could be restored;
// RESTORE HEADERONLY names the server version that wrote it.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QFile>
#include <QtTest>

using namespace Qt::StringLiterals;

class VerifyOnlyTest : public QObject
{
    Q_OBJECT

private:
    SqlsimProcess m_sim;
    OdbcClient m_admin;
    QString m_good; // two backup sets of verdb

    QString copyOfGood(const QString& name)
    {
        const QString path = m_sim.dataDir() + u'/' + name;
        QFile::remove(path);
        return QFile::copy(m_good, path) ? path : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        QVERIFY2(m_admin.connect(m_sim.port(), u"sa"_s, m_sim.password()),
                 qPrintable(m_admin.lastError()));
        m_good = m_sim.dataDir() + u"/verdb.bak"_s;
        for (const QString& sql :
             {u"CREATE DATABASE verdb"_s, u"CREATE TABLE verdb.dbo.t (n int, s nvarchar(100))"_s,
              u"INSERT INTO verdb.dbo.t VALUES (1, N'first'), (2, N'second')"_s,
              u"BACKUP DATABASE verdb TO DISK = N'%1' WITH INIT"_s.arg(m_good),
              u"BACKUP DATABASE verdb TO DISK = N'%1'"_s.arg(m_good)}) {
            const OdbcResult r = m_admin.exec(sql);
            QVERIFY2(r.ok, qPrintable(sql + u": "_s + r.error));
        }
    }

    void cleanupTestCase()
    {
        m_admin.disconnect();
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    void verify_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QString>("last");
        const QString valid = u"The backup set on file %1 is valid."_s;
        const QString abnormal = u"VERIFY DATABASE is terminating abnormally."_s;
        QTest::newRow("good, first set")
            << u"none"_s << QString() << QList<int>{3262} << valid.arg(1);
        QTest::newRow("good, FILE = 2")
            << u"none"_s << u" WITH FILE = 2"_s << QList<int>{3262} << valid.arg(2);
        QTest::newRow("no third set")
            << u"none"_s << u" WITH FILE = 3"_s << QList<int>{4038, 3013} << abnormal;
        QTest::newRow("a byte of the data changed")
            << u"flip-data"_s << QString() << QList<int>{3241, 3013} << abnormal;
        QTest::newRow("a byte of a header changed")
            << u"flip-header"_s << QString() << QList<int>{3241, 3013} << abnormal;
        QTest::newRow("cut short")
            << u"truncate"_s << u" WITH FILE = 2"_s << QList<int>{3241, 3013} << abnormal;
        QTest::newRow("no such file")
            << u"missing"_s << QString() << QList<int>{3201, 3013} << abnormal;
    }

    void verify()
    {
        QFETCH(QString, damage);
        QFETCH(QString, options);
        QFETCH(QList<int>, numbers);
        QFETCH(QString, last);
        QString path = copyOfGood(u"check.bak"_s);
        QVERIFY(!path.isEmpty());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 size = file.size();
        if (damage == u"flip-data" || damage == u"flip-header") {
            // The first set's header starts after the 28-byte media header and 8-byte prologue;
            // its data follows the header, somewhere in the first half of the file.
            const qint64 at = damage == u"flip-header" ? 40 : size / 4;
            QVERIFY(file.seek(at));
            char byte = 0;
            QVERIFY(file.getChar(&byte));
            QVERIFY(file.seek(at));
            QVERIFY(file.putChar(char(byte ^ 0x5A)));
        } else if (damage == u"truncate") {
            QVERIFY(file.resize(size - 100));
        } else if (damage == u"missing") {
            file.remove();
            path = m_sim.dataDir() + u"/nothing-here.bak"_s;
        }
        file.close();

        const OdbcResult r =
            m_admin.exec(u"RESTORE VERIFYONLY FROM DISK = N'%1'"_s.arg(path) + options);
        QCOMPARE(r.ok, numbers.size() == 1);
        QCOMPARE(r.messageNumbers, numbers);
        QCOMPARE(serverText(r.messages.last()), last);
    }

    // STATS sends its progress before the verdict, as RESTORE does.
    void verifyReportsProgress()
    {
        const OdbcResult r =
            m_admin.exec(u"RESTORE VERIFYONLY FROM DISK = N'%1' WITH STATS = 50"_s.arg(m_good));
        QVERIFY2(r.ok, qPrintable(r.error));
        QStringList texts;
        for (const QString& m : r.messages)
            texts << serverText(m);
        QCOMPARE(texts, (QStringList{u"50 percent processed."_s, u"100 percent processed."_s,
                                     u"The backup set on file 1 is valid."_s}));
    }

    // A verified file is one RESTORE takes.
    void verifiedFileRestores()
    {
        OdbcResult r = m_admin.exec(u"RESTORE VERIFYONLY FROM DISK = N'%1'"_s.arg(m_good));
        QVERIFY2(r.ok, qPrintable(r.error));
        r = m_admin.exec(u"RESTORE DATABASE verdb FROM DISK = N'%1' WITH REPLACE"_s.arg(m_good));
        QVERIFY2(r.ok, qPrintable(r.error));
        r = m_admin.exec(u"SELECT COUNT(*) FROM verdb.dbo.t"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets.first()), QStringList{u"2"_s});
    }

    void headerVersion_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<QString>("expected");
        // SoftwareVersionMajor|Minor|Build, CompatibilityLevel
        QTest::newRow("2019") << 2019 << u"15|0|2000|150"_s;
        QTest::newRow("2017") << 2017 << u"14|0|1000|140"_s;
        QTest::newRow("2016") << 2016 << u"13|0|1601|130"_s;
    }

    // The backup names the server version that wrote it.
    void headerVersion()
    {
        QFETCH(int, year);
        QFETCH(QString, expected);
        SqlsimProcess sim;
        QVERIFY2(sim.start({u"--version-year"_s, QString::number(year)}),
                 sim.stderrText().constData());
        OdbcClient client;
        QVERIFY2(client.connect(sim.port(), u"sa"_s, sim.password()),
                 qPrintable(client.lastError()));
        const QString file = sim.dataDir() + u"/v.bak"_s;
        OdbcResult r =
            client.exec(u"CREATE DATABASE vdb; BACKUP DATABASE vdb TO DISK = N'%1'"_s.arg(file));
        QVERIFY2(r.ok, qPrintable(r.error));
        r = client.exec(u"RESTORE HEADERONLY FROM DISK = N'%1'"_s.arg(file));
        QVERIFY2(r.ok, qPrintable(r.error));
        const ResultSet& set = r.resultSets.first();
        QStringList got;
        for (const QString& column : {u"SoftwareVersionMajor"_s, u"SoftwareVersionMinor"_s,
                                      u"SoftwareVersionBuild"_s, u"CompatibilityLevel"_s}) {
            const qsizetype i = set.columns.indexOf(column);
            QVERIFY2(i >= 0, qPrintable(column));
            got << set.rows.first().at(i).toString();
        }
        QCOMPARE(got.join(u'|'), expected);
        client.disconnect();
        sim.stop();
    }

    void headerColumns()
    {
        const OdbcResult r = m_admin.exec(u"RESTORE HEADERONLY FROM DISK = N'%1'"_s.arg(m_good));
        QVERIFY2(r.ok, qPrintable(r.error));
        const QStringList columns = r.resultSets.first().columns;
        // The columns "RESTORE HEADERONLY (Transact-SQL)" lists, in its order, up to
        // EncryptorType (SQL Server 2014 to 2019).
        const QStringList documented = {u"BackupName"_s,
                                        u"BackupDescription"_s,
                                        u"BackupType"_s,
                                        u"ExpirationDate"_s,
                                        u"Compressed"_s,
                                        u"Position"_s,
                                        u"DeviceType"_s,
                                        u"UserName"_s,
                                        u"ServerName"_s,
                                        u"DatabaseName"_s,
                                        u"DatabaseVersion"_s,
                                        u"DatabaseCreationDate"_s,
                                        u"BackupSize"_s,
                                        u"FirstLSN"_s,
                                        u"LastLSN"_s,
                                        u"CheckpointLSN"_s,
                                        u"DatabaseBackupLSN"_s,
                                        u"BackupStartDate"_s,
                                        u"BackupFinishDate"_s,
                                        u"SortOrder"_s,
                                        u"CodePage"_s,
                                        u"UnicodeLocaleId"_s,
                                        u"UnicodeComparisonStyle"_s,
                                        u"CompatibilityLevel"_s,
                                        u"SoftwareVendorId"_s,
                                        u"SoftwareVersionMajor"_s,
                                        u"SoftwareVersionMinor"_s,
                                        u"SoftwareVersionBuild"_s,
                                        u"MachineName"_s,
                                        u"Flags"_s,
                                        u"BindingID"_s,
                                        u"RecoveryForkID"_s,
                                        u"Collation"_s,
                                        u"FamilyGUID"_s,
                                        u"HasBulkLoggedData"_s,
                                        u"IsSnapshot"_s,
                                        u"IsReadOnly"_s,
                                        u"IsSingleUser"_s,
                                        u"HasBackupChecksums"_s,
                                        u"IsDamaged"_s,
                                        u"BeginsLogChain"_s,
                                        u"HasIncompleteMetaData"_s,
                                        u"IsForceOffline"_s,
                                        u"IsCopyOnly"_s,
                                        u"FirstRecoveryForkID"_s,
                                        u"ForkPointLSN"_s,
                                        u"RecoveryModel"_s,
                                        u"DifferentialBaseLSN"_s,
                                        u"DifferentialBaseGUID"_s,
                                        u"BackupTypeDescription"_s,
                                        u"BackupSetGUID"_s,
                                        u"CompressedBackupSize"_s,
                                        u"Containment"_s,
                                        u"KeyAlgorithm"_s,
                                        u"EncryptorThumbprint"_s,
                                        u"EncryptorType"_s};
        QCOMPARE(columns, documented);
        QCOMPARE(r.resultSets.first().rows.size(), 2);
    }
};

QTEST_GUILESS_MAIN(VerifyOnlyTest)
#include "tst_verifyonly.moc"
