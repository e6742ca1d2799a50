#include "SessionImpl.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace sqlsim {

// What BACKUP and RESTORE need from the server, as seen from one session.
class SessionTransferHost : public TransferHost
{
public:
    explicit SessionTransferHost(SessionImpl& session) : m_session(session) {}

    std::optional<DatabaseFiles> findDatabase(const QString& name) override
    {
        const auto e = m_session.m_server.database(name);
        if (!e)
            return std::nullopt;
        return e->files;
    }
    bool usedByOtherSession(const QString& database) override
    {
        return m_session.m_server.usedByOtherSession(database, &m_session);
    }
    QString currentDatabase() override { return m_session.m_currentDb; }
    std::optional<QString> databaseUsingFile(const QString& path) override
    {
        return m_session.m_server.databaseUsingFile(path);
    }
    void releaseDatabase(const QString& name) override { m_session.releaseDatabase(name); }
    void attachRestored(const DatabaseFiles& files) override
    {
        DatabaseFiles f = files;
        f.dataFile = QFileInfo(files.dataFile).absoluteFilePath();
        f.logFile = QFileInfo(files.logFile).absoluteFilePath();
        try {
            // The restored file may come from an older catalogue: bring it up to date.
            catalog::prepareDataFile(f.dataFile, f.name);
            catalog::writeLogicalNames(f.dataFile, f.dataLogicalName, f.logLogicalName);
        } catch (const SqlError& e) {
            std::fprintf(stderr, "sqlsim: restored database %s: %s\n", qPrintable(f.name),
                         qPrintable(e.message.text));
        }
        // The login that restores it owns it afterwards, as the one that creates a database does
        // (sys.databases.owner_sid; learn.microsoft.com/sql/relational-databases/databases/
        // change-the-database-owner, which is how an administrator moves it back).
        m_session.m_server.registerDatabase(f, true, m_session.ownerSid());
    }
    void recordBackup(const BackupRecord& record) override
    {
        BackupRecord r = record;
        // msdb keeps the server's local time.
        if (r.startDate.isValid())
            r.startDate = r.startDate.toLocalTime();
        if (r.finishDate.isValid())
            r.finishDate = r.finishDate.toLocalTime();
        try {
            m_session.m_server.recordBackup(r, m_session.m_login);
        } catch (const SqlError& e) {
            std::fprintf(stderr, "sqlsim: backup history: %s\n", qPrintable(e.message.text));
        }
    }
    qint64 throttleBytesPerSecond() override
    {
        return m_session.m_server.options().throttleBytesPerSecond;
    }
    bool takeTransferFault() override { return m_session.m_server.takeTransferFault(); }
    bool isSingleUser(const QString& database) override
    {
        const auto e = m_session.m_server.database(database);
        return e && e->singleUser;
    }
    std::optional<Message> unavailable(const QString& database) override
    {
        return m_session.m_server.unavailable(database, m_session.m_spid);
    }
    std::optional<Message> databaseTooLarge(qint64 dataBytes) override
    {
        return m_session.m_server.databaseTooLarge(dataBytes);
    }
    void restoreStarting(const QString& database) override
    {
        m_session.m_server.setRestoring(database, true);
    }
    void restoreAbandoned(const QString& database) override
    {
        // Its files held the old database; a failed restore has written over them in SQL
        // Server, so nothing of it may be attached again from here.
        const auto entry = m_session.m_server.database(database);
        if (!entry)
            return;
        m_session.releaseDatabase(database);
        QFile::remove(entry->files.dataFile);
        QFile::remove(entry->files.logFile);
    }
    SoftwareVersion softwareVersion() override
    {
        // "15.0.2000" for 2019 and so on.
        const quint32 v = m_session.m_server.programVersion();
        return {int(v >> 24), int((v >> 16) & 0xFF), int(v & 0xFFFF),
                m_session.m_server.compatibilityLevel(), m_session.m_server.databaseVersion()};
    }

private:
    SessionImpl& m_session;
};

