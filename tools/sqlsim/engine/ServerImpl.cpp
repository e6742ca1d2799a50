#include "ServerImpl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cstdio>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

struct VersionInfo
{
    int year;
    int major;
    int minor;
    int build;
    const char* full;
    const char* built;
    int cmptlevel;
    int dbVersion;
};

const VersionInfo& versionFor(int year)
{
    static const VersionInfo versions[] = {
        {2000, 8, 0, 194, "8.00.194", "Aug  6 2000 00:57:48", 80, 539},
        {2005, 9, 0, 1399, "9.00.1399.06", "Oct 14 2005 00:33:37", 90, 611},
        {2008, 10, 0, 1600, "10.0.1600.22", "Jul  9 2008 14:43:34", 100, 655},
        {2012, 11, 0, 2100, "11.0.2100.60", "Feb 10 2012 19:39:15", 110, 706},
        {2014, 12, 0, 2000, "12.0.2000.8", "Feb 20 2014 20:04:26", 120, 782},
        {2016, 13, 0, 1601, "13.0.1601.5", "Apr 29 2016 23:23:58", 130, 852},
        {2017, 14, 0, 1000, "14.0.1000.169", "Aug 22 2017 17:04:49", 140, 869},
        {2019, 15, 0, 2000, "15.0.2000.5", "Sep 24 2019 13:48:23", 150, 904},
        {2022, 16, 0, 1000, "16.0.1000.6", "Oct  8 2022 05:58:25", 160, 957},
    };
    const VersionInfo* best = &versions[0];
    for (const VersionInfo& v : versions)
        if (v.year <= year)
            best = &v;
    return *best;
}

QString isoDate(const QDateTime& dt)
{
    return dt.toString(Qt::ISODateWithMs);
}

} // namespace

ServerImpl::ServerImpl(const ServerOptions& options) : m_options(options)
{
    m_failNextTransfer = options.failNextTransfer;
    m_connectionFaults = options.connectionFaults;
    m_dropLogins = options.dropLogins;
}

void ServerImpl::armConnectionFault(const ConnectionFault& fault)
{
    std::lock_guard lock(m_faultMutex);
    m_connectionFaults.append(fault);
}

std::optional<ConnectionFault> ServerImpl::takeConnectionFault(const QString& requestEntry)
{
    std::lock_guard lock(m_faultMutex);
    for (qsizetype i = 0; i < m_connectionFaults.size(); ++i) {
        if (requestEntry.contains(m_connectionFaults[i].match, Qt::CaseInsensitive))
            return m_connectionFaults.takeAt(i);
    }
    return std::nullopt;
}

bool ServerImpl::takeLoginFault()
{
    int armed = m_dropLogins.load();
    while (armed > 0 && !m_dropLogins.compare_exchange_weak(armed, armed - 1)) {
    }
    return armed > 0;
}

ServerImpl::~ServerImpl() = default;

quint32 ServerImpl::programVersion() const
{
    const VersionInfo& v = versionFor(m_options.versionYear);
    return (quint32(v.major) << 24) | (quint32(v.minor) << 16) | quint32(v.build);
}

QString ServerImpl::productVersion() const
{
    return QString::fromLatin1(versionFor(m_options.versionYear).full);
}

int ServerImpl::compatibilityLevel() const
{
    return versionFor(m_options.versionYear).cmptlevel;
}

int ServerImpl::databaseVersion() const
{
    return versionFor(m_options.versionYear).dbVersion;
}

QString ServerImpl::versionString() const
{
    const VersionInfo& v = versionFor(m_options.versionYear);
    return u"Microsoft SQL Server %1 (RTM) - %2 (X64) \n\t%3 \n\tCopyright (C) %4 Microsoft "
           "Corporation\n\t%5 on Linux (Debian 12) <X64>"_s.arg(
               QString::number(m_options.versionYear), QString::fromLatin1(v.full),
               QString::fromLatin1(v.built), QString::number(m_options.versionYear),
               editionText(edition()));
}

QString ServerImpl::statePath() const
{
    return QDir(m_options.dataDir).filePath(u"sqlsim-state.json"_s);
}

