#pragma once

#include "RegistryFile.h"

#include <QString>
#include <optional>

// The registry the program reads: Windows's own, in the view a 32-bit process gets by default
// (the application's installer writes its keys there); on other systems the registry export
// file that stands in for it (see RegistryFile.h).
namespace platform {

// rootName is one of the seven full root names (see isRegistryRoot); keyPath like
// "Software\\Vendor\\App"; valueName "" is the key's default value. nullopt when the key or the
// value is missing.
std::optional<RegistryValue> readSystemRegistry(const QString& rootName, const QString& keyPath,
                                                const QString& valueName);

} // namespace platform
