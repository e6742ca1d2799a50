#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>

// Little-endian readers and writers for TDS payloads. Reads are bounds-checked: a short or
// malformed message throws ProtocolError, which closes the connection that sent it.
namespace sqlsim::tds {

class ProtocolError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TdsWriter
{
public:
    QByteArray& data() { return m_data; }
    qsizetype size() const { return m_data.size(); }

    void u8(quint8 value) { m_data.append(static_cast<char>(value)); }
    void u16(quint16 value);
    void u16be(quint16 value);
    void u32(quint32 value);
    void i32(qint32 value) { u32(static_cast<quint32>(value)); }
    void u64(quint64 value);
    void bytes(const char* data, qsizetype size) { m_data.append(data, size); }
    void bytes(const QByteArray& data) { m_data.append(data); }
    void zeros(qsizetype count) { m_data.append(count, '\0'); }
    // UTF-16LE code units, no length.
    void utf16(const QString& text);
    // One-byte character count, then UTF-16LE (cut at 255 characters).
    void bVarchar(const QString& text);
    // Two-byte character count, then UTF-16LE.
    void usVarchar(const QString& text);
    // One-byte length, then the bytes.
    void bVarbyte(const QByteArray& data);
    void patchU16(qsizetype at, quint16 value);

private:
    QByteArray m_data;
};

class TdsReader
{
public:
    explicit TdsReader(const QByteArray& data, qsizetype pos = 0) : m_data(data), m_pos(pos) {}

    qsizetype pos() const { return m_pos; }
    qsizetype remaining() const { return m_data.size() - m_pos; }
    bool atEnd() const { return m_pos >= m_data.size(); }

    quint8 u8();
    quint8 peekU8() const;
    quint16 u16();
    quint16 u16be();
    quint32 u32();
    qint32 i32() { return static_cast<qint32>(u32()); }
    quint64 u64();
    void skip(qsizetype count);
    QByteArray bytes(qsizetype count);
    // `count` UTF-16LE code units.
    QString utf16(qsizetype count);
    QString bVarchar() { return utf16(u8()); }
    QString usVarchar() { return utf16(u16()); }

private:
    void need(qsizetype count) const;

    const QByteArray& m_data;
    qsizetype m_pos;
};

} // namespace sqlsim::tds
