#include "BackupMedia.h"

#include <QIODevice>
#include <limits>

namespace sqlsim::media {
namespace {

constexpr char mediaMagic[8] = {'S', 'Q', 'S', 'I', 'M', 'B', 'A', 'K'};
constexpr char setMarker[4] = {'B', 'S', 'E', 'T'};
// 2 adds a flags byte at the end (1: the database was single-user); 1 is still read.
constexpr quint16 headerVersion = 2;
constexpr quint16 headerVersionWithoutFlags = 1;
constexpr quint8 singleUserFlag = 0x01;
constexpr quint8 copyOnlyFlag = 0x02;
constexpr quint32 nullString = 0xFFFFFFFFu;
constexpr quint32 maxStringBytes = 64 * 1024;
constexpr qint64 noDate = std::numeric_limits<qint64>::min();

class Writer
{
public:
    void u8(quint8 v) { m_bytes.append(static_cast<char>(v)); }
    void u16(quint16 v)
    {
        u8(static_cast<quint8>(v & 0xFFu));
        u8(static_cast<quint8>(v >> 8));
    }
    void u32(quint32 v)
    {
        u16(static_cast<quint16>(v & 0xFFFFu));
        u16(static_cast<quint16>(v >> 16));
    }
    void u64(quint64 v)
    {
        u32(static_cast<quint32>(v & 0xFFFFFFFFu));
        u32(static_cast<quint32>(v >> 32));
    }
    void i64(qint64 v) { u64(static_cast<quint64>(v)); }
    void raw(const QByteArray& bytes) { m_bytes.append(bytes); }
    void string(const QString& text)
    {
        if (text.isNull()) {
            u32(nullString);
            return;
        }
        QByteArray utf8 = text.toUtf8();
        if (utf8.size() > qsizetype(maxStringBytes))
            utf8.truncate(qsizetype(maxStringBytes));
        u32(static_cast<quint32>(utf8.size()));
        raw(utf8);
    }
    void date(const QDateTime& when) { i64(when.isValid() ? when.toMSecsSinceEpoch() : noDate); }

    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Reads with bounds checks; after the first overrun every read yields zero and ok() is false.
class Reader
{
public:
    explicit Reader(const QByteArray& bytes) : m_bytes(bytes) {}

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_pos == m_bytes.size(); }

    quint8 u8()
    {
        if (!take(1))
            return 0;
        return static_cast<quint8>(m_bytes[m_pos - 1]);
    }
    quint16 u16()
    {
        const quint16 lo = u8();
        return static_cast<quint16>(lo | (quint16(u8()) << 8));
    }
    quint32 u32()
    {
        const quint32 lo = u16();
        return lo | (quint32(u16()) << 16);
    }
    quint64 u64()
    {
        const quint64 lo = u32();
        return lo | (quint64(u32()) << 32);
    }
    qint64 i64() { return static_cast<qint64>(u64()); }
    QByteArray raw(qsizetype size)
    {
        if (!take(size))
            return {};
        return m_bytes.mid(m_pos - size, size);
    }
    QString string()
    {
        const quint32 size = u32();
        if (size == nullString)
            return {};
        if (size > maxStringBytes) {
            m_ok = false;
            return {};
        }
        if (size == 0)
            return QStringLiteral(""); // empty, not null
        const QByteArray utf8 = raw(qsizetype(size));
        return QString::fromUtf8(utf8);
    }
    QDateTime date()
    {
        const qint64 ms = i64();
        if (ms == noDate)
            return {};
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    }

private:
    bool take(qsizetype size)
    {
        if (!m_ok || size < 0 || m_bytes.size() - m_pos < size) {
            m_ok = false;
            return false;
        }
        m_pos += size;
        return true;
    }

