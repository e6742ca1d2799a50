#include "PeVersion.h"

#include <QFile>
#include <QFileInfo>
#include <QStringView>
#include <QtEndian>
#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace platform {
namespace {

constexpr quint32 kHighBit = 0x80000000u;
constexpr quint32 kRtVersion = 16;
constexpr quint32 kVsVersionInfoId = 1;
constexpr qsizetype kResourceDirectoryIndex = 2;
// The root block's wLength is 16 bits: nothing past this belongs to the version resource.
constexpr quint64 kMaxVersionBytes = 0xFFFF;

// Random access to the image, whether it is already in memory or still in a file. Callers only ask
// for headers, one directory's entries or the version resource, so reads stay small.
class Source
{
public:
    virtual ~Source() = default;
    virtual quint64 size() const = 0;
    // Exactly `length` bytes at `offset`, or nullopt when the range leaves the image.
    virtual std::optional<QByteArray> read(quint64 offset, quint64 length) = 0;

protected:
    bool contains(quint64 offset, quint64 length) const
    {
        return offset <= size() && length <= size() - offset;
    }
};

class BytesSource final : public Source
{
public:
    explicit BytesSource(const QByteArray& bytes) : m_bytes(bytes) {}

    quint64 size() const override { return static_cast<quint64>(m_bytes.size()); }

    std::optional<QByteArray> read(quint64 offset, quint64 length) override
    {
        if (!contains(offset, length))
            return std::nullopt;
        return m_bytes.mid(static_cast<qsizetype>(offset), static_cast<qsizetype>(length));
    }

private:
    const QByteArray& m_bytes;
};

class FileSource final : public Source
{
public:
    explicit FileSource(QFile& file) : m_file(file), m_size(std::max<qint64>(file.size(), 0)) {}

    quint64 size() const override { return static_cast<quint64>(m_size); }

