#include "TdsBuffer.h"

#include <QtEndian>

namespace sqlsim::tds {

void TdsWriter::u16(quint16 value)
{
    char b[2];
    qToLittleEndian(value, b);
    m_data.append(b, 2);
}

void TdsWriter::u16be(quint16 value)
{
    char b[2];
    qToBigEndian(value, b);
    m_data.append(b, 2);
}

void TdsWriter::u32(quint32 value)
{
    char b[4];
    qToLittleEndian(value, b);
    m_data.append(b, 4);
}

void TdsWriter::u64(quint64 value)
{
    char b[8];
    qToLittleEndian(value, b);
    m_data.append(b, 8);
}

void TdsWriter::utf16(const QString& text)
{
    const qsizetype start = m_data.size();
    m_data.resize(start + text.size() * 2);
    char* out = m_data.data() + start;
    const ushort* in = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian(static_cast<quint16>(in[i]), out + 2 * i);
}

void TdsWriter::bVarchar(const QString& text)
{
    const QString cut = text.left(255);
    u8(static_cast<quint8>(cut.size()));
    utf16(cut);
}

void TdsWriter::usVarchar(const QString& text)
{
    const QString cut = text.left(65535);
    u16(static_cast<quint16>(cut.size()));
    utf16(cut);
}

void TdsWriter::bVarbyte(const QByteArray& data)
{
    const QByteArray cut = data.left(255);
    u8(static_cast<quint8>(cut.size()));
    m_data.append(cut);
}

void TdsWriter::patchU16(qsizetype at, quint16 value)
{
    qToLittleEndian(value, m_data.data() + at);
}

void TdsReader::need(qsizetype count) const
{
    if (count < 0 || count > remaining())
        throw ProtocolError("message shorter than its contents say");
}

quint8 TdsReader::u8()
{
    need(1);
    return static_cast<quint8>(m_data[m_pos++]);
}

quint8 TdsReader::peekU8() const
{
    need(1);
    return static_cast<quint8>(m_data[m_pos]);
}

quint16 TdsReader::u16()
{
    need(2);
    const auto value = qFromLittleEndian<quint16>(m_data.constData() + m_pos);
    m_pos += 2;
    return value;
}

quint16 TdsReader::u16be()
{
    need(2);
    const auto value = qFromBigEndian<quint16>(m_data.constData() + m_pos);
    m_pos += 2;
    return value;
}

quint32 TdsReader::u32()
{
    need(4);
    const auto value = qFromLittleEndian<quint32>(m_data.constData() + m_pos);
    m_pos += 4;
    return value;
}

quint64 TdsReader::u64()
{
    need(8);
    const auto value = qFromLittleEndian<quint64>(m_data.constData() + m_pos);
    m_pos += 8;
    return value;
}

void TdsReader::skip(qsizetype count)
{
    need(count);
    m_pos += count;
}

QByteArray TdsReader::bytes(qsizetype count)
{
    need(count);
    QByteArray result = m_data.mid(m_pos, count);
    m_pos += count;
    return result;
}

QString TdsReader::utf16(qsizetype count)
{
    need(count * 2);
    QString result(count, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    for (qsizetype i = 0; i < count; ++i)
        out[i] = qFromLittleEndian<quint16>(m_data.constData() + m_pos + 2 * i);
    m_pos += count * 2;
    return result;
}

} // namespace sqlsim::tds
