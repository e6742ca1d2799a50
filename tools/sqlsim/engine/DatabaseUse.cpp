// The databases a session holds open (attached to its connection) and the one it is in: USE,
// three-part names, and letting go of a file that someone else needs.
#include "SessionImpl.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace sqlsim {

bool SessionImpl::uses(const QString& databaseLower) const
{
    std::lock_guard lock(m_published);
    return m_currentDb.toLower() == databaseLower || m_attached.contains(databaseLower);
}

bool SessionImpl::tryRelease(const QString& databaseLower)
{
    std::unique_lock busy(m_busy, std::try_to_lock);
    if (!busy.owns_lock() || m_sqliteTx)
        return false;
    if (m_currentDb.toLower() == databaseLower)
        return false;
    if (m_attached.contains(databaseLower))
        detachAlias(databaseLower);
    return true;
}

QString SessionImpl::attachDatabase(const DatabaseEntry& entry)
{
    const QString key = entry.files.name.toLower();
    if (!QFileInfo::exists(entry.files.dataFile))
        throw SqlError(945, u"Database '%1' cannot be opened due to inaccessible files or "
                            "insufficient memory or disk space.  See the SQL Server errorlog for "
                            "details."_s.arg(entry.files.name));
    const QString alias = u"db%1"_s.arg(m_nextAlias++);
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = (u"ATTACH DATABASE ?1 AS "_s + Translator::quote(alias)).toUtf8();
    int rc = sqlite3_prepare_v2(m_db, sql.constData(), -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        const QByteArray path = entry.files.dataFile.toUtf8();
        sqlite3_bind_text(st, 1, path.constData(), int(path.size()), SQLITE_TRANSIENT);
        rc = sqlite3_step(st);
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE && rc != SQLITE_OK) {
        if (QString::fromUtf8(sqlite3_errmsg(m_db)).contains(u"too many attached"_s))
            throw SqlError(40002, u"sqlsim cannot open more than 10 databases in one session at "
                                  "once."_s);
        throw SqlError(945, u"Database '%1' cannot be opened due to inaccessible files or "
                            "insufficient memory or disk space.  See the SQL Server errorlog for "
                            "details."_s.arg(entry.files.name));
    }
    const QByteArray pragma =
        (u"PRAGMA "_s + Translator::quote(alias) + u".synchronous = OFF"_s).toUtf8();
    sqlite3_exec(m_db, pragma.constData(), nullptr, nullptr, nullptr);
    std::lock_guard lock(m_published);
    m_attached.insert(key, alias);
    return alias;
}

void SessionImpl::detachAlias(const QString& lower)
{
    QString alias;
    {
        std::lock_guard lock(m_published);
        alias = m_attached.value(lower);
    }
    if (alias.isEmpty())
        return;
    const QByteArray sql = (u"DETACH DATABASE "_s + Translator::quote(alias)).toUtf8();
    if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK) {
        std::lock_guard lock(m_published);
        m_attached.remove(lower);
    }
}

void SessionImpl::detachIdle()
{
    if (m_sqliteTx)
        return;
    QStringList keys;
    {
        std::lock_guard lock(m_published);
        keys = m_attached.keys();
    }
    const QString current = m_currentDb.toLower();
    for (const QString& k : keys)
        if (k != current)
            detachAlias(k);
}

void SessionImpl::releaseDatabase(const QString& name)
{
    const QString key = name.toLower();
    if (key != m_currentDb.toLower() && !m_sqliteTx)
        detachAlias(key);
    m_server.releaseEverywhere(name, this);
}

void SessionImpl::setCurrentDatabase(const QString& name)
{
    {
        std::lock_guard lock(m_published);
        m_currentDb = name;
    }
    m_server.sessionsChanged();
}

QString SessionImpl::attachedAlias(const QString& database) const
{
    std::lock_guard lock(m_published);
    return m_attached.value(database.toLower());
}

std::optional<QString> SessionImpl::schemaFor(const QString& database)
{
    const QString key = database.toLower();
    {
        std::lock_guard lock(m_published);
        const auto it = m_attached.find(key);
        if (it != m_attached.end())
            return *it;
    }
    const auto entry = m_server.database(database);
    if (!entry)
        return std::nullopt;
    requireAccess(entry->files.name);
    QString alias;
    m_server.enterDatabase(entry->files.name, this, [&] { alias = attachDatabase(*entry); });
    return alias;
}

void SessionImpl::runUse(const Stmt& s, Frame& frame)
{
    if (frame.nestLevel > 0)
        throw SqlError(154, u"a USE database statement is not allowed in a procedure, function or "
                            "trigger."_s);
    const auto entry = m_server.database(s.name);
    if (!entry)
        throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is entered "
                            "correctly."_s.arg(s.name));
    // Checked even when an earlier three-part name left the file open here.
    m_server.enterDatabase(entry->files.name, this);
    requireAccess(entry->files.name);
    if (!schemaFor(entry->files.name))
        throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is entered "
                            "correctly."_s.arg(s.name));
    const QString old = m_currentDb;
    setCurrentDatabase(entry->files.name);
    m_reply->databaseChanged(entry->files.name, old);
    sendInfo(5701, u"Changed database context to '%1'."_s.arg(entry->files.name));
    done(frame, std::nullopt);
}

} // namespace sqlsim
