#pragma once

#include "ControlConnection.h"
#include "EngineStatus.h"
#include "FtpEngine.h"
#include "ListingEntry.h"
#include "PeerCertificate.h"
#include "ServerAddress.h"
#include "TlsContext.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class DataConnection;
class ProtocolTrace;

// What a further connection to the same server takes from a first one: where, who, the waits, the
// trusted fingerprint, and under TLS the first connection's session to resume and its certificate,
// which the further connection must present too; one that was protected makes TLS required.
struct ConnectionModel {
    std::string server;
    std::string user;
    std::string password;
    std::string trustedFingerprint;
    int connectTimeoutMs = 30000;
    int silenceMs = 60000;
    int64_t lowSpeedBytes = 4096;
    int abandonGraceMs = 3000;
    bool tls = false;
    std::string certificate; // the first connection's certificate fingerprint
    std::shared_ptr<SSL_SESSION> session;
};

// One FTP session and everything the engine remembers about it. The connection state lives in one
// enum and changes only through setState().
class FtpSession {
public:
    enum class State {
        Disconnected, // no control connection: every server call fails with "Not connected"
        LoggingIn,    // connected, greeting or login under way
        Ready,        // logged in: commands may be sent
    };

    explicit FtpSession(ProtocolTrace& trace) : m_trace(trace), m_control(trace) {}

    State state() const { return m_state; }
    // Takes note of a control connection that a failure closed; called after every engine call.
    void settle();

    EngineStatus connect(const std::string& server, const std::string& user, const std::string& password);
    // What connectLike needs of this session; fails unless this one is logged in.
    EngineStatus model(ConnectionModel& model) const;
    EngineStatus connectLike(const ConnectionModel& model);
    void close();
    EngineStatus setBinary();

    EngineStatus changeToRoot();
    EngineStatus changeDirectory(const std::string& name);
    // The directory components from the root in one CWD; every one must be a plain name.
    EngineStatus changePath(const std::vector<std::string>& components);
    EngineStatus makeDirectory(const std::string& name);
    // askedAt: the local clock when the listing was asked for, which dates a Unix LIST's recent lines.
    EngineStatus list(std::vector<ListingEntry>& entries, int64_t askedAt);

    EngineStatus setLocalDirectory(const std::string& path);
    // An open folder (duplicated here); shownPath is what texts call it.
    EngineStatus setLocalDirectory(int folder, const std::string& shownPath);
    // knownSize >= 0: the download must be exactly that long (the caller's newer word on the file, such
    // as a second listing); otherwise the listed size, or SIZE's.
    EngineStatus getFile(const std::string& name, int64_t knownSize = -1);
    // SIZE of a file of the current server directory; -1 when the server cannot say (no SIZE offered,
    // or a reply other than 213).
    EngineStatus fileSize(const std::string& name, int64_t& size);
    EngineStatus putFile(const std::string& name);

    void setConnectTimeout(int milliseconds) { m_connectTimeoutMs = milliseconds; }
    int connectTimeout() const { return m_connectTimeoutMs; }
    void setSilenceLimit(int milliseconds);
    int silenceLimit() const { return m_control.timeout(); }
    void setLowSpeedBytes(int bytes) { m_control.setLowSpeedBytes(bytes); }
    int lowSpeedBytes() const { return static_cast<int>(m_control.lowSpeedBytes()); }
    void setAbandonGrace(int milliseconds) { m_abandonGraceMs = milliseconds; }
    int abandonGrace() const { return m_abandonGraceMs; }
    void setReplaceLocal(bool allowed) { m_replaceLocal = allowed; }
    bool replaceLocal() const { return m_replaceLocal; }
    void setProgressHook(FceProgressHook hook, void* context);