    std::optional<QByteArray> read(quint64 offset, quint64 length) override
    {
        if (!contains(offset, length) || !m_file.seek(static_cast<qint64>(offset)))
            return std::nullopt;
        QByteArray data = m_file.read(static_cast<qint64>(length));
        if (static_cast<quint64>(data.size()) != length)
            return std::nullopt; // the file shrank under us
        return data;
    }

private:
    QFile& m_file;
    qint64 m_size;
};

// Callers check their ranges; these checks keep a wrong one from reading past the buffer.
quint16 le16(const QByteArray& bytes, qsizetype at)
{
    if (at < 0 || at > bytes.size() - 2)
        return 0;
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 le32(const QByteArray& bytes, qsizetype at)
{
    if (at < 0 || at > bytes.size() - 4)
        return 0;
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

struct Section
{
    quint32 virtualAddress = 0;
    quint32 rawSize = 0;
    quint32 rawOffset = 0;
};

struct PeLayout
{
    std::vector<Section> sections;
    quint32 resourceRva = 0;

    // File offset of [rva, rva + length) when one section holds all of it in the file.
    std::optional<quint64> fileOffset(quint64 rva, quint64 length) const
    {
        for (const Section& section : sections) {
            if (rva < section.virtualAddress)
                continue;
            const quint64 delta = rva - section.virtualAddress;
            if (delta >= section.rawSize || length > section.rawSize - delta)
                continue;
            return quint64{section.rawOffset} + delta;
        }
        return std::nullopt;
    }
};

std::optional<QByteArray> readRva(Source& source, const PeLayout& pe, quint64 rva, quint64 length)
{
    const auto offset = pe.fileOffset(rva, length);
    if (!offset)
        return std::nullopt;
    return source.read(*offset, length);
}

std::optional<PeLayout> readLayout(Source& source)
{
    const auto dos = source.read(0, 0x40);
    if (!dos || !dos->startsWith("MZ"))
        return std::nullopt;
    const quint64 peOffset = le32(*dos, 0x3C);

    // Signature and COFF file header.
    const auto coff = source.read(peOffset, 24);
    if (!coff || !coff->startsWith(QByteArrayView("PE\0\0", 4)))
        return std::nullopt;
    const quint16 sectionCount = le16(*coff, 6);
    const quint16 optionalSize = le16(*coff, 20);

    const auto optional = source.read(peOffset + 24, optionalSize);
    if (!optional || optional->size() < 2)
        return std::nullopt;
    qsizetype directories = 0;
    switch (le16(*optional, 0)) {
    case 0x10B: // PE32
        directories = 96;
        break;
    case 0x20B: // PE32+
        directories = 112;
        break;
    default:
        return std::nullopt;
    }
    const qsizetype resourceEntry = directories + kResourceDirectoryIndex * 8;
    if (optional->size() < resourceEntry + 8 ||
        le32(*optional, directories - 4) <= quint32{kResourceDirectoryIndex})
        return std::nullopt;

    PeLayout pe;
    pe.resourceRva = le32(*optional, resourceEntry);
    if (pe.resourceRva == 0 || le32(*optional, resourceEntry + 4) == 0)
        return std::nullopt;

    const auto table =
        source.read(peOffset + 24 + optionalSize, quint64{sectionCount} * 40); // <= 2.6 MB
    if (!table)
        return std::nullopt;
    pe.sections.reserve(sectionCount);
    for (qsizetype at = 0; at < table->size(); at += 40)
        pe.sections.push_back(
            {le32(*table, at + 12), le32(*table, at + 16), le32(*table, at + 20)});
    return pe;
}

struct DirectoryEntry
{
    quint32 name = 0;   // an id, or with the high bit an offset to a name string
    quint32 target = 0; // with the high bit a subdirectory, else a data entry
    bool hasId(quint32 id) const { return (name & kHighBit) == 0 && name == id; }
    bool isDirectory() const { return (target & kHighBit) != 0; }
    quint32 offset() const { return target & ~kHighBit; }
};

// The entries of the resource directory at `offset` from the start of the resource section.
std::optional<std::vector<DirectoryEntry>> readDirectory(Source& source, const PeLayout& pe,
                                                         quint32 offset)
{
    const quint64 rva = quint64{pe.resourceRva} + offset;
    const auto header = readRva(source, pe, rva, 16);
    if (!header)
        return std::nullopt;
    const quint64 count = quint64{le16(*header, 12)} + le16(*header, 14); // <= 131070
    std::vector<DirectoryEntry> entries;
    if (count == 0)
        return entries;
    const auto raw = readRva(source, pe, rva + 16, count * 8);
    if (!raw)
        return std::nullopt;
    entries.reserve(count);
    for (qsizetype at = 0; at < raw->size(); at += 8)
        entries.push_back({le32(*raw, at), le32(*raw, at + 4)});
    return entries;
}

// The bytes of the RT_VERSION resource: type 16, then the VS_VERSION_INFO id when present (else the
// first name), then the first language. The tree has exactly these three levels, so a directory
// pointing back at an ancestor cannot make the walk loop.
std::optional<QByteArray> versionResource(Source& source)
{
    const auto pe = readLayout(source);
    if (!pe)
        return std::nullopt;

    const auto types = readDirectory(source, *pe, 0);
    if (!types)
        return std::nullopt;
    const auto type = std::find_if(types->begin(), types->end(), [](const DirectoryEntry& e) {
        return e.hasId(kRtVersion) && e.isDirectory();
    });
    if (type == types->end())
        return std::nullopt;

    const auto names = readDirectory(source, *pe, type->offset());
    if (!names || names->empty())
        return std::nullopt;
    auto name = std::find_if(names->begin(), names->end(), [](const DirectoryEntry& e) {
        return e.hasId(kVsVersionInfoId) && e.isDirectory();
    });
    if (name == names->end())
        name = names->begin();
    if (!name->isDirectory())
        return std::nullopt;

    const auto languages = readDirectory(source, *pe, name->offset());
    if (!languages || languages->empty() || languages->front().isDirectory())
        return std::nullopt;

    const auto data =
        readRva(source, *pe, quint64{pe->resourceRva} + languages->front().offset(), 16);
    if (!data)
        return std::nullopt;
    const quint32 dataRva = le32(*data, 0);
    const quint32 dataSize = le32(*data, 4);
    const auto offset = pe->fileOffset(dataRva, dataSize);
    if (!offset || *offset > source.size() || dataSize > source.size() - *offset)
        return std::nullopt;
    return source.read(*offset, std::min<quint64>(dataSize, kMaxVersionBytes));
}

// One block of VS_VERSIONINFO: wLength, wValueLength, wType, szKey, padding, Value, padding,
// Children. Offsets are into the resource, which has been cut to the root's wLength, so a block
// can never reach past the root even when its own lengths lie.
struct Block
{
    qsizetype end = 0;
    quint16 valueLength = 0; // words for text values (wType 1), bytes for binary ones
    qsizetype valueBytes = 0;
    QString key;
    qsizetype value = 0;
    qsizetype children = 0;
};

// Padding is counted from the start of the block, as Windows does.
qsizetype align4(qsizetype base, qsizetype at)
{
    return base + ((at - base + 3) & ~qsizetype{3});
}

std::optional<Block> blockAt(const QByteArray& resource, qsizetype at)
{
    if (at < 0 || at > resource.size() - 6)
        return std::nullopt;
    const quint16 length = le16(resource, at);
    if (length < 6 || length > resource.size() - at)
        return std::nullopt;

    Block block;
    block.end = at + length;
    block.valueLength = le16(resource, at + 2);
    const bool text = le16(resource, at + 4) == 1;
    qsizetype pos = at + 6;
    for (;;) {
        if (pos > block.end - 2)
            return std::nullopt; // key without its NUL
        const char16_t unit = le16(resource, pos);
        pos += 2;
        if (unit == 0)
            break;
        block.key.append(QChar(unit));
    }
    block.value = align4(at, pos);
    block.valueBytes = (text ? 2 : 1) * qsizetype{block.valueLength};
    block.children = align4(at, block.value + block.valueBytes);
    return block;
}

std::vector<Block> childrenOf(const QByteArray& resource, const Block& parent)
{
    std::vector<Block> children;
    // Every child is at least 6 bytes long, so the walk always moves forward.
    for (qsizetype at = parent.children; at < parent.end;) {
        auto child = blockAt(resource, at);
        if (!child)
            break;
        at = align4(at, child->end);
        children.push_back(std::move(*child));
    }
    return children;
}

// VerQueryValue's walk: empty path parts are skipped, keys compare without regard to case, and the
// first matching child wins.
std::optional<Block> query(const QByteArray& resource, QStringView path)
{
    auto block = blockAt(resource, 0);
    for (const QStringView part : path.split(u'\\', Qt::SkipEmptyParts)) {
        if (!block)
            break;
        const auto children = childrenOf(resource, *block);
        const auto match = std::find_if(children.begin(), children.end(), [part](const Block& c) {
            return part.compare(c.key, Qt::CaseInsensitive) == 0;
        });
        block = match == children.end() ? std::nullopt : std::optional<Block>(*match);
    }
    return block;
}

// Callers take a String's value as a NUL-terminated text; here it also stops at the block's end.
QString textValue(const QByteArray& resource, const Block& block)
{
    QString text;
    if (block.valueLength == 0)
        return text;
    for (qsizetype pos = block.value; pos <= block.end - 2; pos += 2) {
        const char16_t unit = le16(resource, pos);
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

QString translationOf(const QByteArray& resource)
{
    const auto var = query(resource, u"\\VarFileInfo\\Translation");
    if (!var || var->valueBytes < 4 || var->value > var->end - 4)
        return {};
    const quint16 language = le16(resource, var->value);
    const quint16 codePage = le16(resource, var->value + 2);
    return u"%1%2"_s.arg(language, 4, 16, QChar(u'0')).arg(codePage, 4, 16, QChar(u'0')).toUpper();
}

// The resource cut to its root block, or nullopt when even the root is unreadable.
std::optional<QByteArray> rootOf(std::optional<QByteArray> resource)
{
    if (!resource)
        return std::nullopt;
    const auto root = blockAt(*resource, 0);
    if (!root)
        return std::nullopt;
    resource->truncate(root->end);
    return resource;
}

std::optional<PeVersionInfo> infoOf(const std::optional<QByteArray>& resource)
{
    if (!resource)
        return std::nullopt;
    PeVersionInfo info;
    info.translation = translationOf(*resource);
    if (info.translation.isEmpty())
        return info;
    const auto table = query(*resource, u"\\StringFileInfo\\"_s + info.translation);
    if (!table)
        return info;
    for (const Block& string : childrenOf(*resource, *table)) {
        if (!info.strings.contains(string.key))
            info.strings.insert(string.key, textValue(*resource, string));
    }
    return info;
}

QString fileVersionOf(const std::optional<QByteArray>& resource)
{
    if (!resource)
        return {};
    // Without a translation table the path reads \StringFileInfo\\FileVersion, as on Windows.
    const QString path = u"\\StringFileInfo\\"_s + translationOf(*resource) + u"\\FileVersion"_s;
    const auto string = query(*resource, path);
    return string ? textValue(*resource, *string) : QString();
}

std::optional<QByteArray> resourceOfBytes(const QByteArray& image)
{
    BytesSource source(image);
    return rootOf(versionResource(source));
}

std::optional<QByteArray> resourceOfFile(const QString& path)
{
    // Only regular files: opening a FIFO would block, and a device may never end.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        return std::nullopt;
    FileSource source(file);
    return rootOf(versionResource(source));
}

} // namespace

QString peFileVersion(const QString& path)
{
    return fileVersionOf(resourceOfFile(path));
}

QString peFileVersionFromBytes(const QByteArray& image)
{
    return fileVersionOf(resourceOfBytes(image));
}

std::optional<PeVersionInfo> peVersionInfo(const QString& path)
{
    return infoOf(resourceOfFile(path));
}

std::optional<PeVersionInfo> peVersionInfoFromBytes(const QByteArray& image)
{
    return infoOf(resourceOfBytes(image));
}

} // namespace platform
