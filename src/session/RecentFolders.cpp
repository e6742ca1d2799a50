#include "RecentFolders.h"

#include "SettingsFolder.h"

#include <QSettings>

using namespace Qt::StringLiterals;

namespace {

constexpr RecentFolders::Kind allKinds[] = {
    RecentFolders::Kind::Backup, RecentFolders::Kind::Export, RecentFolders::Kind::DatabaseFile};

QString keyOf(RecentFolders::Kind kind)
{
    switch (kind) {
    case RecentFolders::Kind::Backup:
        return u"backup_folder"_s;
    case RecentFolders::Kind::Export:
        return u"export_folder"_s;
    case RecentFolders::Kind::DatabaseFile:
        return u"database_file_folder"_s;
    }
    return {};
}

QString entryOf(RecentFolders::Kind kind, const QString& server)
{
    return server + u'\n' + keyOf(kind);
}

} // namespace

void RecentFolders::load()
{
    // Looked up when first needed: a batch run opens no dialog and never looks.
    if (m_loaded)
        return;
    m_loaded = true;
    m_stateFile = platform::userStateFile();
    if (m_stateFile.isEmpty())
        return;
    QSettings state(m_stateFile, QSettings::IniFormat);
    state.beginGroup(u"files"_s);
    for (const Kind kind : allKinds) {
        const QString folder = state.value(keyOf(kind)).toString();
        if (!folder.isEmpty())
            m_folders.insert(entryOf(kind, {}), folder);
    }
}

QString RecentFolders::folder(Kind kind, const QString& server)
{
    load();
    return m_folders.value(entryOf(kind, server));
}

void RecentFolders::remember(Kind kind, const QString& folder, const QString& server)
{
    load();
    if (folder.isEmpty())
        return;
    m_folders.insert(entryOf(kind, server), folder);
    // Another machine's folders mean nothing at the next start, which may be on another server.
    if (!server.isEmpty() || m_stateFile.isEmpty())
        return;
    // Only a convenience: a file that cannot be written keeps the folder for this run.
    QSettings state(m_stateFile, QSettings::IniFormat);
    state.setValue(u"files/"_s + keyOf(kind), folder);
}
