#include "SystemRegistry.h"

#ifdef Q_OS_WIN
#include <vector>
#include <windows.h>
#endif

using namespace Qt::StringLiterals;

namespace platform {

#ifdef Q_OS_WIN

namespace {

std::optional<HKEY> rootKey(const QString& rootName)
{
    static const std::pair<QString, HKEY> roots[] = {
        {u"HKEY_CLASSES_ROOT"_s, HKEY_CLASSES_ROOT},
        {u"HKEY_CURRENT_USER"_s, HKEY_CURRENT_USER},
        {u"HKEY_LOCAL_MACHINE"_s, HKEY_LOCAL_MACHINE},
        {u"HKEY_USERS"_s, HKEY_USERS},
        {u"HKEY_PERFORMANCE_DATA"_s, HKEY_PERFORMANCE_DATA},
        {u"HKEY_CURRENT_CONFIG"_s, HKEY_CURRENT_CONFIG},
        {u"HKEY_DYN_DATA"_s, HKEY_DYN_DATA},
    };
    for (const auto& [name, key] : roots)
        if (rootName.compare(name, Qt::CaseInsensitive) == 0)
            return key;
    return std::nullopt;
}

const wchar_t* wide(const QString& text)
{
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

} // namespace

std::optional<RegistryValue> readSystemRegistry(const QString& rootName, const QString& keyPath,
                                                const QString& valueName)
{
    const std::optional<HKEY> root = rootKey(rootName);
    if (!root)
        return std::nullopt;
    QString path = keyPath;
    if (path.startsWith(u'\\'))
        path.remove(0, 1);
    HKEY key = nullptr;
    // KEY_WOW64_32KEY: this 64-bit program reads what a 32-bit one would, the view the
    // application's own (32-bit) installer writes to.
    if (RegOpenKeyExW(*root, wide(path), 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, wide(valueName), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data;
    // A value may grow between the two calls; ask again until it fits.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        data.resize(size + sizeof(wchar_t));
        size = static_cast<DWORD>(data.size());
        status = RegQueryValueExW(key, wide(valueName), nullptr, &type, data.data(), &size);
        if (status == ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    RegistryValue value;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        value.kind = type == REG_SZ ? RegistryValue::Kind::Text : RegistryValue::Kind::ExpandText;
        // Stored text need not end with a NUL; it ends at the first one when it has any.
        QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data.data()),
                                          static_cast<qsizetype>(size / sizeof(char16_t)));
        if (const qsizetype nul = text.indexOf(QChar(0)); nul >= 0)
            text.truncate(nul);
        value.text = text;
    } else {
        value.kind = RegistryValue::Kind::Other;
    }
    return value;
}

#else

std::optional<RegistryValue> readSystemRegistry(const QString& rootName, const QString& keyPath,
                                                const QString& valueName)
{
    return systemRegistry().value(rootName, keyPath, valueName);
}

#endif

} // namespace platform
