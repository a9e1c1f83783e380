#include "TlsSocketStream.h"

#include "FtpEngine.h"
#include "SocketBio.h"
#include "SocketWait.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>

namespace {

// How long an upload waits for the server's close_notify after sending ours.
constexpr int kCloseWaitMs = 2000;

std::string openSslError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    char text[256];
    ERR_error_string_n(code, text, sizeof(text));
    return text;
}

} // namespace

TlsSocketStream::TlsSocketStream(std::unique_ptr<ByteStream> plain, SSL_CTX* context)
    : m_plain(std::move(plain)), m_ssl(SSL_new(context)) {
    BIO* bio = m_ssl != nullptr ? SocketBio::create(m_plain->descriptor()) : nullptr;
    if (bio != nullptr) {
        SSL_set_bio(m_ssl, bio, bio); // one BIO for both directions: the SSL takes its one reference
    } else if (m_ssl != nullptr) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
}

TlsSocketStream::~TlsSocketStream() {
    if (m_ssl == nullptr)
        return;
    // One close_notify on an orderly end (a strict server wants it after a download too); never after a
    // fatal error, and never waiting here: the socket closes right after.
    if (!m_failed && !m_closeSent && SSL_is_init_finished(m_ssl))
        SSL_shutdown(m_ssl);
    ERR_clear_error();
    SSL_free(m_ssl);
}

EngineStatus TlsSocketStream::handshake(const std::string& serverName, const std::string& numericHost,
                                        SSL_SESSION* session, int timeoutMs) {
    if (m_ssl == nullptr) {
        if (session != nullptr)
            SSL_SESSION_free(session);
        return EngineStatus::failure(FCE_E_TLS, "Cannot start TLS: " + openSslError());
    }
    if (!serverName.empty()) {
        SSL_set_tlsext_host_name(m_ssl, serverName.c_str());
        SSL_set1_host(m_ssl, serverName.c_str());
    } else if (!numericHost.empty()) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), numericHost.c_str());
    }
    if (session != nullptr) {
        SSL_set_session(m_ssl, session);
        SSL_SESSION_free(session); // SSL_set_session took its own reference
    }
    SSL_set_connect_state(m_ssl);
    for (;;) {
        ERR_clear_error();
        int result = SSL_do_handshake(m_ssl);
        if (result == 1)
            return {};
        ssize_t waited = waitFor(result, timeoutMs);
        if (waited == -ETIMEDOUT)
            return EngineStatus::failure(FCE_E_TIMEOUT,
                                         "No TLS handshake within " + std::to_string(timeoutMs) + " ms");
        if (waited < 0)
            return EngineStatus::failure(FCE_E_TLS, "TLS handshake failed: " + describe(waited));
    }
}

std::string TlsSocketStream::status() const {
    std::string version = SSL_get_version(m_ssl);
    if (version.rfind("TLSv", 0) == 0)
        version = "TLS " + version.substr(4);
    const char* cipher = SSL_CIPHER_standard_name(SSL_get_current_cipher(m_ssl));
    return version + " (" + (cipher != nullptr ? cipher : SSL_get_cipher_name(m_ssl)) + ")";
}

std::string TlsSocketStream::verifyText() const {
    return X509_verify_cert_error_string(SSL_get_verify_result(m_ssl));
}

ssize_t TlsSocketStream::failure(int sslError) {
    m_failed = true;
    int savedErrno = errno;
    unsigned long code = ERR_peek_error();
    m_error = openSslError();
    if (sslError == SSL_ERROR_SSL && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return kTruncated;
    if (sslError == SSL_ERROR_SYSCALL)
        return savedErrno != 0 ? -savedErrno : kTruncated;
    return -EBADMSG;
}

ssize_t TlsSocketStream::waitFor(int result, int timeoutMs) {
    int sslError = SSL_get_error(m_ssl, result);
    int ready;
    if (sslError == SSL_ERROR_WANT_READ)
        ready = SocketWait::forReading(descriptor(), timeoutMs);
    else if (sslError == SSL_ERROR_WANT_WRITE)
        ready = SocketWait::forWriting(descriptor(), timeoutMs);
    else if (sslError == SSL_ERROR_ZERO_RETURN)
        return 0;
    else
        return failure(sslError);
    if (ready == 0)
        return -ETIMEDOUT;
    return ready < 0 ? ready : 1;
}

ssize_t TlsSocketStream::receive(char* buffer, size_t length, int timeoutMs) {
    if (m_peerClosed)
        return 0;
    if (m_failed)
        return -EBADMSG;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int request = static_cast<int>(std::min<size_t>(length, INT_MAX));
    for (;;) {
        ERR_clear_error();
        int got = SSL_read(m_ssl, buffer, request);
        if (got > 0)
            return got;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        ssize_t waited = waitFor(got, static_cast<int>(std::max<long long>(left, 0)));
        if (waited == 0) {
            m_peerClosed = true;
            return 0;
        }
        if (waited < 0)
            return waited;
    }
}

ssize_t TlsSocketStream::sendAll(const char* data, size_t length, int timeoutMs) {
    if (m_failed)
        return -EBADMSG;
    size_t done = 0;
    while (done < length) {
        ERR_clear_error();
        int sent = SSL_write(m_ssl, data + done, static_cast<int>(std::min<size_t>(length - done, INT_MAX)));
        if (sent > 0) {
            done += static_cast<size_t>(sent);
            continue;
        }
        ssize_t waited = waitFor(sent, timeoutMs);
        if (waited == 0)
            return -EPIPE; // the peer closed while we still had data for it
        if (waited < 0)
            return waited;
    }
    return static_cast<ssize_t>(done);
}

void TlsSocketStream::finishSending() {
    if (m_failed || m_closeSent)
        return;
    m_closeSent = true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCloseWaitMs);
    for (;;) {
        ERR_clear_error();
        int result = SSL_shutdown(m_ssl);
        if (result >= 0)
            break; // 0: ours is out; 1: both are
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || waitFor(result, static_cast<int>(left)) <= 0) {
            m_failed = true;
            return;
        }
    }
    drainUntilClosed(kCloseWaitMs);
}

void TlsSocketStream::drainUntilClosed(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char scrap[4096];
    while (!m_peerClosed && !m_failed) {
        ERR_clear_error();
        int got = SSL_read(m_ssl, scrap, sizeof(scrap));
        if (got > 0)
            continue;
        int sslError = SSL_get_error(m_ssl, got);
        if (sslError == SSL_ERROR_ZERO_RETURN) {
            m_peerClosed = true;
            return;
        }
        if (sslError != SSL_ERROR_WANT_READ) {
            failure(sslError);
            return;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return;
        pollfd entries[2] = {{descriptor(), POLLIN, 0}, {m_companion, POLLIN, 0}};
        int ready = ::poll(entries, m_companion >= 0 ? 2 : 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return;
        if (ready > 0 && m_companion >= 0 && (entries[1].revents & POLLIN) != 0 && entries[0].revents == 0)
            return; // the server already answered on the control connection
    }
}

std::string TlsSocketStream::describe(ssize_t error) const {
    if (error == kTruncated)
        return "the connection ended without TLS close_notify";
    if (!m_error.empty())
        return m_error;
    return ByteStream::describe(error);
}
