#pragma once

#include "Crc32.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

class QIODevice;

// The backup file: a media header, then backup sets one after another.
//
//   media header  "SQSIMBAK" | u32 format version | 16-byte media family GUID
//   each set      "BSET" | u32 header length | header | u32 CRC-32 of the header
//                 | the files' bytes, in the header's order
//                 | u32 CRC-32 of the files' bytes
//
// Integers are little-endian. The header CRC lets the listing statements trust what they show
// without reading the whole set; the files' CRC guards the data that RESTORE writes. Two CRCs
// rather than one: BACKUP learns its finish time only after the files, and then rewrites the
// header (same length) in place.
namespace sqlsim::media {

inline constexpr quint32 formatVersion = 1;
inline constexpr qint64 mediaHeaderSize = 8 + 4 + 16;
inline constexpr qint64 setPrologueSize = 8; // marker + header length
inline constexpr qint64 crcSize = 4;

// Limits that keep a hostile file from making us allocate or loop without end.
inline constexpr qint64 maxHeaderSize = 1 << 20;
inline constexpr int maxFilesPerSet = 64;
inline constexpr int maxSets = 32767; // Position is a smallint
inline constexpr qint64 maxFileSize = qint64(1) << 48;

struct FileEntry
{
    QString logicalName;
    QString physicalName; // the path the file had when it was backed up
    char type = 'D';      // 'D' data, 'L' log
    qint64 size = 0;
};

struct SetHeader
{
    QString name;        // null when BACKUP gave none
    QString description; // null when BACKUP gave none
    QString databaseName;
    QString serverName;
    QString userName;
    QDateTime startDate;
    QDateTime finishDate;
    QDateTime databaseCreationDate;
    QUuid setGuid;
    QList<FileEntry> files;
    bool singleUser = false; // the database's user access when it was backed up
    bool copyOnly = false;   // BACKUP ... WITH COPY_ONLY

    qint64 payloadSize() const;
};

QByteArray encodeMediaHeader(const QUuid& familyGuid);
QByteArray encodeSetHeader(const SetHeader& header);
std::optional<SetHeader> decodeSetHeader(const QByteArray& bytes);
// "BSET", the header length, the header and its CRC: what precedes a set's file bytes.
QByteArray encodeSetPrologue(const QByteArray& headerBytes);
QByteArray encodeU32(quint32 value);
quint32 decodeU32(const char* bytes);

// Where one set lies in a media file.
struct SetLocation
{
    SetHeader header;
    int position = 0;          // from 1, as FILE = n counts
    qint64 offset = 0;         // of its marker
    qint64 payloadOffset = 0;  // of its first file's bytes
    qint64 checksumOffset = 0; // of its set CRC
    qint64 endOffset = 0;      // just past the set
};

struct Media
{
    QUuid familyGuid;
    QList<SetLocation> sets;
};

// Walks a media file: the media header and every set's header, skipping the files' bytes.
// nullopt when the device does not hold a well-formed media file (foreign, truncated, damaged
// header). The files' bytes are checked only when a set is restored.
std::optional<Media> readMedia(QIODevice& device);

} // namespace sqlsim::media
