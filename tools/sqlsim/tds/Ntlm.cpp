#include "Ntlm.h"

#include "TdsBuffer.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

namespace sqlsim::tds::ntlm {

namespace {

const QByteArray signature("NTLMSSP\0", 8);

constexpr quint32 negotiateUnicode = 0x00000001;
constexpr quint32 requestTarget = 0x00000004;
constexpr quint32 negotiateNtlm = 0x00000200;
constexpr quint32 alwaysSign = 0x00008000;
constexpr quint32 targetTypeServer = 0x00020000;
constexpr quint32 extendedSessionSecurity = 0x00080000;
constexpr quint32 negotiateTargetInfo = 0x00800000;

QByteArray utf16(const QString& text)
{
    TdsWriter out;
    out.utf16(text);
    return out.data();
}

QByteArray hmacMd5(const QByteArray& key, const QByteArray& message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Md5);
}

} // namespace

bool isNegotiate(const QByteArray& message)
{
    if (message.size() < 16 || !message.startsWith(signature))
        return false;
    TdsReader in(message, 8);
    return in.u32() == 1;
}

Challenge makeChallenge(const QString& serverName)
{
    Challenge result;
    result.serverChallenge.resize(8);
    const quint64 random = QRandomGenerator::system()->generate64();
    for (int i = 0; i < 8; ++i)
        result.serverChallenge[i] = static_cast<char>(random >> (8 * i));

    const QByteArray target = utf16(serverName.toUpper());
    TdsWriter info; // AV pairs: NetBIOS domain and computer name, end of list
    info.u16(2);
    info.u16(static_cast<quint16>(target.size()));
    info.bytes(target);
    info.u16(1);
    info.u16(static_cast<quint16>(target.size()));
    info.bytes(target);
    info.u16(0);
    info.u16(0);

    constexpr quint32 headerSize = 48;
    TdsWriter out;
    out.bytes(signature);
    out.u32(2);
    out.u16(static_cast<quint16>(target.size()));
    out.u16(static_cast<quint16>(target.size()));
    out.u32(headerSize);
    out.u32(negotiateUnicode | requestTarget | negotiateNtlm | alwaysSign | targetTypeServer |
            extendedSessionSecurity | negotiateTargetInfo);
    out.bytes(result.serverChallenge);
    out.zeros(8);
    out.u16(static_cast<quint16>(info.size()));
    out.u16(static_cast<quint16>(info.size()));
    out.u32(headerSize + static_cast<quint32>(target.size()));
    out.bytes(target);
    out.bytes(info.data());
    result.message = out.data();
    return result;
}

std::optional<Authenticate> parseAuthenticate(const QByteArray& message)
{
    try {
        if (!message.startsWith(signature))
            return std::nullopt;
        TdsReader in(message, 8);
        if (in.u32() != 3)
            return std::nullopt;
        const auto field = [&] {
            const quint16 length = in.u16();
            in.u16(); // allocated length
            const quint32 offset = in.u32();
            if (qint64(offset) + length > message.size())
                throw ProtocolError("NTLM field outside the message");
            return message.mid(offset, length);
        };
        Authenticate result;
        result.lmResponse = field();
        result.ntResponse = field();
        const QByteArray domain = field();
        const QByteArray user = field();
        const QByteArray workstation = field();
        field(); // session key
        const bool unicode = (in.u32() & negotiateUnicode) != 0;
        const auto text = [&](const QByteArray& bytes) {
            if (!unicode)
                return QString::fromLatin1(bytes);
            TdsReader reader(bytes);
            return reader.utf16(bytes.size() / 2);
        };
        result.domain = text(domain);
        result.user = text(user);
        result.workstation = text(workstation);
        return result;
    } catch (const ProtocolError&) {
        return std::nullopt;
    }
}

bool verify(const Authenticate& answer, const QByteArray& serverChallenge, const QString& password)
{
    const QByteArray ntHash = QCryptographicHash::hash(utf16(password), QCryptographicHash::Md4);
    const QByteArray key = hmacMd5(ntHash, utf16(answer.user.toUpper() + answer.domain));
    if (answer.ntResponse.size() > 24) {
        const QByteArray proof = hmacMd5(key, serverChallenge + answer.ntResponse.mid(16));
        return proof == answer.ntResponse.left(16);
    }
    if (answer.ntResponse.isEmpty() && answer.lmResponse.size() == 24) {
        const QByteArray proof = hmacMd5(key, serverChallenge + answer.lmResponse.mid(16));
        return proof == answer.lmResponse.left(16);
    }
    return false; // NTLMv1 answers are refused: they would need DES
}

} // namespace sqlsim::tds::ntlm