namespace {

// Reports errors the transfer functions write, so that @@ERROR follows them.
class ErrorWatch : public ReplySink
{
public:
    explicit ErrorWatch(ReplySink& inner) : m_inner(inner) {}
    void message(const Message& m) override
    {
        if (m.severity > 10 && m_first == 0)
            m_first = m.number;
        if (m.severity > 10)
            m_last = m.number;
        m_inner.message(m);
    }
    void columns(const QList<Column>& c) override { m_inner.columns(c); }
    void row(const QList<Value>& v) override { m_inner.row(v); }
    void setTextSize(qint64 bytes) override { m_inner.setTextSize(bytes); }
    void done(DoneKind k, std::optional<qint64> n, bool e) override { m_inner.done(k, n, e); }
    void databaseChanged(const QString& a, const QString& b) override
    {
        m_inner.databaseChanged(a, b);
    }
    void transactionBegan(quint64 d) override { m_inner.transactionBegan(d); }
    void transactionCommitted(quint64 d) override { m_inner.transactionCommitted(d); }
    void transactionRolledBack(quint64 d) override { m_inner.transactionRolledBack(d); }
    void returnStatus(int s) override { m_inner.returnStatus(s); }
    void returnValue(int o, const Param& p) override { m_inner.returnValue(o, p); }
    bool cancelled() override { return m_inner.cancelled(); }
    void flush() override { m_inner.flush(); }
    [[noreturn]] void dropConnection() override
    {
        m_inner.dropConnection();
        std::abort();
    }
    int lastError() const { return m_last; }

private:
    ReplySink& m_inner;
    int m_first = 0;
    int m_last = 0;
};

} // namespace

void SessionImpl::runBackup(const Stmt& s, Frame& frame)
{
    auto text = [&](const ExprPtr& e) {
        return evaluateText(e);
    };
    if (m_trancount > 0) {
        Message m;
        m.number = 3021;
        m.text = u"Cannot perform a backup or restore operation within a transaction."_s;
        sendError(m, &s, frame);
        throw SqlError(3013, u"BACKUP DATABASE is terminating abnormally."_s);
    }
    BackupRequest request;
    request.database = text(s.database);
    if (s.disks.size() != 1)
        throw SqlError(40000, u"sqlsim does not support backups to more than one device."_s);
    request.disk = localPath(text(s.disks[0]));
    for (const Stmt::Option& o : s.options) {
        const QString& n = o.name;
        if (n == u"INIT")
            request.init = true;
        else if (n == u"NOINIT")
            request.init = false;
        else if (n == u"FORMAT") {
            request.format = true;
            request.init = true;
        } else if (n == u"NOFORMAT")
            request.format = false;
        else if (n == u"DESCRIPTION")
            request.description = o.value ? text(o.value) : QString();
        else if (n == u"NAME")
            request.name = o.value ? text(o.value) : QString();
        else if (n == u"STATS") {
            request.stats = 10;
            if (o.value) {
                bool ok = false;
                const int v = text(o.value).toInt(&ok);
                if (!ok || v < 1 || v > 100)
                    throw SqlError(3076, u"The option STATS is not valid for this statement. The "
                                         "value must be between 1 and 100."_s);
                request.stats = v;
            }
        } else if (n == u"COPY_ONLY") {
            // Kept in the backup's header and in msdb (IsCopyOnly, is_copy_only): it does not
            // become the base of differential backups ("Copy-Only Backups",
            // learn.microsoft.com/sql/relational-databases/backup-restore/copy-only-backups-sql-server).
            request.copyOnly = true;
        } else if (n == u"DIFFERENTIAL" || n == u"ENCRYPTION" || n == u"PASSWORD" ||
                   n == u"MEDIAPASSWORD" || n == u"MIRROR") {
            throw SqlError(40000, u"sqlsim does not support the BACKUP option '%1'."_s.arg(n));
        } else if (n == u"SKIP" || n == u"NOSKIP" || n == u"UNLOAD" || n == u"NOUNLOAD" ||
                   n == u"REWIND" || n == u"NOREWIND" || n == u"CHECKSUM" || n == u"NO_CHECKSUM" ||
                   n == u"CONTINUE_AFTER_ERROR" || n == u"STOP_ON_ERROR" || n == u"COMPRESSION" ||
                   n == u"NO_COMPRESSION" || n == u"BUFFERCOUNT" || n == u"BLOCKSIZE" ||
                   n == u"MAXTRANSFERSIZE" || n == u"RETAINDAYS" || n == u"EXPIREDATE" ||
                   n == u"MEDIANAME" || n == u"MEDIADESCRIPTION") {
            // accepted, no effect here
        } else {
            throw SqlError(155, u"'%1' is not a recognized BACKUP option."_s.arg(n));
        }
    }
    checkBackup(request.database);
    SessionTransferHost host(*this);
    ErrorWatch watch(*m_reply);
    sqlsim::runBackup(request, host, watch);
    m_error = watch.lastError();
    m_rowcount = 0;
}