void ServerImpl::initialize()
{
    if (m_options.dataDir.isEmpty())
        throw std::runtime_error("no data folder given");
    QDir dir(m_options.dataDir);
    if (!dir.exists() && !QDir().mkpath(m_options.dataDir))
        throw std::runtime_error(QStringLiteral("cannot create the data folder %1")
                                     .arg(m_options.dataDir)
                                     .toStdString());
    m_options.dataDir = dir.absolutePath();
    // Files are shown by their full path, whatever folder the simulator was started from.
    dir.setPath(m_options.dataDir);
    const QFileInfo info(m_options.dataDir);
    if (!info.isDir() || !info.isWritable())
        throw std::runtime_error(QStringLiteral("the data folder %1 is not writable")
                                     .arg(m_options.dataDir)
                                     .toStdString());

    loadState();
    loadLogins();

    // The system databases, made on first start (tempdb afresh on every start).
    struct System
    {
        const char* name;
        const char* data;
        const char* log;
        const char* dataLogical;
        const char* logLogical;
        catalog::DatabaseKind kind;
        int dbid;
    };
    static const System systems[] = {
        {"master", "master.mdf", "mastlog.ldf", "master", "mastlog", catalog::DatabaseKind::Master,
         1},
        {"tempdb", "tempdb.mdf", "templog.ldf", "tempdev", "templog", catalog::DatabaseKind::Tempdb,
         2},
        {"model", "model.mdf", "modellog.ldf", "modeldev", "modellog", catalog::DatabaseKind::Model,
         3},
        {"msdb", "MSDBData.mdf", "MSDBLog.ldf", "MSDBData", "MSDBLog", catalog::DatabaseKind::Msdb,
         4},
    };
    try {
        for (const System& s : systems) {
            DatabaseFiles f;
            f.name = QString::fromLatin1(s.name);
            f.dataFile = dir.filePath(QString::fromLatin1(s.data));
            f.logFile = dir.filePath(QString::fromLatin1(s.log));
            f.dataLogicalName = QString::fromLatin1(s.dataLogical);
            f.logLogicalName = QString::fromLatin1(s.logLogical);
            if (s.kind == catalog::DatabaseKind::Tempdb) {
                QFile::remove(f.dataFile);
                QFile::remove(f.logFile);
            }
            if (!QFileInfo::exists(f.dataFile)) {
                QFile::remove(f.logFile);
                catalog::createDatabaseFiles(f, s.kind);
            } else if (!QFileInfo::exists(f.logFile)) {
                catalog::writeLogFile(f.logFile, f.name);
            }
            catalog::prepareDataFile(f.dataFile, f.name);
            DatabaseEntry e;
            e.files = f;
            e.dbid = s.dbid;
            e.system = true;
            const auto existing = m_databases.find(f.name);
            if (existing != m_databases.end())
                e.singleUser = existing->singleUser;
            e.created = existing != m_databases.end() && existing->created.isValid()
                            ? existing->created
                            : QDateTime::currentDateTime();
            if (s.kind == catalog::DatabaseKind::Tempdb)
                e.created = QDateTime::currentDateTime();
            m_databases.insert(f.name, e);
        }
        {
            std::lock_guard lock(m_mutex);
            saveState();
        }
        catalog::refreshMasterViews(m_databases.value(u"master"_s).files.dataFile);
        syncSysdatabases();
    } catch (const SqlError& e) {
        throw std::runtime_error(e.message.text.toStdString());
    }
}

void ServerImpl::loadState()
{
    QFile f(statePath());
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(f.read(16 * 1024 * 1024));
    const QJsonObject root = doc.object();
    m_nextDbid = std::max(5, root.value(u"nextDbid"_s).toInt(5));
    for (const QJsonValue& v : root.value(u"databases"_s).toArray()) {
        const QJsonObject o = v.toObject();
        DatabaseEntry e;
        e.files.name = o.value(u"name"_s).toString();
        e.files.dataFile = o.value(u"dataFile"_s).toString();
        e.files.logFile = o.value(u"logFile"_s).toString();
        e.files.dataLogicalName = o.value(u"dataLogicalName"_s).toString();
        e.files.logLogicalName = o.value(u"logLogicalName"_s).toString();
        e.dbid = o.value(u"dbid"_s).toInt();
        e.created = QDateTime::fromString(o.value(u"created"_s).toString(), Qt::ISODateWithMs);
        e.system = o.value(u"system"_s).toBool();
        e.singleUser = o.value(u"singleUser"_s).toBool();
        e.offline = o.value(u"offline"_s).toBool();
        e.restoring = o.value(u"restoring"_s).toBool();
        if (const QString owner = o.value(u"owner"_s).toString(); !owner.isEmpty())
            e.ownerSid = QByteArray::fromHex(owner.toLatin1());
        if (e.files.name.isEmpty() || e.dbid <= 0)
            continue;
        m_databases.insert(e.files.name.toLower(), e);
        m_nextDbid = std::max(m_nextDbid, e.dbid + 1);
    }
    for (const QJsonValue& v : root.value(u"startupProcedures"_s).toArray())
        m_startup << v.toString();
    loadLoginState(root);
}

