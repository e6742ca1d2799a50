#include "KerberosCheck.h"

#include <QStringList>

using namespace Qt::StringLiterals;

#if !defined(Q_OS_WIN)

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <sys/socket.h>

namespace db {

namespace {

// The few GSS-API declarations needed (RFC 2744). The library is loaded when a Kerberos login has
// failed, so that the program needs no Kerberos headers to build and no Kerberos to run.
using OM_uint32 = std::uint32_t;
struct GssBuffer
{
    size_t length;
    void* value;
};
struct GssOid
{
    OM_uint32 length;
    void* elements;
};
using GssName = void*;
using GssContext = void*;

constexpr OM_uint32 gssMutualFlag = 2;
constexpr OM_uint32 gssReplayFlag = 4;
constexpr OM_uint32 gssIntegFlag = 32;
constexpr int gssMechCode = 2;
constexpr OM_uint32 gssErrorMask = 0xffff0000u;
constexpr OM_uint32 gssNoCred = 7u << 16;
constexpr OM_uint32 gssCredentialsExpired = 11u << 16;

// MIT Kerberos error codes (krb5_err.et, base -1765328384).
constexpr auto krb5Code = [](int offset) {
    return static_cast<OM_uint32>(-1765328384 + offset);
};
const OM_uint32 principalUnknown = krb5Code(7);   // KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN
const OM_uint32 ticketExpired = krb5Code(32);     // KRB5KRB_AP_ERR_TKT_EXPIRED
const OM_uint32 cacheNotFound = krb5Code(141);    // KRB5_CC_NOTFOUND
const OM_uint32 kdcUnreachable = krb5Code(156);   // KRB5_KDC_UNREACH
const OM_uint32 realmUnknown = krb5Code(154);     // KRB5_REALM_UNKNOWN
const OM_uint32 kdcNotResolved = krb5Code(220);   // KRB5_REALM_CANT_RESOLVE
const OM_uint32 cacheFileMissing = krb5Code(195); // KRB5_FCC_NOFILE
const OM_uint32 hostRealmUnknown = krb5Code(217); // KRB5_ERR_HOST_REALM_UNKNOWN
const OM_uint32 noDefaultRealm = krb5Code(224);   // KRB5_CONFIG_NODEFREALM
const OM_uint32 numericHostRealm = krb5Code(243); // KRB5_ERR_NUMERIC_REALM
// KG_EMPTY_CCACHE (gssapi_err_krb5.et, base 39756032): "No Kerberos credentials available".
constexpr OM_uint32 emptyCache = 39756032u + 12;

struct Gss
{
    using ImportName = OM_uint32 (*)(OM_uint32*, GssBuffer*, GssOid*, GssName*);
    using InitSecContext = OM_uint32 (*)(OM_uint32*, void*, GssContext*, GssName, GssOid*,
                                         OM_uint32, OM_uint32, void*, GssBuffer*, GssOid**,
                                         GssBuffer*, OM_uint32*, OM_uint32*);
    using DisplayStatus = OM_uint32 (*)(OM_uint32*, OM_uint32, int, GssOid*, OM_uint32*,
                                        GssBuffer*);
    using ReleaseBuffer = OM_uint32 (*)(OM_uint32*, GssBuffer*);
    using ReleaseName = OM_uint32 (*)(OM_uint32*, GssName*);
    using DeleteSecContext = OM_uint32 (*)(OM_uint32*, GssContext*, GssBuffer*);

    void* library = nullptr;
    ImportName importName = nullptr;
    InitSecContext initSecContext = nullptr;
    DisplayStatus displayStatus = nullptr;
    ReleaseBuffer releaseBuffer = nullptr;
    ReleaseName releaseName = nullptr;
    DeleteSecContext deleteSecContext = nullptr;

    Gss()
    {
        library = ::dlopen("libgssapi_krb5.so.2", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            return;
        importName = reinterpret_cast<ImportName>(::dlsym(library, "gss_import_name"));
        initSecContext = reinterpret_cast<InitSecContext>(::dlsym(library, "gss_init_sec_context"));
        displayStatus = reinterpret_cast<DisplayStatus>(::dlsym(library, "gss_display_status"));
        releaseBuffer = reinterpret_cast<ReleaseBuffer>(::dlsym(library, "gss_release_buffer"));
        releaseName = reinterpret_cast<ReleaseName>(::dlsym(library, "gss_release_name"));
        deleteSecContext =
            reinterpret_cast<DeleteSecContext>(::dlsym(library, "gss_delete_sec_context"));
    }
    ~Gss()
    {
        if (library != nullptr)
            ::dlclose(library);
    }
    Gss(const Gss&) = delete;
    Gss& operator=(const Gss&) = delete;
    bool usable() const
    {
        return importName && initSecContext && displayStatus && releaseBuffer && releaseName &&
               deleteSecContext;
    }

    QString mechanismText(OM_uint32 minor) const
    {
        QStringList parts;
        OM_uint32 context = 0;
        do {
            OM_uint32 ignored = 0;
            GssBuffer text{0, nullptr};
            if (displayStatus(&ignored, minor, gssMechCode, nullptr, &context, &text) &
                gssErrorMask)
                break;
            parts.append(QString::fromLocal8Bit(static_cast<const char*>(text.value),
                                                static_cast<qsizetype>(text.length)));
            releaseBuffer(&ignored, &text);
        } while (context != 0);
        return parts.join(u"; "_s);
    }
};

} // namespace

QString kerberosServiceName(const QString& host, int port, const QString& spn)
{
    if (!spn.isEmpty())
        return spn;
    // As FreeTDS does: a name without a dot is replaced by its canonical (full) name.
    QString name = host;
    if (!host.contains(u'.')) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_V4MAPPED | AI_ADDRCONFIG | AI_CANONNAME;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) == 0) {
            if (found->ai_canonname != nullptr && std::strchr(found->ai_canonname, '.') != nullptr)
                name = QString::fromUtf8(found->ai_canonname);
            ::freeaddrinfo(found);
        }
    }
    return u"MSSQLSvc/%1:%2"_s.arg(name).arg(port);
}

