#include "TlsContext.h"

#include "FtpEngine.h"

#include <algorithm>
#include <ctime>
#include <openssl/err.h>

namespace {

// A session this close to its end may expire between the check and the server's look at it: a quarter of
// its lifetime, at most this much.
constexpr long kExpiryMarginSeconds = 10;

} // namespace

TlsContext::~TlsContext() {
    stop();
}

EngineStatus TlsContext::start() {
    stop();
    m_context = SSL_CTX_new(TLS_client_method());
    if (m_context == nullptr)
        return EngineStatus::failure(FCE_E_TLS, "Cannot create a TLS context");
    SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION);
    // The certificate is judged after the handshake (system CA store, or the administrator's fingerprint),
    // so that an untrusted one can still be shown; nothing is sent before that judgement.
    SSL_CTX_set_verify(m_context, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_default_verify_paths(m_context);
    SSL_CTX_set_mode(m_context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_session_cache_mode(m_context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_set_app_data(m_context, this);
    SSL_CTX_sess_set_new_cb(m_context, &TlsContext::onNewSession);
    return {};
}

void TlsContext::stop() {
    if (m_session != nullptr)
        SSL_SESSION_free(m_session);
    m_session = nullptr;
    if (m_context != nullptr)
        SSL_CTX_free(m_context);
    m_context = nullptr;
}

int TlsContext::onNewSession(SSL* ssl, SSL_SESSION* session) {
    auto* self = static_cast<TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (self != nullptr)
        self->keep(session);
    return 0; // the connection keeps its own reference; we hold a copy
}

void TlsContext::keep(SSL_SESSION* session) {
    if (SSL_SESSION_is_resumable(session) != 1)
        return;
    // A copy: a connection that later fails marks its own session unusable, which must not reach ours.
    SSL_SESSION* copy = SSL_SESSION_dup(session);
    if (copy == nullptr)
        return;
    if (m_session != nullptr)
        SSL_SESSION_free(m_session);
    m_session = copy; // the newest wins: some servers want the session of the previous data connection
}

TlsContext::Resumption TlsContext::resumption() const {
    if (m_session == nullptr || SSL_SESSION_is_resumable(m_session) != 1)
        return Resumption::Missing;
    long age = static_cast<long>(std::time(nullptr)) - static_cast<long>(SSL_SESSION_get_time(m_session));
    long lifetime = static_cast<long>(SSL_SESSION_get_timeout(m_session));
    // A ticket's lifetime is the server's word; our own cache's timeout knows nothing of it.
    if (unsigned long hint = SSL_SESSION_get_ticket_lifetime_hint(m_session); hint > 0)
        lifetime = std::min(lifetime, static_cast<long>(hint));
    if (age + std::min(kExpiryMarginSeconds, lifetime / 4) >= lifetime)
        return Resumption::Expired;
    return Resumption::Ready;
}

SSL_SESSION* TlsContext::sessionCopy() const {
    return m_session != nullptr ? SSL_SESSION_dup(m_session) : nullptr;
}
