#include "TextDecoding.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <array>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace platform {

namespace {

// Windows-1251 bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F. The unassigned byte 0x98 maps to
// U+0098, as the system converters do, so every byte round-trips.
constexpr std::array<char16_t, 64> kHighHalf = {
    u'\u0402', u'\u0403', u'\u201A', u'\u0453', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u20AC', u'\u2030', u'\u0409', u'\u2039', u'\u040A', u'\u040C', u'\u040B', u'\u040F',
    u'\u0452', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u0098', u'\u2122', u'\u0459', u'\u203A', u'\u045A', u'\u045C', u'\u045B', u'\u045F',
    u'\u00A0', u'\u040E', u'\u045E', u'\u0408', u'\u00A4', u'\u0490', u'\u00A6', u'\u00A7',
    u'\u0401', u'\u00A9', u'\u0404', u'\u00AB', u'\u00AC', u'\u00AD', u'\u00AE', u'\u0407',
    u'\u00B0', u'\u00B1', u'\u0406', u'\u0456', u'\u0491', u'\u00B5', u'\u00B6', u'\u00B7',
    u'\u0451', u'\u2116', u'\u0454', u'\u00BB', u'\u0458', u'\u0405', u'\u0455', u'\u0457',
};

char encodeChar(char16_t c)
{
    if (c < 0x80)
        return static_cast<char>(c);
    if (c >= 0x0410 && c <= 0x044F)
        return static_cast<char>(0xC0 + (c - 0x0410));
    for (std::size_t i = 0; i < kHighHalf.size(); ++i) {
        if (kHighHalf[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

QString decodeWindows1251(const QByteArray& bytes)
{
    QString result(bytes.size(), Qt::Uninitialized);
    QChar* out = result.data();
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        char16_t c = b;
        if (b >= 0xC0)
            c = static_cast<char16_t>(0x0410 + (b - 0xC0));
        else if (b >= 0x80)
            c = kHighHalf[b - 0x80u];
        *out++ = QChar(c);
    }
    return result;
}

QByteArray encodeWindows1251(const QString& text)
{
    QByteArray result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        // A surrogate pair is one character outside the code page: one '?'.
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        result.append(encodeChar(c.unicode()));
    }
    return result;
}

QString decodeConfigText(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        return decoder(QByteArrayView(bytes).sliced(2));
    }
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        return decoder(QByteArrayView(bytes).sliced(3));
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return decodeWindows1251(bytes);
}

std::optional<QByteArray> readConfigFile(const QString& path, qint64 maxBytes)
{
    // Only regular files: opening a pipe could block forever, a device could never end.
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || info.size() > maxBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        return std::nullopt;
    QByteArray bytes = file.readAll();
    // The file may have grown since it was measured.
    if (bytes.size() > maxBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

QStringView trimBlanks(QStringView text)
{
    const auto isBlank = [](QChar c) {
        return c == u' ' || c == u'\t';
    };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

#ifdef Q_OS_WIN

// Qt's converters know no Windows code pages without ICU; Windows itself does.
std::optional<bool> fitsCodePage(const QString& text, int codePage)
{
    const auto page = static_cast<UINT>(codePage);
    if (codePage <= 0 || !IsValidCodePage(page))
        return std::nullopt;
    if (text.isEmpty())
        return true;
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    const int length = static_cast<int>(text.size());
    // No best fit: "é" must not quietly become "e" in a code page without it.
    BOOL defaultUsed = FALSE;
    const int size = WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0,
                                         nullptr, &defaultUsed);
    if (size <= 0 || defaultUsed)
        return size > 0 ? std::optional<bool>(false) : std::nullopt;
    QByteArray bytes(size, Qt::Uninitialized);
    WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide, length, bytes.data(), size, nullptr,
                        &defaultUsed);
    std::wstring back(static_cast<size_t>(length) + 1, L'\0');
    const int backLength = MultiByteToWideChar(page, 0, bytes.constData(), size, back.data(),
                                               static_cast<int>(back.size()));
    return !defaultUsed && backLength == length &&
           QString::fromWCharArray(back.data(), backLength) == text;
}

#else

std::optional<bool> fitsCodePage(const QString& text, int codePage)
{
    if (codePage <= 0)
        return std::nullopt;
    const QByteArray name = "windows-" + QByteArray::number(codePage);
    QStringEncoder encoder(name.constData());
    QStringDecoder decoder(name.constData());
    if (!encoder.isValid() || !decoder.isValid())
        return std::nullopt;
    const QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return false;
    const QString back = decoder.decode(bytes);
    return !decoder.hasError() && back == text;
}

#endif

} // namespace platform
