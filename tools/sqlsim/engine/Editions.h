#pragma once

#include <QString>
#include <optional>

// The edition the server plays: what SERVERPROPERTY and @@VERSION say of it, and Express's
// limit on the size of a database.
namespace sqlsim {

enum class Edition
{
    Express,
    Standard,
    Developer,
    Enterprise,
};

// "express", "standard", "developer" or "enterprise", case ignored.
std::optional<Edition> editionNamed(const QString& name);

// SERVERPROPERTY('Edition'), as a 64-bit server has it: "Express Edition (64-bit)".
QString editionText(Edition edition);
qint64 engineEdition(Edition edition);
qint64 editionId(Edition edition);

// The most data a database may hold, in megabytes, on a server of that edition and version; 0
// for no limit.
qint64 databaseSizeLimitMegabytes(Edition edition, int versionYear);

} // namespace sqlsim
