#include "TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString fixturePath(const QString& relative)
{
    return QStringLiteral(DBSETUP_FIXTURES_DIR "/") + relative;
}

QMap<QString, QByteArray> fileTree(const QString& folder)
{
    QMap<QString, QByteArray> files;
    const QDir root(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(root.relativeFilePath(path), readFile(path));
    }
    return files;
}

QString treeDifference(const QMap<QString, QByteArray>& expected,
                       const QMap<QString, QByteArray>& actual)
{
    QStringList differences;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (!actual.contains(it.key()))
            differences << it.key() + QStringLiteral(": missing");
        else if (actual[it.key()] != it.value())
            differences << QStringLiteral("%1: %2 bytes written of %3")
                               .arg(it.key())
                               .arg(actual[it.key()].size())
                               .arg(it.value().size());
    }
    for (auto it = actual.begin(); it != actual.end(); ++it)
        if (!expected.contains(it.key()))
            differences << it.key() + QStringLiteral(": not expected");
    return differences.join(u'\n');
}
