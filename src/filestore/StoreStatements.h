#pragma once

#include <QString>

// The statements of the store's table. Its name is the program's own (fileStoreTable) and goes in
// as written; what the files bring (their paths) goes in through sqltext.

inline const QString fileStoreTable = QStringLiteral("backup_files");

QString VersionNumberText(const QString& versionText); // the digits in order; "" when none

namespace storesql {

QString dropTable(const QString& table);
QString createTable(const QString& table);
// One file's row; the content is bound to the parameter named dataParameter.
QString insertFile(const QString& table, const QString& storedPath, const QString& versionNumber,
                   const QString& dataParameter);
// Every stored file, or those of versionNumber and newer.
QString selectFiles(const QString& table);
QString selectFilesSince(const QString& table, const QString& versionNumber);

} // namespace storesql