    // "host:port" of the server as the text given to connect named it (brackets around an IPv6 address).
    const std::string& serverAddress() const { return m_serverAddress; }
    // "TLS 1.3 (TLS_AES_256_GCM_SHA384)" while connected with TLS, else "".
    const std::string& tlsStatus() const { return m_tlsStatus; }
    // The last certificate a server presented, kept after a failed connect so the host can show it.
    const PeerCertificate& peerCertificate() const { return m_peer; }
    void setTrustedFingerprint(const std::string& fingerprint) { m_trustedFingerprint = fingerprint; }

private:
    // What every file transfer checks first: a safe name, a connection, a local directory, binary mode.
    EngineStatus readyToTransfer(const std::string& name);
    void setState(State next);
    EngineStatus requireReady() const;
    EngineStatus login(const std::string& user, const std::string& password);
    EngineStatus readGreeting();
    // AUTH TLS as the address asks; clear text only when a server without TLS may be used in clear.
    EngineStatus negotiateTls(ServerAddress::Security security);
    // Handshake on the control connection and the trust decision, before anything else is sent.
    EngineStatus startControlTls();
    EngineStatus protectData(bool implicit);
    // Before each protected data connection: a resumable session at hand, or a new login that gives one.
    EngineStatus prepareDataTls();
    EngineStatus secureData(DataConnection& data, const std::string& verb);
    EngineStatus reconnectForNewSession();
    EngineStatus readFeatures();
    EngineStatus changeTo(const std::string& path);
    EngineStatus runListing(const std::string& command, std::string& raw, FtpReply& startReply);
    // awaitReply false: the command is sent and its first reply left for finishTransfer (startAnswered
    // false) to read.
    EngineStatus startTransfer(DataConnection& data, const std::string& command, FtpReply& reply,
                               bool awaitReply = true);
    EngineStatus finishTransfer(DataConnection& data, const std::string& verb, const EngineStatus& dataStatus,
                                bool startAnswered = true);
    EngineStatus expectedSize(const std::string& name, int64_t& size);
    EngineStatus askSize(const std::string& name, int64_t& size);
    EngineStatus requireLocalDirectory() const;
    EngineStatus checkLocalTarget(const std::string& name, const std::string& path) const;

    ProtocolTrace& m_trace;
    ControlConnection m_control;
    State m_state = State::Disconnected;
    bool m_binaryAccepted = false;  // a TYPE I was accepted on this connection
    bool m_usePasv = false;         // the server refused EPSV
    bool m_useMlsd = false;         // FEAT offered MLST/MLSD
    bool m_offersSize = false;      // FEAT offered SIZE: asked for files the listing gave no size for
    int m_connectTimeoutMs = 30000; // the TCP connection and the greeting; replies after it have the
                                    // control connection's silence limit
    int m_abandonGraceMs = 3000;    // the server's word on a transfer this side ended (within the silence)
    bool m_replaceLocal = false;
    FceProgressHook m_hook = nullptr;
    void* m_hookContext = nullptr;
    std::string m_localDir; // as texts show it
    std::shared_ptr<int>
        m_localFolder; // the open folder files are read from and written into    // TLS: the session's
                       // context, whether data connections are protected, and what the host reads.
    TlsContext m_tls;
    bool m_protected = false;  // the control connection is under TLS, and so is every data connection
    bool m_noopSent = false;   // a NOOP already tried to pull in session tickets on this connection
    std::string m_serverName;  // SNI and certificate name; empty for a numeric address
    std::string m_numericHost; // the address a certificate must name when there is no server name
    std::string m_tlsStatus;
    PeerCertificate m_peer;
    std::string m_trustedFingerprint;
    // A connection made like another (connectLike): TLS required when that one had it, the certificate
    // that one presented, and its session to resume on the control connection.
    bool m_requireTls = false;
    std::string m_requiredCertificate;
    std::shared_ptr<SSL_SESSION> m_resumeControl;
    // What a new login needs when the TLS session has expired.
    std::string m_server;
    std::string m_serverAddress;
    std::string m_user;
    std::string m_password;
    // Sizes from the last listing of the current server directory, for the completeness check.
    std::unordered_map<std::string, int64_t> m_listedSizes;
};
