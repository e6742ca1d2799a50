#include "Crc32.h"

#include <array>

namespace sqlsim {
namespace {

constexpr std::array<quint32, 256> makeTable()
{
    std::array<quint32, 256> table{};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<quint32, 256> table = makeTable();

} // namespace

void Crc32::update(const char* data, qint64 size)
{
    quint32 c = m_state;
    for (qint64 i = 0; i < size; ++i)
        c = table[(c ^ static_cast<quint8>(data[i])) & 0xFFu] ^ (c >> 8);
    m_state = c;
}

} // namespace sqlsim
