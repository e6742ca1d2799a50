#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Writes bytes to a file, creating its folder; fails the test's QVERIFY on error.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
QString fixturePath(const QString& relative);
// Every file below a folder, hidden ones included: path relative to the folder ("/") to content.
QMap<QString, QByteArray> fileTree(const QString& folder);
// Where two trees differ ("name: N bytes written of M", a missing or an extra file); empty when
// they are the same.
QString treeDifference(const QMap<QString, QByteArray>& expected,
                       const QMap<QString, QByteArray>& actual);
