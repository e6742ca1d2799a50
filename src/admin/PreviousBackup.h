#pragma once

#include <QString>

// Keeps the backup file already at a path safe while the server writes a new one under its name.
// The old file is moved aside in its own folder; after the server reports success it is deleted,
// after a failure whatever the server left under the name is removed and the old file is put back
// byte for byte. The new backup is written under its final name because the server's backup
// history records that name, and the restore tab offers it later.
class PreviousBackup
{
public:
    // Moves an existing file aside; a path with no file keeps nothing. A file that cannot be moved
    // (the folder is writable by the server's account only) is left where it is: the server then
    // overwrites it in place, as it does a file on a server of its own, and notKept() says why.
    explicit PreviousBackup(const QString& backupFile);
    // Not kept nor restored by then (an error on the way): restored.
    ~PreviousBackup();
    PreviousBackup(const PreviousBackup&) = delete;
    PreviousBackup& operator=(const PreviousBackup&) = delete;

    // The new backup stands: the old one is no longer needed.
    void discard();
    // The new backup failed: the old one goes back under its name. Returns an empty text, or what
    // went wrong and where the old file now is.
    QString restore();

    // Where the old file waits while the backup runs; empty when there was none.
    const QString& asidePath() const { return m_aside; }
    // Why an existing backup could not be kept aside; empty when it was, or there was none.
    const QString& notKept() const { return m_notKept; }

    // A run that was killed may have left the old file aside with nothing under its name: it goes
    // back (the newest of them). Returns what to tell the operator, or an empty text.
    static QString recoverLeftover(const QString& backupFile);

private:
    QString m_file;
    QString m_aside;
    QString m_notKept;
};