    const QByteArray& m_bytes;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

QByteArray uuidBytes(const QUuid& id)
{
    return id.toRfc4122();
}

// Reads exactly size bytes at offset, or nothing.
std::optional<QByteArray> readAt(QIODevice& device, qint64 offset, qint64 size)
{
    if (!device.seek(offset))
        return std::nullopt;
    QByteArray bytes = device.read(size);
    if (bytes.size() != size)
        return std::nullopt;
    return bytes;
}

} // namespace

qint64 SetHeader::payloadSize() const
{
    qint64 total = 0;
    for (const FileEntry& file : files)
        total += file.size;
    return total;
}

QByteArray encodeU32(quint32 value)
{
    Writer w;
    w.u32(value);
    return w.bytes();
}

quint32 decodeU32(const char* bytes)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<quint8>(bytes[i]);
    return v;
}

QByteArray encodeMediaHeader(const QUuid& familyGuid)
{
    Writer w;
    w.raw(QByteArray(mediaMagic, sizeof mediaMagic));
    w.u32(formatVersion);
    w.raw(uuidBytes(familyGuid));
    return w.bytes();
}

QByteArray encodeSetHeader(const SetHeader& header)
{
    Writer w;
    w.u16(headerVersion);
    w.string(header.name);
    w.string(header.description);
    w.string(header.databaseName);
    w.string(header.serverName);
    w.string(header.userName);
    w.date(header.startDate);
    w.date(header.finishDate);
    w.date(header.databaseCreationDate);
    w.raw(uuidBytes(header.setGuid));
    w.u32(static_cast<quint32>(header.files.size()));
    for (const FileEntry& file : header.files) {
        w.string(file.logicalName);
        w.string(file.physicalName);
        w.u8(static_cast<quint8>(file.type));
        w.i64(file.size);
    }
    w.u8((header.singleUser ? singleUserFlag : 0) | (header.copyOnly ? copyOnlyFlag : 0));
    return w.bytes();
}

std::optional<SetHeader> decodeSetHeader(const QByteArray& bytes)
{
    Reader r(bytes);
    const quint16 version = r.u16();
    if (version != headerVersion && version != headerVersionWithoutFlags)
        return std::nullopt;
    SetHeader header;
    header.name = r.string();
    header.description = r.string();
    header.databaseName = r.string();
    header.serverName = r.string();
    header.userName = r.string();
    header.startDate = r.date();
    header.finishDate = r.date();
    header.databaseCreationDate = r.date();
    header.setGuid = QUuid::fromRfc4122(r.raw(16));
    const quint32 count = r.u32();
    if (!r.ok() || count > quint32(maxFilesPerSet))
        return std::nullopt;
    for (quint32 i = 0; i < count; ++i) {
        FileEntry file;
        file.logicalName = r.string();
        file.physicalName = r.string();
        file.type = static_cast<char>(r.u8());
        file.size = r.i64();
        if (!r.ok() || (file.type != 'D' && file.type != 'L') || file.size < 0 ||
            file.size > maxFileSize)
            return std::nullopt;
        header.files.append(file);
    }
    if (version == headerVersion) {
        const quint8 flags = r.u8();
        header.singleUser = (flags & singleUserFlag) != 0;
        header.copyOnly = (flags & copyOnlyFlag) != 0;
    }
    if (!r.ok() || !r.atEnd() || header.databaseName.isNull())
        return std::nullopt;
    return header;
}

QByteArray encodeSetPrologue(const QByteArray& headerBytes)
{
    Writer w;
    w.raw(QByteArray(setMarker, sizeof setMarker));
    w.u32(static_cast<quint32>(headerBytes.size()));
    w.raw(headerBytes);
    w.u32(Crc32::of(headerBytes));
    return w.bytes();
}

std::optional<Media> readMedia(QIODevice& device)
{
    const qint64 size = device.size();
    const std::optional<QByteArray> start = readAt(device, 0, mediaHeaderSize);
    if (!start || !start->startsWith(QByteArray(mediaMagic, sizeof mediaMagic)) ||
        decodeU32(start->constData() + 8) != formatVersion)
        return std::nullopt;
    Media media;
    media.familyGuid = QUuid::fromRfc4122(start->mid(12, 16));

    qint64 pos = mediaHeaderSize;
    while (pos < size) {
        if (media.sets.size() >= maxSets)
            return std::nullopt;
        const std::optional<QByteArray> prologue = readAt(device, pos, setPrologueSize);
        if (!prologue || !prologue->startsWith(QByteArray(setMarker, sizeof setMarker)))
            return std::nullopt;
        const qint64 headerSize = decodeU32(prologue->constData() + 4);
        const qint64 remaining = size - pos - setPrologueSize;
        if (headerSize > maxHeaderSize || headerSize + crcSize > remaining)
            return std::nullopt;
        const std::optional<QByteArray> headerBytes =
            readAt(device, pos + setPrologueSize, headerSize);
        const std::optional<QByteArray> headerCrc =
            readAt(device, pos + setPrologueSize + headerSize, crcSize);
        if (!headerBytes || !headerCrc ||
            decodeU32(headerCrc->constData()) != Crc32::of(*headerBytes))
            return std::nullopt;
        std::optional<SetHeader> header = decodeSetHeader(*headerBytes);
        if (!header)
            return std::nullopt;

        SetLocation set;
        set.position = int(media.sets.size()) + 1;
        set.offset = pos;
        set.payloadOffset = pos + setPrologueSize + headerSize + crcSize;
        // Sizes are bounded per file, so the sum cannot overflow; it must fit what is left.
        const qint64 payload = header->payloadSize();
        if (payload > size - set.payloadOffset - crcSize)
            return std::nullopt;
        set.checksumOffset = set.payloadOffset + payload;
        set.endOffset = set.checksumOffset + crcSize;
        set.header = std::move(*header);
        media.sets.append(std::move(set));
        pos = media.sets.last().endOffset;
    }
    return media;
}

} // namespace sqlsim::media
