#pragma once

#include <QHash>
#include <QString>

// Where the operator's files of each kind went last, so that a file dialog opens there. This
// machine's folders are kept for the next start in the user's state file (group [files]), never
// in settings.ini; a server's own folders only while the program runs, under that server's name.
class RecentFolders
{
public:
    enum class Kind
    {
        Backup,       // backups made, and backups restored from
        Export,       // the console's exports
        DatabaseFile, // data and log files attached
    };

    // The last folder of that kind on this machine (server empty) or on that server; empty when
    // there is none.
    QString folder(Kind kind, const QString& server = {});
    void remember(Kind kind, const QString& folder, const QString& server = {});

private:
    void load();

    QString m_stateFile; // platform::userStateFile()
    bool m_loaded = false;
    QHash<QString, QString> m_folders; // by server, "\n" and the kind's key
};
