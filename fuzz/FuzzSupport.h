#pragma once

// What every fuzz target shares: a QCoreApplication (the readers ask for the program's folder), the
// input as bytes or text, and a check that stops the run with the failing input.

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    // Warnings about a missing runtime folder and the like are noise here; a fatal message is not.
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "qFatal: %s\n", qPrintable(message));
        std::abort();
    }
}

inline void initApplication(int* argc, char*** argv)
{
    qInstallMessageHandler(quietMessages);
    static QCoreApplication app(*argc, *argv);
}

inline QByteArray bytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// UTF-8, unless the first byte is 0xFF: then the rest are UTF-16LE code units as they come, so
// lone surrogates and NULs reach the reader too.
inline QString text(const QByteArray& input)
{
    if (!input.startsWith('\xFF'))
        return QString::fromUtf8(input);
    QString result;
    for (qsizetype i = 1; i + 1 < input.size(); i += 2) {
        const auto low = static_cast<unsigned char>(input[i]);
        const auto high = static_cast<unsigned char>(input[i + 1]);
        result.append(QChar(static_cast<char16_t>(low | (high << 8))));
    }
    return result;
}

inline QString text(const std::uint8_t* data, std::size_t size)
{
    return text(bytes(data, size));
}

// The input written to a file of this name in a folder of the run's own, for readers that take a
// path; gives the path.
inline QString writeInputFile(const QString& name, const QByteArray& input)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
        std::abort();
    return path;
}

[[noreturn]] inline void fail(const char* file, int line, const char* condition,
                              const QString& detail)
{
    std::fprintf(stderr, "%s:%d: broken promise: %s\n  %s\n", file, line, condition,
                 qPrintable(detail));
    std::abort();
}

} // namespace fuzz

// A property the reader promises; abort() makes libFuzzer keep the input as a crash.
#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fuzz::fail(__FILE__, __LINE__, #condition, (detail));                                  \
    } while (false)

#define FUZZ_INIT                                                                                  \
    extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)                                   \
    {                                                                                              \
        fuzz::initApplication(argc, argv);                                                         \
        return 0;                                                                                  \
    }
