#pragma once

#include <QHash>
#include <QString>
#include <map>
#include <optional>

// The Windows registry, read only. On this system it is a registry export file (.reg text as
// regedit writes it): "registry.reg" in the settings folder, or the file named by the environment
// variable DBSETUP_REGISTRY.
namespace platform {

struct RegistryValue
{
    enum class Kind
    {
        Text,
        ExpandText,
        Other
    }; // REG_SZ, REG_EXPAND_SZ, anything else
    Kind kind = Kind::Text;
    QString text; // Text/ExpandText: up to the first NUL

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

class RegistryFile
{
public:
    // Missing or unreadable file: an empty registry.
    static RegistryFile load(const QString& path);
    // Lines that cannot be understood are skipped; the rest of the file still counts.
    static RegistryFile fromText(const QString& text);

    // rootName is a full root name such as "HKEY_LOCAL_MACHINE"; keyPath like
    // "Software\\Vendor\\App". Both match without regard to case; a leading "\\" of keyPath is
    // ignored and "/" is an ordinary character. The parents of every key exist too, and so does
    // each root itself (empty keyPath).
    bool keyExists(const QString& rootName, const QString& keyPath) const;
    // valueName "" is the key's default value ("@" in the file). nullopt when key or value missing.
    std::optional<RegistryValue> value(const QString& rootName, const QString& keyPath,
                                       const QString& valueName) const;

private:
    struct Key
    {
        QHash<QString, RegistryValue> values; // folded value name -> value
    };
    // Keys named "ROOT" or "ROOT\folded\path". Sorted, so a key's subkeys form one range: parents
    // need no entry of their own and a deletion removes one range.
    using KeyMap = std::map<QString, Key>;

    bool hasKeyOrSubkey(const QString& normalized) const;
    void deleteKey(const QString& normalized);

    KeyMap m_keys;
};

// The registry file: $DBSETUP_REGISTRY when set and non-empty, else registry.reg in the settings
// folder.
// One of the seven full root names (HKEY_LOCAL_MACHINE, ...), compared without regard to case;
// short forms such as HKLM are no roots.
bool isRegistryRoot(QStringView name);

QString registryFilePath();
// load(registryFilePath()), read anew on each call so edits to the file are seen at once.
RegistryFile systemRegistry();

} // namespace platform
