#include "SpecialFolders.h"

#include <shlobj.h>
#include <windows.h>

// Windows's own answers; the Linux stand-ins are in SpecialFolders.cpp.
namespace platform {

namespace {

QString fromWide(const wchar_t* text)
{
    return QString::fromWCharArray(text);
}

// SHGetSpecialFolderPathW, with the create flag when asked: the empty text when the shell has
// no such folder (Program Files (x86) on 32-bit Windows).
QString shellFolder(int csidl, bool create)
{
    wchar_t path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, csidl, create ? TRUE : FALSE))
        return {};
    return fromWide(path);
}

QString withoutTrailingSeparator(QString folder)
{
    // "C:\" keeps its separator: without it the text names the drive's current folder.
    while (folder.size() > 3 && (folder.endsWith(u'\\') || folder.endsWith(u'/')))
        folder.chop(1);
    return folder;
}

} // namespace

QString executableDir()
{
    // The module's own name, as the system reports it; long paths are asked again with room.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const QString file = QString::fromStdWString(path);
    return withoutTrailingSeparator(file.left(file.lastIndexOf(u'\\') + 1));
}

QString tempDir()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, path);
    if (length == 0 || length > MAX_PATH)
        return {};
    return withoutTrailingSeparator(fromWide(path));
}

QString documentsDir()
{
    return shellFolder(CSIDL_PERSONAL, true);
}

QString appDataDir()
{
    return shellFolder(CSIDL_APPDATA, true);
}

QString programFilesDir()
{
    return shellFolder(CSIDL_PROGRAM_FILES, false);
}

QString programFilesX86Dir()
{
    return shellFolder(CSIDL_PROGRAM_FILESX86, false);
}

QString systemDir()
{
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return fromWide(path);
}

bool isWow64()
{
    // Looked up by name: Windows before XP SP2 has no such function.
    using IsWow64Function = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr)
        return false;
    // Through the generic function type, which the compiler accepts as any function's.
    const auto function = reinterpret_cast<IsWow64Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    return function != nullptr && function(GetCurrentProcess(), &wow64) && wow64;
}

} // namespace platform
