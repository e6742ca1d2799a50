#include "ExportText.h"

#include "MyException.h"
#include "TextDecoding.h"

#include <QDateTime>
#include <QDir>
#include <QFileDevice>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Blocks of this size keep a million-row export to a few hundred writes.
constexpr qsizetype kBlockBytes = 256 * 1024;

// UTF-16 unit to Windows-1251 byte, '?' where the code page has none. Derived from the platform's
// decoder so that the export and every other Windows-1251 text agree byte for byte.
struct Windows1251Table
{
    std::array<char, 0x10000> bytes{};

    Windows1251Table()
    {
        bytes.fill('?');
        QByteArray all(256, Qt::Uninitialized);
        for (int b = 0; b < 256; ++b)
            all[b] = static_cast<char>(b);
        const QString chars = platform::decodeWindows1251(all);
        for (int b = 0; b < 256; ++b)
            bytes[chars.at(b).unicode()] = static_cast<char>(b);
    }
};

const Windows1251Table& windows1251()
{
    static const Windows1251Table table;
    return table;
}

// Appends text to out in Windows-1251 without allocating per character: a surrogate pair is one
// character outside the code page, so one '?'. Counts those characters into replaced (a compare
// and an add, no branch: the loop runs for every character of a million rows).
void appendWindows1251(QByteArray& out, QStringView text, const Windows1251Table& table,
                       qint64& replaced)
{
    const qsizetype start = out.size();
    out.resize(start + text.size());
    char* next = out.data() + start;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        const char byte = table.bytes[c.unicode()];
        replaced += byte == '?' && c != u'?';
        *next++ = byte;
    }
    out.resize(next - out.constData());
}

void appendLine(QString& text, RecordFields fields)
{
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            text += u'\t';
        text += fields[i];
    }
    text += u"\r\n"_s;
}

void appendLine(QByteArray& bytes, RecordFields fields, const Windows1251Table& table,
                qint64& replaced)
{
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            bytes += '\t';
        appendWindows1251(bytes, fields[i], table, replaced);
    }
    bytes += "\r\n";
}

// A device may take fewer bytes than offered; only a refusal (no progress) is a failure.
bool writeAll(QIODevice& out, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 n = out.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<qsizetype>(n);
    }
    return true;
}

QString writeFailure(const QIODevice& out)
{
    const auto* file = qobject_cast<const QFileDevice*>(&out);
    if (file != nullptr && !file->fileName().isEmpty())
        return u"Не удалось записать файл \"%1\": %2"_s.arg(
            QDir::toNativeSeparators(file->fileName()), out.errorString());
    return u"Не удалось записать данные: %1"_s.arg(out.errorString());
}

std::vector<QStringView> viewsOf(const QStringList& texts)
{
    return {texts.cbegin(), texts.cend()};
}

// An export with nothing to read must fail rather than hand over an empty text.
void requireResult(const ResultRows& rows)
{
    if (!rows.isOpen())
        throw Error(u"Нет результата запроса: выполните запрос."_s);
}

} // namespace

QString ExportText(ResultRows& rows)
{
    requireResult(rows);
    QString text;
    const QStringList names = rows.fieldNames();
    appendLine(text, viewsOf(names));
    rows.forEachRecord([&text](RecordFields fields) {
        appendLine(text, fields);
        return true;
    });
    return text;
}

qint64 WriteExportFile(ResultRows& rows, QIODevice& out)
{
    requireResult(rows);
    const Windows1251Table& table = windows1251();
    qint64 replaced = 0;
    QByteArray block;
    block.reserve(kBlockBytes + 64 * 1024);
    QString failure;
    const auto writeBlock = [&] {
        if (!writeAll(out, block))
            failure = writeFailure(out);
        block.resize(0);
        return failure.isEmpty();
    };

    const QStringList names = rows.fieldNames();
    appendLine(block, viewsOf(names), table, replaced);
    // After a refusal the rest of the result is not worth reading: the walk stops there.
    rows.forEachRecord([&](RecordFields fields) {
        if (!failure.isEmpty())
            return false;
        appendLine(block, fields, table, replaced);
        return block.size() < kBlockBytes || writeBlock();
    });
    if (failure.isEmpty())
        writeBlock();
    // A file keeps the last bytes in its own buffer: a full disk shows only when they go out.
    if (auto* file = qobject_cast<QFileDevice*>(&out); failure.isEmpty() && file && !file->flush())
        failure = writeFailure(out);
    if (!failure.isEmpty())
        throw Error(failure);
    return replaced;
}
