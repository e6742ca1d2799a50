#include "TlsSession.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

using namespace Qt::StringLiterals;

namespace sqlsim::tds {

namespace {

QString openSslError(const char* what)
{
    char text[256] = {};
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QString::fromUtf8(what);
    ERR_error_string_n(code, text, sizeof text);
    return u"%1: %2"_s.arg(QString::fromUtf8(what), QString::fromUtf8(text));
}

struct KeyFree
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree
{
    void operator()(X509* cert) const { X509_free(cert); }
};

} // namespace

std::shared_ptr<TlsContext> TlsContext::create(const QString& commonName, QString* error)
{
    const auto fail = [&](const char* what) {
        if (error != nullptr)
            *error = openSslError(what);
        return std::shared_ptr<TlsContext>();
    };
    // An elliptic-curve key: made in a moment, so every start of the simulator can afford one.
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    if (!key)
        return fail("key generation");
    std::unique_ptr<X509, CertFree> cert(X509_new());
    if (!cert)
        return fail("certificate");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    const QByteArray cn = commonName.toUtf8();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.constData()),
                               static_cast<int>(cn.size()), -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
        return fail("certificate signature");

    std::shared_ptr<TlsContext> context(new TlsContext);
    context->m_ctx = SSL_CTX_new(TLS_server_method());
    if (context->m_ctx == nullptr)
        return fail("TLS context");
    // TLS 1.2 at most, as SQL Server over TDS 7.x: it offers TLS 1.3 only with TDS 8.0, where
    // TLS starts before any TDS packet (SQL Server docs, "TLS 1.3 support"). FreeTDS ends a
    // 1.3 handshake outside PRELOGIN packets.
    SSL_CTX_set_min_proto_version(context->m_ctx, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context->m_ctx, TLS1_2_VERSION);
    // Tickets would follow the handshake as data no client reads inside PRELOGIN packets.
    SSL_CTX_set_num_tickets(context->m_ctx, 0);
    SSL_CTX_set_options(context->m_ctx, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
    if (SSL_CTX_use_certificate(context->m_ctx, cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(context->m_ctx, key.get()) != 1)
        return fail("certificate use");
    return context;
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(m_ctx);
}

TlsSession::TlsSession(std::shared_ptr<TlsContext> context) : m_context(std::move(context))
{
    m_ssl = SSL_new(m_context->handle());
    m_in = BIO_new(BIO_s_mem());
    m_out = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(m_in, -1); // empty: "try again", not end of stream
    SSL_set_bio(m_ssl, m_in, m_out);
    SSL_set_accept_state(m_ssl);
}

TlsSession::~TlsSession()
{
    SSL_free(m_ssl);
}

void TlsSession::feed(const char* data, qsizetype size)
{
    if (size > 0)
        BIO_write(m_in, data, static_cast<int>(size));
}

TlsSession::Step TlsSession::handshake()
{
    const int rc = SSL_do_handshake(m_ssl);
    if (rc == 1)
        return Step::Done;
    const int reason = SSL_get_error(m_ssl, rc);
    if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE)
        return Step::NeedMore;
    m_error = openSslError("TLS handshake");
    return Step::Failed;
}

QByteArray TlsSession::takeOutput()
{
    QByteArray bytes;
    const auto pending = static_cast<qsizetype>(BIO_ctrl_pending(m_out));
    if (pending > 0) {
        bytes.resize(pending);
        const int n = BIO_read(m_out, bytes.data(), static_cast<int>(pending));
        bytes.resize(std::max(n, 0));
    }
    return bytes;
}

bool TlsSession::decrypt(QByteArray* plain)
{
    char buffer[16 * 1024];
    for (;;) {
        const int n = SSL_read(m_ssl, buffer, sizeof buffer);
        if (n > 0) {
            plain->append(buffer, n);
            continue;
        }
        const int reason = SSL_get_error(m_ssl, n);
        if (reason == SSL_ERROR_WANT_READ)
            return true;
        m_error =
            reason == SSL_ERROR_ZERO_RETURN ? u"the peer closed TLS"_s : openSslError("TLS read");
        return false;
    }
}

bool TlsSession::encrypt(const char* data, qsizetype size)
{
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<qsizetype>(size, 16 * 1024));
        const int n = SSL_write(m_ssl, data, chunk);
        if (n <= 0) {
            m_error = openSslError("TLS write");
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

QByteArray TlsSession::takeUnread()
{
    QByteArray bytes;
    const auto pending = static_cast<qsizetype>(BIO_ctrl_pending(m_in));
    if (pending > 0) {
        bytes.resize(pending);
        const int n = BIO_read(m_in, bytes.data(), static_cast<int>(pending));
        bytes.resize(std::max(n, 0));
    }
    return bytes;
}

} // namespace sqlsim::tds
