#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace sqlsim {

// CRC-32 (IEEE 802.3, as zip and PNG use it), fed in pieces.
class Crc32
{
public:
    void update(const char* data, qint64 size);
    void update(const QByteArray& data) { update(data.constData(), data.size()); }
    quint32 value() const { return ~m_state; }

    static quint32 of(const QByteArray& data)
    {
        Crc32 crc;
        crc.update(data);
        return crc.value();
    }

private:
    quint32 m_state = 0xFFFFFFFFu;
};

} // namespace sqlsim