void ServerImpl::saveState() const
{
    QJsonObject root;
    root.insert(u"version"_s, 1);
    root.insert(u"nextDbid"_s, m_nextDbid);
    QJsonArray dbs;
    for (const DatabaseEntry& e : m_databases) {
        QJsonObject o;
        o.insert(u"name"_s, e.files.name);
        o.insert(u"dbid"_s, e.dbid);
        o.insert(u"dataFile"_s, e.files.dataFile);
        o.insert(u"logFile"_s, e.files.logFile);
        o.insert(u"dataLogicalName"_s, e.files.dataLogicalName);
        o.insert(u"logLogicalName"_s, e.files.logLogicalName);
        o.insert(u"created"_s, isoDate(e.created));
        o.insert(u"system"_s, e.system);
        if (e.singleUser)
            o.insert(u"singleUser"_s, true);
        if (e.offline)
            o.insert(u"offline"_s, true);
        if (e.restoring)
            o.insert(u"restoring"_s, true);
        if (e.ownerSid != QByteArray(1, '\x01'))
            o.insert(u"owner"_s, QString::fromLatin1(e.ownerSid.toHex()));
        dbs.append(o);
    }
    root.insert(u"databases"_s, dbs);
    root.insert(u"startupProcedures"_s, QJsonArray::fromStringList(m_startup));
    saveLoginState(root);
    QSaveFile f(statePath());
    if (!f.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "sqlsim: cannot write %s\n", qPrintable(statePath()));
        return;
    }
    f.write(QJsonDocument(root).toJson());
    if (!f.commit())
        std::fprintf(stderr, "sqlsim: cannot write %s\n", qPrintable(statePath()));
}

void ServerImpl::syncSysdatabases() const
{
    // The newest registry is written last: take it under the sync lock.
    std::lock_guard syncLock(m_syncMutex);
    QList<catalog::SysdatabasesRow> rows;
    QList<DatabaseEntry> entries;
    QString masterFile;
    {
        std::lock_guard lock(m_mutex);
        entries = m_databases.values();
        const auto master = m_databases.find(u"master"_s);
        if (master == m_databases.end())
            return;
        masterFile = master->files.dataFile;
    }
    std::sort(entries.begin(), entries.end(),
              [](const DatabaseEntry& a, const DatabaseEntry& b) { return a.dbid < b.dbid; });
    for (const DatabaseEntry& e : entries) {
        catalog::SysdatabasesRow r;
        r.name = e.files.name;
        r.dbid = e.dbid;
        r.filename = e.files.dataFile;
        r.created = e.created;
        r.cmptlevel = compatibilityLevel();
        r.version = databaseVersion();
        r.system = e.system;
        r.singleUser = e.singleUser;
        r.offline = e.offline;
        r.restoring = e.restoring;
        r.ownerSid = e.ownerSid;
        rows << r;
    }
    catalog::writeSysdatabases(masterFile, rows);
}

std::optional<DatabaseEntry> ServerImpl::database(const QString& name) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_databases.find(name.toLower());
    if (it == m_databases.end())
        return std::nullopt;
    return *it;
}

std::optional<DatabaseEntry> ServerImpl::databaseById(int dbid) const
{
    std::lock_guard lock(m_mutex);
    for (const DatabaseEntry& e : m_databases)
        if (e.dbid == dbid)
            return e;
    return std::nullopt;
}

QList<DatabaseEntry> ServerImpl::databases() const
{
    std::lock_guard lock(m_mutex);
    QList<DatabaseEntry> out = m_databases.values();
    std::sort(out.begin(), out.end(),
              [](const DatabaseEntry& a, const DatabaseEntry& b) { return a.dbid < b.dbid; });
    return out;
}

namespace {

QString canonical(const QString& path)
{
    const QFileInfo info(path);
    const QString c = info.canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : c;
}

} // namespace

std::optional<QString> ServerImpl::databaseUsingFile(const QString& path) const
{
    const QString wanted = canonical(path);
    std::lock_guard lock(m_mutex);
    for (const DatabaseEntry& e : m_databases) {
        if (canonical(e.files.dataFile) == wanted || canonical(e.files.logFile) == wanted)
            return e.files.name;
    }
    return std::nullopt;
}

