// BACKUP and RESTORE end to end: bin/sqlsim spoken to through unixODBC and FreeTDS.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sql.h>
#include <sqlext.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Big enough that a throttled copy takes seconds: a row of 400 KB.
constexpr int blobSize = 400 * 1024;
constexpr int throttle = 100 * 1024; // bytes a second: about four seconds for the database

QString quoted(const QString& path)
{
    return u"N'"_s + QString(path).replace(u"'"_s, u"''"_s) + u'\'';
}

int columnOf(const ResultSet& set, const QString& name)
{
    return int(set.columns.indexOf(name));
}

// One statement run by hand, so that the test sees each step of its answer as it comes.
class RawStatement
{
public:
    explicit RawStatement(OdbcClient& client)
    {
        SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(client.dbc()), &m_stmt);
    }
    ~RawStatement() { SQLFreeHandle(SQL_HANDLE_STMT, m_stmt); }
    RawStatement(const RawStatement&) = delete;
    RawStatement& operator=(const RawStatement&) = delete;

    SQLRETURN execDirect(const QString& sql)
    {
        std::vector<SQLWCHAR> text(size_t(sql.size()) + 1, 0);
        for (qsizetype i = 0; i < sql.size(); ++i)
            text[size_t(i)] = sql[i].unicode();
        return SQLExecDirectW(m_stmt, text.data(), SQL_NTS);
    }
    SQLRETURN moreResults() { return SQLMoreResults(m_stmt); }
    SQLRETURN close() { return SQLFreeStmt(m_stmt, SQL_CLOSE); }

    // The diagnostics of the last call: native number and text.
    QList<std::pair<int, QString>> diagnostics()
    {
        QList<std::pair<int, QString>> result;
        for (SQLSMALLINT record = 1;; ++record) {
            SQLWCHAR state[6] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            std::vector<SQLWCHAR> text(2048, 0);
            if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, m_stmt, record, state, &native,
                                              text.data(), SQLSMALLINT(text.size()), &length)))
                break;
            result.append({int(native), QString(reinterpret_cast<const QChar*>(text.data()),
                                                qMin<qsizetype>(length, 2047))});
        }
        return result;
    }

private:
    SQLHSTMT m_stmt = SQL_NULL_HSTMT;
};

} // namespace

