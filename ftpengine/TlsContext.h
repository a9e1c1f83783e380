#pragma once

#include "EngineStatus.h"

#include <openssl/ssl.h>
#include <string>

// The TLS side of one FTP session: the client context that the control connection and all its data
// connections share, and the newest resumable session, from which every data connection resumes.
// Servers that demand session reuse refuse a data connection that made a full handshake.
class TlsContext {
public:
    // Whether a data connection can resume right now.
    enum class Resumption {
        Ready,   // a resumable session within its lifetime
        Missing, // none yet (TLS 1.3 tickets arrive after the handshake, read with the next reply)
        Expired, // the newest session outlived its lifetime: only a new control connection gives one
    };

    TlsContext() = default;
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // A fresh context for a new control connection; sessions of an earlier one are forgotten.
    EngineStatus start();
    void stop();
    SSL_CTX* context() const { return m_context; }

    Resumption resumption() const;
    // A copy of the newest session for one data connection (nullptr when none), owned by the caller:
    // a data connection that fails marks its own copy unusable, never the stored one.
    SSL_SESSION* sessionCopy() const;
    // Keeps session as the newest. A TLS 1.2 handshake that resumed a session makes no new one, so a
    // control connection that resumed another connection's session hands it over here for its data
    // connections to resume.
    void keep(SSL_SESSION* session);

private:
    static int onNewSession(SSL* ssl, SSL_SESSION* session);

    SSL_CTX* m_context = nullptr;
    SSL_SESSION* m_session = nullptr;
};
