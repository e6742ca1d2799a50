#include "TestFiles.h"

#include <QDir>
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
