#pragma once

#include "ByteStream.h"
#include "EngineStatus.h"

#include <memory>
#include <openssl/ssl.h>
#include <string>

// A TLS client stream over a connected socket (the plain stream it wraps keeps owning the descriptor).
// End of stream is reported only after the peer's close_notify; a stream that ends without one gives
// kTruncated, because an attacker or a failing link can cut it anywhere.
class TlsSocketStream : public ByteStream {
public:
    static constexpr ssize_t kTruncated = -EPROTO;

    TlsSocketStream(std::unique_ptr<ByteStream> plain, SSL_CTX* context);
    ~TlsSocketStream() override;
    TlsSocketStream(const TlsSocketStream&) = delete;
    TlsSocketStream& operator=(const TlsSocketStream&) = delete;

    // The client handshake. serverName: SNI and the name the certificate must carry ("" for an address,
    // which is checked as numericHost); session: one to resume (taken over, may be nullptr).
    EngineStatus handshake(const std::string& serverName, const std::string& numericHost,
                           SSL_SESSION* session, int timeoutMs);
    // "TLS 1.3 (TLS_AES_256_GCM_SHA384)"
    std::string status() const;
    bool resumed() const { return SSL_session_reused(m_ssl) == 1; }
    SSL_SESSION* session() const { return SSL_get_session(m_ssl); }
    // The certificate chain verified against the system store and names the host.
    bool verified() const { return SSL_get_verify_result(m_ssl) == X509_V_OK; }
    std::string verifyText() const;
    X509* peerCertificate() const { return SSL_get0_peer_certificate(m_ssl); }
    // The socket is closed without a close_notify: a refused certificate gets nothing more from us.
    void abandon() { m_failed = true; }
    // While waiting for the peer's close_notify after an upload, stop early when this descriptor (the
    // control connection) becomes readable: the server has answered, so it has all the data.
    void setCompanion(int descriptor) { m_companion = descriptor; }

    ssize_t receive(char* buffer, size_t length, int timeoutMs) override;
    ssize_t sendAll(const char* data, size_t length, int timeoutMs) override;
    // Sends our close_notify, then reads (tickets, key updates, the peer's close_notify) for a short while,
    // so that unread data never turns the close into a reset.
    void finishSending() override;
    int descriptor() const override { return m_plain->descriptor(); }
    std::string describe(ssize_t error) const override;

private:
    // Waits as OpenSSL asks after a call that returned result; 1 to retry, or a negative result.
    ssize_t waitFor(int result, int timeoutMs);
    ssize_t failure(int sslError);
    void drainUntilClosed(int timeoutMs);

    std::unique_ptr<ByteStream> m_plain;
    SSL* m_ssl = nullptr;
    bool m_failed = false;     // a fatal error: no close_notify may follow (OpenSSL forbids it)
    bool m_closeSent = false;  // our close_notify is out
    bool m_peerClosed = false; // the peer's close_notify arrived
    int m_companion = -1;
    std::string m_error; // OpenSSL's words for the last failure
};