class TestBackupRestore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_files; // backups and restored databases, apart from the server's own folder

    QString path(const QString& name) const { return m_files.filePath(name); }

    // A database "src" with a table of a few rows, one of them large.
    static void createSource(SqlsimProcess& sim)
    {
        OdbcClient master;
        QVERIFY2(master.connect(sim.port(), u"sa"_s, sim.password()),
                 qPrintable(master.lastError()));
        OdbcResult r = master.exec(u"CREATE DATABASE src"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        OdbcClient db;
        QVERIFY2(db.connect(sim.port(), u"sa"_s, sim.password(), u"src"_s),
                 qPrintable(db.lastError()));
        r = db.exec(u"CREATE TABLE dbo.t (id int NOT NULL PRIMARY KEY, v nvarchar(100) NULL, "
                    u"b image NULL)"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QList<QList<QVariant>> rows = {
            {qint64(1), u"первая"_s, QByteArray("small")},
            {qint64(2), u"second"_s, QByteArray(blobSize, 'z')},
            {qint64(3), QVariant(), QVariant()},
        };
        for (const QList<QVariant>& row : rows) {
            r = db.execParams(u"INSERT INTO dbo.t (id, v, b) VALUES (?, ?, ?)"_s, row);
            QVERIFY2(r.ok, qPrintable(r.error));
        }
    }

    static QList<QList<QVariant>> tableRows(SqlsimProcess& sim, const QString& database)
    {
        OdbcClient db;
        if (!db.connect(sim.port(), u"sa"_s, sim.password(), database))
            return {};
        const OdbcResult r = db.exec(u"SELECT id, v, b FROM dbo.t ORDER BY id"_s);
        return r.ok && !r.resultSets.isEmpty() ? r.resultSets.first().rows
                                               : QList<QList<QVariant>>{};
    }

private slots:
    void initTestCase() { QVERIFY(m_files.isValid()); }

    void backupAndRestoreUnderNewName()
    {
        SqlsimProcess sim;
        QVERIFY2(sim.start(), sim.stderrText().constData());
        createSource(sim);
        if (QTest::currentTestFailed())
            return;
        OdbcClient master;
        QVERIFY(master.connect(sim.port(), u"sa"_s, sim.password()));
        const QString disk = path(u"round.bak"_s);

        OdbcResult r = master.exec(
            u"BACKUP DATABASE src TO DISK = %1 WITH INIT, STATS = 10"_s.arg(quoted(disk)));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.messageNumbers.count(3211), 10);
        QVERIFY(r.messageNumbers.contains(4035));
        QCOMPARE(r.messageNumbers.last(), 3014);
        QVERIFY(r.messages.last().contains(u"BACKUP DATABASE successfully processed"_s));

        r = master.exec(u"RESTORE HEADERONLY FROM DISK = %1"_s.arg(quoted(disk)));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 1);
        const ResultSet headers = r.resultSets.first();
        QCOMPARE(headers.rows.size(), 1);
        QCOMPARE(headers.rows[0][columnOf(headers, u"DatabaseName"_s)].toString(), u"src"_s);
        QCOMPARE(headers.rows[0][columnOf(headers, u"Position"_s)].toLongLong(), 1);

        r = master.exec(u"RESTORE FILELISTONLY FROM DISK = %1"_s.arg(quoted(disk)));
        QVERIFY2(r.ok, qPrintable(r.error));
        const ResultSet files = r.resultSets.value(0);
        QCOMPARE(files.rows.size(), 2);
        QString dataName, logName;
        for (const QList<QVariant>& row : files.rows) {
            const QString type = row[columnOf(files, u"Type"_s)].toString();
            const QString logical = row[columnOf(files, u"LogicalName"_s)].toString();
            (type == u"D"_s ? dataName : logName) = logical;
        }
        QVERIFY(!dataName.isEmpty() && !logName.isEmpty());

        r = master.exec(u"RESTORE DATABASE copy1 FROM DISK = %1 WITH MOVE %2 TO %3, MOVE %4 TO %5, "
                        u"STATS = 25"_s.arg(quoted(disk), quoted(dataName),
                                            quoted(path(u"copy1.mdf"_s)), quoted(logName),
                                            quoted(path(u"copy1_log.ldf"_s))));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.messageNumbers.count(3211), 4);
        QVERIFY(r.messages.last().contains(u"RESTORE DATABASE successfully processed"_s));
        QVERIFY(QFile::exists(path(u"copy1.mdf"_s)));

        const QList<QList<QVariant>> copied = tableRows(sim, u"copy1"_s);
        QCOMPARE(copied, tableRows(sim, u"src"_s));
        QCOMPARE(copied.size(), 3);
        QCOMPARE(copied[0][1].toString(), u"первая"_s);
        QCOMPARE(copied[1][2].toByteArray().size(), blobSize);

        // The restored database is the server's: it survives a restart.
        QVERIFY(sim.restart());
        QCOMPARE(tableRows(sim, u"copy1"_s).size(), 3);

        // Over the existing copy: another database's backup needs REPLACE.
        QVERIFY(master.connect(sim.port(), u"sa"_s, sim.password()));
        const QString again =
            u"RESTORE DATABASE copy1 FROM DISK = %1 WITH MOVE %2 TO %3, MOVE %4 "
            u"TO %5"_s.arg(quoted(disk), quoted(dataName), quoted(path(u"copy1.mdf"_s)),
                           quoted(logName), quoted(path(u"copy1_log.ldf"_s)));
        r = master.exec(again);
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, 3154);
        r = master.exec(again + u", REPLACE"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(tableRows(sim, u"copy1"_s).size(), 3);
    }

    void errorsReachTheClient()
    {
        SqlsimProcess sim;
        QVERIFY2(sim.start(), sim.stderrText().constData());
        OdbcClient master;
        QVERIFY(master.connect(sim.port(), u"sa"_s, sim.password()));
        OdbcResult r =
            master.exec(u"RESTORE DATABASE x FROM DISK = %1"_s.arg(quoted(path(u"missing.bak"_s))));
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, 3201);
        QVERIFY(r.messageNumbers.contains(3013));
        r = master.exec(u"BACKUP DATABASE nope TO DISK = %1"_s.arg(quoted(path(u"n.bak"_s))));
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, 911);
        QVERIFY(!QFile::exists(path(u"n.bak"_s)));
    }

    // The first progress message reaches the client while the server is provably still at
    // work: the backup file, written in place, is still short of its final size, and more
    // results follow.
    void progressArrivesWhileCopying()
    {
        SqlsimProcess sim;
        QVERIFY2(sim.start({u"--throttle"_s, QString::number(throttle)}),
                 sim.stderrText().constData());
        createSource(sim);
        if (QTest::currentTestFailed())
            return;
        OdbcClient master;
        QVERIFY(master.connect(sim.port(), u"sa"_s, sim.password()));
        const QString disk = path(u"slow.bak"_s);
        QFile::remove(disk);

        RawStatement st(master);
        SQLRETURN rc = st.execDirect(
            u"BACKUP DATABASE src TO DISK = %1 WITH INIT, STATS = 10"_s.arg(quoted(disk)));
        QCOMPARE(rc, SQLRETURN(SQL_SUCCESS_WITH_INFO));
        auto diagnostics = st.diagnostics();
        QCOMPARE(diagnostics.size(), 1);
        QCOMPARE(diagnostics[0].first, 3211);
        QVERIFY2(diagnostics[0].second.endsWith(u"10 percent processed."_s),
                 qPrintable(diagnostics[0].second));
        QVERIFY(!QFile::exists(disk + u".tmp"_s));
        const qint64 sizeWhileCopying = QFileInfo(disk).size();

        QList<int> later;
        for (rc = st.moreResults(); rc != SQL_NO_DATA; rc = st.moreResults()) {
            QVERIFY2(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO, "a step failed");
            for (const auto& [number, text] : st.diagnostics())
                later.append(number);
        }
        QCOMPARE(later.count(3211), 9);
        QCOMPARE(later.last(), 3014);
        QVERIFY(QFileInfo(disk).size() > sizeWhileCopying);
        QVERIFY(!QFile::exists(disk + u".tmp"_s));
    }

    // Closing the statement early sends an attention: the server aborts, and a backup file
    // it had begun afresh is gone.
    void attentionAbortsTheBackup()
    {
        SqlsimProcess sim;
        QVERIFY2(sim.start({u"--throttle"_s, QString::number(throttle)}),
                 sim.stderrText().constData());
        createSource(sim);
        if (QTest::currentTestFailed())
            return;
        OdbcClient master;
        QVERIFY(master.connect(sim.port(), u"sa"_s, sim.password()));
        const QString disk = path(u"aborted.bak"_s);
        {
            RawStatement st(master);
            QCOMPARE(st.execDirect(
                         u"BACKUP DATABASE src TO DISK = %1 WITH STATS = 10"_s.arg(quoted(disk))),
                     SQLRETURN(SQL_SUCCESS_WITH_INFO));
            QVERIFY(QFile::exists(disk));       // written in place
            QVERIFY(SQL_SUCCEEDED(st.close())); // waits for the server's acknowledgement
        }
        QVERIFY(!QFile::exists(disk + u".tmp"_s));
        QVERIFY(!QFile::exists(disk));
        const OdbcResult r = master.exec(u"SELECT 1"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
    }

    // --fail-next-transfer: the statement ends with an error, not a hang; the next one works.
    void faultSwitchDropsTheConnection()
    {
        SqlsimProcess sim;
        QVERIFY2(sim.start({u"--fail-next-transfer"_s}), sim.stderrText().constData());
        createSource(sim);
        if (QTest::currentTestFailed())
            return;
        const QString disk = path(u"dropped.bak"_s);
        {
            OdbcClient master;
            QVERIFY(master.connect(sim.port(), u"sa"_s, sim.password()));
            const OdbcResult r = master.exec(
                u"BACKUP DATABASE src TO DISK = %1 WITH STATS = 10"_s.arg(quoted(disk)));
            QVERIFY(!r.ok);
            QVERIFY(!r.messageNumbers.contains(3014));
        }
        QVERIFY(!QFile::exists(disk + u".tmp"_s));
        QVERIFY(!QFile::exists(disk));

        OdbcClient again;
        QVERIFY(again.connect(sim.port(), u"sa"_s, sim.password()));
        const OdbcResult r = again.exec(u"BACKUP DATABASE src TO DISK = %1"_s.arg(quoted(disk)));
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(QFile::exists(disk));
    }
};

QTEST_GUILESS_MAIN(TestBackupRestore)
#include "tst_backup_restore.moc"
