#pragma once

#include <QByteArray>
#include <QString>

// Writes bytes to a file, creating its folder; fails the test's QVERIFY on error.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
QString fixturePath(const QString& relative);