void SessionImpl::runRestore(const Stmt& s, Frame& frame)
{
    auto text = [&](const ExprPtr& e) {
        return evaluateText(e);
    };
    const QString kind = s.restoreKind;
    const QString terminating = kind == u"DATABASE"       ? u"RESTORE DATABASE"_s
                                : kind == u"FILELISTONLY" ? u"RESTORE FILELIST"_s
                                : kind == u"VERIFYONLY"   ? u"VERIFY DATABASE"_s
                                                          : u"RESTORE "_s + kind;
    if (kind == u"LABELONLY")
        throw SqlError(40000, u"sqlsim does not support 'RESTORE %1'."_s.arg(kind));
    if (m_trancount > 0) {
        Message m;
        m.number = 3021;
        m.text = u"Cannot perform a backup or restore operation within a transaction."_s;
        sendError(m, &s, frame);
        throw SqlError(3013, terminating + u" is terminating abnormally."_s);
    }
    if (s.disks.empty())
        throw SqlError(40000, u"sqlsim does not support RESTORE without a backup device."_s);
    if (s.disks.size() != 1)
        throw SqlError(40000, u"sqlsim does not support restoring from more than one device."_s);
    const QString disk = localPath(text(s.disks[0]));
    int file = 1;
    RestoreRequest request;
    for (const Stmt::Option& o : s.options) {
        const QString& n = o.name;
        if (n == u"FILE") {
            bool ok = false;
            file = o.value ? text(o.value).toInt(&ok) : 0;
            if (!ok || file < 1)
                throw SqlError(3027, u"The option FILE is not valid for this statement. The value "
                                     "must be a positive number."_s);
        } else if (n == u"MOVE") {
            request.moves.append({text(o.value), localPath(text(o.value2))});
        } else if (n == u"REPLACE") {
            request.replace = true;
        } else if (n == u"STATS") {
            request.stats = 10;
            if (o.value) {
                bool ok = false;
                const int v = text(o.value).toInt(&ok);
                if (!ok || v < 1 || v > 100)
                    throw SqlError(3076, u"The option STATS is not valid for this statement. The "
                                         "value must be between 1 and 100."_s);
                request.stats = v;
            }
        } else if (n == u"NORECOVERY" || n == u"STANDBY" || n == u"PARTIAL" || n == u"PASSWORD" ||
                   n == u"MEDIAPASSWORD" || n == u"STOPAT") {
            throw SqlError(40000, u"sqlsim does not support the RESTORE option '%1'."_s.arg(n));
        } else if (n == u"RECOVERY" || n == u"UNLOAD" || n == u"NOUNLOAD" || n == u"REWIND" ||
                   n == u"NOREWIND" || n == u"CHECKSUM" || n == u"NO_CHECKSUM" ||
                   n == u"CONTINUE_AFTER_ERROR" || n == u"STOP_ON_ERROR" ||
                   n == u"KEEP_REPLICATION" || n == u"KEEP_CDC" || n == u"RESTRICTED_USER" ||
                   n == u"ENABLE_BROKER" || n == u"NEW_BROKER" ||
                   n == u"ERROR_BROKER_CONVERSATIONS" || n == u"BUFFERCOUNT" || n == u"BLOCKSIZE" ||
                   n == u"MAXTRANSFERSIZE" || n == u"MEDIANAME") {
            // accepted, no effect here
        } else {
            throw SqlError(155, u"'%1' is not a recognized RESTORE option."_s.arg(n));
        }
    }
    checkRestore(kind, kind == u"DATABASE" ? text(s.database) : QString(), terminating);
    SessionTransferHost host(*this);
    ErrorWatch watch(*m_reply);
    if (kind == u"FILELISTONLY") {
        runRestoreFileListOnly(disk, file, host, watch);
    } else if (kind == u"HEADERONLY") {
        runRestoreHeaderOnly(disk, host, watch);
    } else if (kind == u"VERIFYONLY") {
        request.disk = disk;
        request.file = file;
        runRestoreVerifyOnly(request, host, watch);
    } else {
        request.database = text(s.database);
        request.disk = disk;
        request.file = file;
        sqlsim::runRestore(request, host, watch);
    }
    m_error = watch.lastError();
    m_rowcount = 0;
}

} // namespace sqlsim
