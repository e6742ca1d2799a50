#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

struct ssl_ctx_st;
struct ssl_st;
struct bio_st;

// TLS for TDS: the handshake travels inside PRELOGIN packets and afterwards the records
// carry whole TDS packets. Both happen on byte buffers (memory BIOs), so that the packet
// channel decides where bytes come from and go to.
namespace sqlsim::tds {

// The server's certificate and settings, shared by every connection: a self-signed
// certificate made at start-up and held in memory, as a server with no certificate of its
// own uses.
class TlsContext
{
public:
    // Null with a reason when OpenSSL cannot make the key or the certificate.
    static std::shared_ptr<TlsContext> create(const QString& commonName, QString* error = nullptr);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* handle() const { return m_ctx; }

private:
    TlsContext() = default;
    ssl_ctx_st* m_ctx = nullptr;
};

class TlsSession
{
public:
    explicit TlsSession(std::shared_ptr<TlsContext> context);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    enum class Step
    {
        Done,     // the handshake is over
        NeedMore, // send takeOutput() and feed the peer's answer
        Failed,
    };

    // Bytes from the peer, encrypted.
    void feed(const char* data, qsizetype size);
    Step handshake();
    // Encrypted bytes waiting for the peer.
    QByteArray takeOutput();
    // Appends whatever plaintext the fed bytes hold; false on a broken or closed stream.
    bool decrypt(QByteArray* plain);
    // Encrypts into the output; false on failure.
    bool encrypt(const char* data, qsizetype size);
    // Fed bytes not yet taken by TLS: the peer's plain bytes once it has stopped encrypting.
    QByteArray takeUnread();
    QString lastError() const { return m_error; }

private:
    std::shared_ptr<TlsContext> m_context;
    ssl_st* m_ssl = nullptr;
    bio_st* m_in = nullptr;  // owned by m_ssl
    bio_st* m_out = nullptr; // owned by m_ssl
    QString m_error;
};

} // namespace sqlsim::tds