void ServerImpl::registerDatabase(const DatabaseFiles& files, bool replace, const QByteArray& owner)
{
    std::unique_lock lock(m_mutex);
    const QString key = files.name.toLower();
    DatabaseEntry e;
    const auto it = m_databases.find(key);
    if (it != m_databases.end()) {
        if (!replace)
            throw SqlError(1801, u"Database '%1' already exists. Choose a different database "
                                 "name."_s.arg(files.name));
        e = *it;
    } else {
        e.dbid = m_nextDbid++;
    }
    e.files = files;
    if (!owner.isEmpty())
        e.ownerSid = owner;
    e.created = QDateTime::currentDateTime();
    // Attaching starts the database; a restore over an offline or restoring one brings it
    // online.
    e.offline = false;
    e.restoring = false;
    // Created, attached or restored: the user access is what the data file says.
    try {
        e.singleUser = catalog::readSingleUser(files.dataFile);
    } catch (const SqlError&) {
        e.singleUser = false;
    }
    m_databases.insert(key, e);
    saveState();
    lock.unlock();
    syncSysdatabases();
}

void ServerImpl::unregisterDatabase(const QString& name)
{
    std::unique_lock lock(m_mutex);
    m_databases.remove(name.toLower());
    saveState();
    lock.unlock();
    syncSysdatabases();
}

void ServerImpl::setStartupProcedure(const QString& name, bool on)
{
    std::lock_guard lock(m_mutex);
    const auto existing = std::find_if(m_startup.begin(), m_startup.end(), [&](const QString& s) {
        return s.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (on && existing == m_startup.end())
        m_startup << name;
    else if (!on && existing != m_startup.end())
        m_startup.erase(existing);
    saveState();
}

void ServerImpl::dropStartupProcedure(const QString& name)
{
    setStartupProcedure(name, false);
}

QStringList ServerImpl::startupProcedures() const
{
    std::lock_guard lock(m_mutex);
    return m_startup;
}

void ServerImpl::addSession(SessionHandle* session)
{
    enterDatabase(session->currentDatabase(), session,
                  [this, session] { m_sessions.push_back(session); });
}

void ServerImpl::removeSession(SessionHandle* session)
{
    {
        std::lock_guard lock(m_mutex);
        m_sessions.erase(std::remove(m_sessions.begin(), m_sessions.end(), session),
                         m_sessions.end());
    }
    sessionsChanged();
}

void ServerImpl::sessionsChanged()
{
    {
        std::lock_guard lock(m_changeMutex);
        ++m_changes;
    }
    m_changed.notify_all();
}

QList<SessionSnapshot> ServerImpl::sessionSnapshots() const
{
    std::lock_guard lock(m_mutex);
    QList<SessionSnapshot> out;
    for (const SessionHandle* s : m_sessions)
        out << s->snapshot();
    std::sort(out.begin(), out.end(),
              [](const SessionSnapshot& a, const SessionSnapshot& b) { return a.spid < b.spid; });
    return out;
}

std::optional<Message> ServerImpl::unavailable(const QString& database, int spid) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_databases.find(database.toLower());
    if (it == m_databases.end())
        return std::nullopt;
    // "Database is in transition" and "cannot be opened because it is offline": numbers,
    // severities and texts from learn.microsoft.com/sql/relational-databases/errors-events/
    // database-engine-events-and-errors-0-to-999. During the change SQL Server refuses newcomers
    // at once rather than queueing them behind the ALTER.
    Message m;
    if (it->changingSpid != 0 && it->changingSpid != spid) {
        m.number = 952;
        m.text = u"Database '%1' is in transition. Try the statement later."_s;
    } else if (it->restoring) {
        // "Database events and errors (0 to 999)", 927; what a restore leaves behind when it
        // fails once writing had begun is RESTORING too, until a restore succeeds.
        m.number = 927;
        m.state = 2;
        m.severity = 14;
        m.text = u"Database '%1' cannot be opened. It is in the middle of a restore."_s;
    } else if (it->offline) {
        m.number = 942;
        m.state = 4;
        m.severity = 14;
        m.text = u"Database '%1' cannot be opened because it is offline."_s;
    } else {
        return std::nullopt;
    }
    m.text = m.text.arg(it->files.name);
    return m;
}

void ServerImpl::enterDatabase(const QString& database, SessionHandle* entering,
                               const std::function<void()>& enter)
{
    const QString key = database.toLower();
    // Idle sessions merely holding the file open for an earlier three-part name are not in it.
    if (const auto entry = this->database(database); entry && entry->singleUser)
        releaseEverywhere(database, entering);
    std::lock_guard lock(m_mutex);
    const auto it = m_databases.find(key);
    if (it == m_databases.end())
        throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is entered "
                            "correctly."_s.arg(database));
    if (const auto refusal = unavailable(database, entering->spid()))
        throw SqlError(*refusal);
    // Only one connection at a time may use a single-user database ("ALTER DATABASE SET
    // Options", SINGLE_USER, learn.microsoft.com/sql/t-sql/statements/
    // alter-database-transact-sql-set-options); the next one gets 924.
    if (it->singleUser) {
        for (SessionHandle* s : m_sessions)
            if (s != entering && s->uses(key))
                throw SqlError(Message{924,
                                       1,
                                       14,
                                       u"Database '%1' is already open and can only have one user "
                                       "at a time."_s.arg(it->files.name),
                                       {},
                                       1});
    }
    if (enter)
        enter();
}