KerberosProblem checkKerberos(const QString& host, int port, const QString& spn)
{
    KerberosProblem problem;
    problem.host = host;
    problem.spn = kerberosServiceName(host, port, spn);
    const Gss gss;
    if (!gss.usable()) {
        problem.kind = KerberosProblem::NoGssLibrary;
        return problem;
    }
    // The Kerberos principal name type FreeTDS uses: 1.2.840.113554.1.2.2.1.
    static char principalOid[] = "\x2a\x86\x48\x86\xf7\x12\x01\x02\x02\x01";
    GssOid principalType{10, principalOid};
    QByteArray spnBytes = problem.spn.toUtf8();
    GssBuffer nameBuffer{static_cast<size_t>(spnBytes.size()), spnBytes.data()};
    OM_uint32 minor = 0;
    GssName target = nullptr;
    OM_uint32 major = gss.importName(&minor, &nameBuffer, &principalType, &target);
    if ((major & gssErrorMask) != 0) {
        problem.kind = KerberosProblem::Other;
        problem.detail = gss.mechanismText(minor);
        return problem;
    }
    GssContext context = nullptr;
    GssBuffer token{0, nullptr};
    major = gss.initSecContext(&minor, nullptr, &context, target, nullptr,
                               gssMutualFlag | gssReplayFlag | gssIntegFlag, 0, nullptr, nullptr,
                               nullptr, &token, nullptr, nullptr);
    OM_uint32 ignored = 0;
    gss.releaseBuffer(&ignored, &token);
    if (context != nullptr)
        gss.deleteSecContext(&ignored, &context, nullptr);
    gss.releaseName(&ignored, &target);
    if ((major & gssErrorMask) == 0)
        return problem;
    problem.detail = gss.mechanismText(minor);
    if (major == gssNoCred || major == gssCredentialsExpired || minor == cacheFileMissing ||
        minor == cacheNotFound || minor == emptyCache || minor == ticketExpired)
        problem.kind = KerberosProblem::NoTicket;
    else if (minor == principalUnknown)
        problem.kind = KerberosProblem::UnknownSpn;
    else if (minor == kdcUnreachable || minor == realmUnknown || minor == kdcNotResolved)
        problem.kind = KerberosProblem::NoKdc;
    else if (minor == noDefaultRealm)
        problem.kind = KerberosProblem::NoRealm;
    else if (minor == hostRealmUnknown || minor == numericHostRealm)
        problem.kind = KerberosProblem::HostRealm;
    else
        problem.kind = KerberosProblem::Other;
    return problem;
}

} // namespace db

#endif

namespace db {

QString kerberosReason(const KerberosProblem& problem)
{
    switch (problem.kind) {
    case KerberosProblem::None:
        return u"Билет Kerberos для службы %1 получен, но сервер отказал во входе."_s.arg(
            problem.spn);
    case KerberosProblem::NoTicket:
        return u"Нет действующего билета Kerberos: получите его командой "
               u"\"kinit имя@ОБЛАСТЬ\" и подключитесь снова (%1)."_s.arg(problem.detail);
    case KerberosProblem::UnknownSpn:
        return u"Домен не знает имени службы %1: укажите сервер его полным DNS-именем и "
               u"проверьте, что это имя зарегистрировано для службы SQL Server (setspn -L)."_s.arg(
                   problem.spn);
    case KerberosProblem::NoKdc:
        return u"Не отвечает контроллер домена Kerberos: проверьте /etc/krb5.conf и сеть (%1)."_s
            .arg(problem.detail);
    case KerberosProblem::NoRealm:
        return u"Kerberos не настроен: в /etc/krb5.conf не указана область домена "
               u"(default_realm в разделе [libdefaults])."_s;
    case KerberosProblem::HostRealm:
        return u"Kerberos не знает, к какой области домена относится сервер \"%1\": укажите его "
               u"полным DNS-именем, а не IP-адресом."_s.arg(problem.host);
    case KerberosProblem::Other:
        return u"Kerberos не выдал билет для службы %1: %2."_s.arg(problem.spn, problem.detail);
    case KerberosProblem::NoGssLibrary:
        return u"Для входа с учетной записью Windows нужен Kerberos (пакет libgssapi-krb5-2), "
               u"а он не установлен."_s;
    }
    return {};
}

} // namespace db
