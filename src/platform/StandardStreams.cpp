#include "StandardStreams.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cstdio>
#endif

namespace platform {

#ifdef Q_OS_WIN

namespace {

bool isValid(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void write(DWORD which, const QString& text)
{
    attachCallerConsole();
    const HANDLE handle = GetStdHandle(which);
    if (!isValid(handle))
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text.utf16(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    // A file or a pipe: scripts read UTF-8.
    const QByteArray bytes = text.toUtf8();
    WriteFile(handle, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace

void attachCallerConsole()
{
    static bool asked = false;
    if (asked)
        return;
    asked = true;
    const bool outputMissing = !isValid(GetStdHandle(STD_OUTPUT_HANDLE));
    const bool errorMissing = !isValid(GetStdHandle(STD_ERROR_HANDLE));
    if (!outputMissing && !errorMissing)
        return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return; // started from Explorer or a service: no console to write to
    const HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (!isValid(console))
        return;
    if (outputMissing)
        SetStdHandle(STD_OUTPUT_HANDLE, console);
    if (errorMissing)
        SetStdHandle(STD_ERROR_HANDLE, console);
}

void writeStandardOutput(const QString& text)
{
    write(STD_OUTPUT_HANDLE, text);
}

void writeStandardError(const QString& text)
{
    write(STD_ERROR_HANDLE, text);
}

#else

namespace {

void write(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void attachCallerConsole() {}

void writeStandardOutput(const QString& text)
{
    write(stdout, text);
}

void writeStandardError(const QString& text)
{
    write(stderr, text);
}

#endif

} // namespace platform