int ServerImpl::terminateUsers(const QString& database, SessionHandle* except)
{
    const QString key = database.toLower();
    releaseEverywhere(database, except);
    std::lock_guard lock(m_mutex);
    int ended = 0;
    for (SessionHandle* s : m_sessions) {
        if (s != except && s->uses(key)) {
            s->terminate();
            ++ended;
        }
    }
    return ended;
}

bool ServerImpl::waitUntilUnused(const QString& database, SessionHandle* except,
                                 std::optional<std::chrono::steady_clock::time_point> until,
                                 const std::function<bool()>& stop)
{
    // Wakes on every session change; the slice only lets an attention or a kill be noticed.
    constexpr auto slice = std::chrono::milliseconds(50);
    for (;;) {
        quint64 seen;
        {
            std::lock_guard lock(m_changeMutex);
            seen = m_changes;
        }
        releaseEverywhere(database, except);
        const int blocker = otherUser(database, except);
        except->setBlockedBy(blocker);
        if (blocker == 0)
            return true;
        if (stop() || (until && std::chrono::steady_clock::now() >= *until)) {
            except->setBlockedBy(0);
            return false;
        }
        auto wake = std::chrono::steady_clock::now() + slice;
        if (until)
            wake = std::min(wake, *until);
        std::unique_lock lock(m_changeMutex);
        m_changed.wait_until(lock, wake, [&] { return m_changes != seen; });
    }
}

void ServerImpl::setSingleUser(const QString& database, bool on)
{
    std::unique_lock lock(m_mutex);
    const auto it = m_databases.find(database.toLower());
    if (it == m_databases.end())
        return;
    catalog::writeSingleUser(it->files.dataFile, on);
    it->singleUser = on;
    saveState();
    lock.unlock();
    syncSysdatabases();
}

void ServerImpl::setOffline(const QString& database, bool on)
{
    setState(database, &DatabaseEntry::offline, on);
}

void ServerImpl::setRestoring(const QString& database, bool on)
{
    setState(database, &DatabaseEntry::restoring, on);
}

void ServerImpl::setState(const QString& database, bool DatabaseEntry::*state, bool on)
{
    std::unique_lock lock(m_mutex);
    const auto it = m_databases.find(database.toLower());
    if (it == m_databases.end())
        return;
    (*it).*state = on;
    saveState();
    lock.unlock();
    syncSysdatabases();
}

bool ServerImpl::beginStateChange(const QString& database, int spid)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_databases.find(database.toLower());
    if (it == m_databases.end() || it->changingSpid != 0)
        return false;
    it->changingSpid = spid;
    return true;
}

void ServerImpl::endStateChange(const QString& database)
{
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_databases.find(database.toLower());
        if (it != m_databases.end())
            it->changingSpid = 0;
    }
    sessionsChanged();
}

bool ServerImpl::usedByOtherSession(const QString& database, const SessionHandle* except) const
{
    return otherUser(database, except) != 0;
}

int ServerImpl::otherUser(const QString& database, const SessionHandle* except) const
{
    const QString key = database.toLower();
    std::lock_guard lock(m_mutex);
    for (const SessionHandle* s : m_sessions)
        if (s != except && s->uses(key))
            return s->spid();
    return 0;
}

void ServerImpl::releaseEverywhere(const QString& database, SessionHandle* except)
{
    const QString key = database.toLower();
    std::lock_guard lock(m_mutex);
    for (SessionHandle* s : m_sessions)
        if (s != except)
            s->tryRelease(key);
}

void ServerImpl::recordBackup(const BackupRecord& record, const QString& user)
{
    const auto msdb = database(u"msdb"_s);
    if (!msdb)
        return;
    catalog::recordBackup(msdb->files.dataFile, record, user, serverName());
}

} // namespace sqlsim
