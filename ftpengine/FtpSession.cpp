#include "FtpSession.h"

#include "CallWatch.h"
#include "DataConnection.h"
#include "ListingParser.h"
#include "LocalPartialFile.h"
#include "NameSafety.h"
#include "ProtocolTrace.h"
#include "ServerAddress.h"
#include "TlsSocketStream.h"
#include "TransferProgress.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A listing larger than this cannot be handed back as a signed 32-bit length.
constexpr size_t kLargestListing = 512u * 1024 * 1024;

EngineStatus refusedBy(const FtpReply& reply, int32_t code = FCE_E_SERVER_REPLY) {
    return EngineStatus::failure(code, reply.lastLine());
}

EngineStatus unsafeName(const std::string& name) {
    return EngineStatus::failure(FCE_E_UNSAFE_NAME, "Unsafe file name: " + name);
}

std::string upperFirstWord(const std::string& line) {
    auto start = line.find_first_not_of(' ');
    if (start == std::string::npos)
        return {};
    std::string word = line.substr(start, line.find(' ', start) - start);
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::toupper(c); });
    return word;
}

bool mentionsTruncation(const FtpReply& reply) {
    return std::any_of(reply.lines.begin(), reply.lines.end(), [](std::string line) {
        std::transform(line.begin(), line.end(), line.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        return line.find("truncated") != std::string::npos;
    });
}

} // namespace

void FtpSession::setState(State next) {
    if (next == m_state)
        return;
    if (next == State::Disconnected) {
        m_control.close();
        m_listedSizes.clear();
    }
    if (next != State::Ready) {
        m_protected = false;
        m_noopSent = false;
        m_tlsStatus.clear();
    }
    if (next == State::LoggingIn) {
        m_binaryAccepted = false;
        m_usePasv = false;
        m_useMlsd = false;
        m_offersSize = false;
        m_listedSizes.clear();
    }
    m_state = next;
}

void FtpSession::settle() {
    if (m_state != State::Disconnected && !m_control.isOpen())
        setState(State::Disconnected);
}

EngineStatus FtpSession::requireReady() const {
    if (m_state != State::Ready || !m_control.isOpen())
        return EngineStatus::failure(FCE_E_NOT_CONNECTED, "Not connected");
    return {};
}

void FtpSession::setSilenceLimit(int milliseconds) {
    m_control.setTimeout(milliseconds);
}

void FtpSession::setProgressHook(FceProgressHook hook, void* context) {
    m_hook = hook;
    m_hookContext = context;
}

EngineStatus FtpSession::connect(const std::string& server, const std::string& user,
                                 const std::string& password) {
    close();
    m_peer = PeerCertificate();
    ServerAddress address;
    if (EngineStatus status = ServerAddress::parse(server, address); !status.ok())
        return status;
    m_server = server;
    m_serverAddress = address.display();
    m_user = user;
    m_password = password;
    m_serverName = address.isNumeric() ? std::string() : address.host();
    m_numericHost = address.isNumeric() ? address.host() : std::string();
    EngineStatus status =
        m_control.open(address.host(), address.port(), address.display(), m_connectTimeoutMs);
    if (!status.ok())
        return status;
    setState(State::LoggingIn);
    ServerAddress::Security security = address.security();
    if (m_requireTls && security == ServerAddress::Security::Opportunistic)
        security = ServerAddress::Security::Explicit; // never clear text beside a protected connection
    status = negotiateTls(security);
    if (status.ok())
        status = login(user, password);
    if (status.ok() && m_protected)
        status = protectData(address.security() == ServerAddress::Security::Implicit);
    if (status.ok())
        status = readFeatures();
    if (!status.ok()) {
        setState(State::Disconnected);
        return status;
    }
    setState(State::Ready);
    return {};
}

EngineStatus FtpSession::model(ConnectionModel& model) const {
    if (EngineStatus status = requireReady(); !status.ok())
        return status;
    model.server = m_server;
    model.user = m_user;
    model.password = m_password;
    model.trustedFingerprint = m_trustedFingerprint;
    model.connectTimeoutMs = m_connectTimeoutMs;
    model.silenceMs = m_control.timeout();
    model.lowSpeedBytes = m_control.lowSpeedBytes();
    model.abandonGraceMs = m_abandonGraceMs;
    model.tls = m_protected;
    model.certificate = m_protected ? m_peer.fingerprint : std::string();
    SSL_SESSION* session = m_protected ? m_tls.sessionCopy() : nullptr;
    model.session = session != nullptr ? std::shared_ptr<SSL_SESSION>(session, SSL_SESSION_free) : nullptr;
    return {};
}

EngineStatus FtpSession::connectLike(const ConnectionModel& model) {
    m_trustedFingerprint = model.trustedFingerprint;
    m_connectTimeoutMs = model.connectTimeoutMs;
    m_control.setTimeout(model.silenceMs);
    m_control.setLowSpeedBytes(model.lowSpeedBytes);
    m_abandonGraceMs = model.abandonGraceMs;
    m_requireTls = model.tls;
    m_requiredCertificate = model.certificate;
    m_resumeControl = model.session;
    EngineStatus status = connect(model.server, model.user, model.password);
    if (status.ok())
        status = setBinary();
    return status;
}

EngineStatus FtpSession::readGreeting() {
    // The whole greeting, "120 ready in a moment" lines included, within the connection limit.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_connectTimeoutMs);
    FtpReply greeting;
    EngineStatus status;
    do {
        status = m_control.readReply(greeting, "connect", deadline, m_connectTimeoutMs);
    } while (status.ok() && greeting.isPreliminary());
    if (status.ok() && greeting.code != 220)
        return refusedBy(greeting, FCE_E_CONNECT);
    return status;
}

EngineStatus FtpSession::negotiateTls(ServerAddress::Security security) {
    using Security = ServerAddress::Security;
    if (security == Security::Implicit) {
        if (EngineStatus status = startControlTls(); !status.ok())
            return status;
        return readGreeting();
    }
    if (EngineStatus status = readGreeting(); !status.ok() || security == Security::Plain)
        return status;
    FtpReply reply;
    if (EngineStatus status = m_control.command("AUTH TLS", reply); !status.ok())
        return status;
    if (reply.code == 234)
        return startControlTls(); // a failed handshake after this is a failure, never clear text
    // A server whose certificate is trusted has spoken TLS before: a refusal now may well be someone in
    // between who wants the password in clear text.
    if (!m_trustedFingerprint.empty())
        return EngineStatus::failure(FCE_E_TLS,
                                     "TLS required (a certificate is trusted for this server), but "
                                     "it refused AUTH TLS: " +
                                         reply.lastLine());
    if (security == Security::Opportunistic && reply.code >= 500 && reply.code <= 599) {
        m_trace.note("The server does not offer TLS; continuing without encryption");
        return {};
    }
    return EngineStatus::failure(FCE_E_TLS, "The server refused TLS: " + reply.lastLine());
}

EngineStatus FtpSession::startControlTls() {
    if (m_control.hasPendingBytes()) // would pass for protected text once the handshake is done
        return EngineStatus::failure(FCE_E_TLS, "TLS handshake failed: the server sent clear text after "
                                                "accepting AUTH TLS");
    if (EngineStatus status = m_tls.start(); !status.ok())
        return status;
    auto tls = std::make_unique<TlsSocketStream>(m_control.releaseStream(), m_tls.context());
    SSL_SESSION* resume = m_resumeControl ? SSL_SESSION_dup(m_resumeControl.get()) : nullptr;
    EngineStatus status = tls->handshake(m_serverName, m_numericHost, resume, m_connectTimeoutMs);
    m_peer = PeerCertificate::of(tls->peerCertificate());
    if (!status.ok()) {
        m_trace.note(status.text());
        return status;
    }
    // A further connection to a server is held to the certificate its first connection presented,
    // whatever else would vouch for it.
    if (!m_requiredCertificate.empty() && m_peer.fingerprint != m_requiredCertificate) {
        tls->abandon();
        const std::string text = "The server presented another certificate than on the first connection";
        m_trace.note(text + ": " + m_peer.fingerprint);
        return EngineStatus::failure(FCE_E_UNTRUSTED_CERTIFICATE, text);
    }
    bool pinned = PeerCertificate::sameFingerprint(m_peer.fingerprint, m_trustedFingerprint) ||
                  !m_requiredCertificate.empty();
    if (!tls->verified() && !pinned) {
        tls->abandon(); // not one more byte to a server we do not trust
        // The hosts show the fingerprint whole on lines of their own; in the error text a short buffer
        // would cut it, and a cut fingerprint looks like one to give to --trust.
        std::string text = "The server's certificate is not trusted (" + tls->verifyText() + ")";
        m_trace.note(text + ": " + m_peer.fingerprint + ", " + m_peer.subject);
        return EngineStatus::failure(FCE_E_UNTRUSTED_CERTIFICATE, text);
    }
    if (tls->resumed())
        m_tls.keep(tls->session());
    m_tlsStatus = tls->status();
    m_trace.note("Control connection: " + m_tlsStatus +
                 (!m_requiredCertificate.empty() ? ", the first connection's certificate"
                  : tls->verified()              ? ", certificate verified"
                                                 : ", certificate trusted by its fingerprint") +
                 (tls->resumed() ? ", session resumed" : ""));
    m_control.adoptStream(std::move(tls));
    m_protected = true;
    return {};
}

EngineStatus FtpSession::protectData(bool implicit) {
    for (const char* command : {"PBSZ 0", "PROT P"}) {
        FtpReply reply;
        if (EngineStatus status = m_control.command(command, reply); !status.ok())
            return status;
        // Some implicit-TLS servers protect data always and refuse the commands as superfluous.
        bool alreadyProtected = implicit && reply.code >= 500;
        if (!reply.isCompletion() && !alreadyProtected)
            return EngineStatus::failure(FCE_E_TLS, "The server refused protected data connections: " +
                                                        reply.lastLine());
    }
    return {};
}

EngineStatus FtpSession::login(const std::string& user, const std::string& password) {
    FtpReply reply;
    if (EngineStatus status = m_control.command("USER " + user, reply); !status.ok())
        return status;
    if (reply.code == 230)
        return {};
    if (reply.code != 331)
        return refusedBy(reply, FCE_E_LOGIN);
    if (EngineStatus status = m_control.command("PASS " + password, reply); !status.ok())
        return status;
    if (reply.code != 230 && reply.code != 202)
        return refusedBy(reply, FCE_E_LOGIN);
    return {};
}

EngineStatus FtpSession::readFeatures() {
    FtpReply reply;
    if (EngineStatus status = m_control.command("FEAT", reply); !status.ok())
        return status;
    if (reply.code != 211)
        return {}; // a server without FEAT offers nothing beyond LIST
    // MLST in FEAT implies MLSD (some servers name only MLST).
    for (size_t i = 1; i + 1 < reply.lines.size(); ++i) {
        std::string feature = upperFirstWord(reply.lines[i]);
        if (feature == "MLST" || feature == "MLSD")
            m_useMlsd = true;
        if (feature == "SIZE")
            m_offersSize = true;
    }
    return {};
}

void FtpSession::close() {
    if (m_state != State::Disconnected && m_control.isOpen()) {
        FtpReply reply;
        // A silent or vanished server must not keep a disconnect from completing.
        if (m_control.send("QUIT").ok())
            m_control.readReply(reply, "QUIT");
    }
    setState(State::Disconnected);
}

EngineStatus FtpSession::setBinary() {
    if (EngineStatus status = requireReady(); !status.ok())
        return status;
    if (m_binaryAccepted)
        return {};
    FtpReply reply;
    if (EngineStatus status = m_control.command("TYPE I", reply); !status.ok())
        return status;
    if (!reply.isCompletion())
        return refusedBy(reply);
    m_binaryAccepted = true;
    return {};
}

EngineStatus FtpSession::changeTo(const std::string& path) {
    if (EngineStatus status = requireReady(); !status.ok())
        return status;
    FtpReply reply;
    if (EngineStatus status = m_control.command("CWD " + path, reply); !status.ok())
        return status;
    if (!reply.isCompletion())
        return refusedBy(reply); // the server stays where it was
    m_listedSizes.clear();
    return {};
}

EngineStatus FtpSession::changeToRoot() {
    return changeTo("/");
}

EngineStatus FtpSession::changePath(const std::vector<std::string>& components) {
    std::string path;
    for (const auto& component : components) {
        if (!NameSafety::isPlainComponent(component))
            return unsafeName(component);
        path += "/" + component;
    }
    return changeTo(path.empty() ? "/" : path);
}

EngineStatus FtpSession::changeDirectory(const std::string& name) {
    if (!NameSafety::isPlainComponent(name))
        return unsafeName(name);
    return changeTo(name);
}

EngineStatus FtpSession::makeDirectory(const std::string& name) {
    if (!NameSafety::isPlainComponent(name))
        return unsafeName(name);
    if (EngineStatus status = requireReady(); !status.ok())
        return status;
    FtpReply reply;
    if (EngineStatus status = m_control.command("MKD " + name, reply); !status.ok())
        return status;
    return reply.isCompletion() ? EngineStatus() : refusedBy(reply);
}

EngineStatus FtpSession::startTransfer(DataConnection& data, const std::string& command, FtpReply& reply,
                                       bool awaitReply) {
    if (m_protected) {
        if (EngineStatus status = prepareDataTls(); !status.ok())
            return status;
    }
    if (EngineStatus status = data.open(m_control, m_usePasv); !status.ok())
        return status;
    if (!awaitReply)
        return m_control.send(command);
    if (EngineStatus status = m_control.command(command, reply); !status.ok())
        return status;
    if (!reply.isPreliminary())
        return refusedBy(reply);
    return m_protected ? secureData(data, ControlConnection::verbOf(command)) : EngineStatus();
}

EngineStatus FtpSession::prepareDataTls() {
    if (m_tls.resumption() == TlsContext::Resumption::Missing && !m_noopSent) {
        // TLS 1.3 tickets are read only with a reply; a NOOP's brings in any that are pending.
        m_noopSent = true;
        FtpReply reply;
        if (EngineStatus status = m_control.command("NOOP", reply); !status.ok())
            return status;
    }
    if (m_tls.resumption() == TlsContext::Resumption::Expired)
        return reconnectForNewSession();
    return {};
}

EngineStatus FtpSession::reconnectForNewSession() {
    FtpReply reply;
    if (EngineStatus status = m_control.command("PWD", reply); !status.ok())
        return status;
    std::string line = reply.lastLine();
    auto open = line.find('"');
    auto end = line.rfind('"');
    if (reply.code != 257 || open == std::string::npos || end <= open)
        return EngineStatus::failure(FCE_E_PROTOCOL, "Unreadable PWD reply: " + line);
    std::string directory = line.substr(open + 1, end - open - 1);
    for (auto doubled = directory.find("\"\""); doubled != std::string::npos;
         doubled = directory.find("\"\"", doubled + 1))
        directory.erase(doubled, 1);
    m_trace.note("The TLS session expired; logging in again so that data connections can resume it");
    bool binary = m_binaryAccepted;
    auto sizes = m_listedSizes;
    std::string server = m_server, user = m_user, password = m_password;
    if (EngineStatus status = connect(server, user, password); !status.ok())
        return status;
    if (EngineStatus status = changeTo(directory); !status.ok())
        return status;
    m_listedSizes = std::move(sizes);
    return binary ? setBinary() : EngineStatus();
}

EngineStatus FtpSession::secureData(DataConnection& data, const std::string& verb) {
    EngineStatus status = data.startTls(m_tls.context(), m_serverName, m_numericHost, m_tls.sessionCopy(),
                                        m_control.descriptor());
    if (status.ok() && PeerCertificate::of(data.tls()->peerCertificate()).fingerprint != m_peer.fingerprint)
        status = EngineStatus::failure(FCE_E_UNTRUSTED_CERTIFICATE,
                                       "The data connection presented another certificate than the server");
    if (status.ok()) {
        m_trace.note("Data connection: " + data.tls()->status() +
                     (data.tls()->resumed() ? ", session resumed" : ", new session (not resumed)"));
        return {};
    }
    m_trace.note(status.text());
    data.close();
    if (status.code() == FCE_E_TIMEOUT) {
        m_control.close(); // a late reply would answer the wrong command
        return status;
    }
    FtpReply final;
    if (m_control.readReply(final, verb).ok() && final.code >= 400)
        return EngineStatus::failure(status.code(), status.text() + "; the server said: " + final.lastLine());
    return status;
}

EngineStatus FtpSession::finishTransfer(DataConnection& data, const std::string& verb,
                                        const EngineStatus& dataStatus, bool startAnswered) {
    // Closing first tells the server a transfer we abandon is over, so its final reply comes at once.
    data.close();
    if (dataStatus.code() == FCE_E_TIMEOUT || dataStatus.code() == FCE_E_INTERRUPTED) {
        // The server went silent mid-transfer, or the host gave up on it; whatever it says later would
        // answer the wrong command.
        m_trace.note(dataStatus.text());
        m_control.close();
        return dataStatus;
    }
    FtpReply reply;
    // After a transfer that failed (often this side ended it: too many bytes, a local write error) the
    // server owes a quick word; one that says nothing for seconds is left, not waited for a whole minute.
    const int waitMs =
        dataStatus.ok() ? m_control.timeout() : std::min(m_abandonGraceMs, m_control.timeout());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    EngineStatus replyStatus = m_control.readReply(reply, verb, deadline, waitMs);
    // Data that went out ahead of the command's answer: the 150 comes first, and a refusal explains why
    // the data connection failed.
    if (!startAnswered && replyStatus.ok() && reply.isPreliminary())
        replyStatus = m_control.readReply(reply, verb, deadline, waitMs);
    else if (!startAnswered && replyStatus.ok() && reply.code >= 400)
        return refusedBy(reply);
    if (!dataStatus.ok())
        return dataStatus;
    if (!replyStatus.ok())
        return replyStatus;
    if (reply.code == 426)
        return refusedBy(reply, FCE_E_DATA_CONNECTION);
    if (reply.code != 226 && reply.code != 250)
        return refusedBy(reply);
    if (mentionsTruncation(reply))
        return refusedBy(reply, FCE_E_INCOMPLETE);
    return {};
}

EngineStatus FtpSession::runListing(const std::string& command, std::string& raw, FtpReply& startReply) {
    DataConnection data;
    raw.clear();
    if (EngineStatus status = startTransfer(data, command, startReply); !status.ok())
        return status;
    EngineStatus received = data.receiveText(raw, kLargestListing, command);
    if (received.ok() && !m_usePasv)
        received = m_control.sendAhead("EPSV"); // for the folder's first file, as after a download
    return finishTransfer(data, command, received);
}

EngineStatus FtpSession::list(std::vector<ListingEntry>& entries, int64_t askedAt) {
    if (EngineStatus status = setBinary(); !status.ok())
        return status;
    std::string raw;
    FtpReply startReply;
    EngineStatus status = runListing(m_useMlsd ? "MLSD" : "LIST", raw, startReply);
    if (!status.ok() && m_useMlsd && startReply.code >= 500 && startReply.code <= 502) {
        m_useMlsd = false; // FEAT promised more than the server does
        status = runListing("LIST", raw, startReply);
    }
    if (!status.ok())
        return status;
    auto format = m_useMlsd ? ListingParser::Format::Mlsd : ListingParser::Format::List;
    if (status = ListingParser::parse(raw, format, entries, askedAt); !status.ok())
        return status;
    m_listedSizes.clear();
    for (const ListingEntry& entry : entries) {
        if (!entry.isDirectory && entry.size >= 0)
            m_listedSizes[entry.name] = entry.size;
    }
    return {};
}

namespace {

// Holds a folder descriptor for as long as the session uses it.
std::shared_ptr<int> ownedFolder(int fd) {
    return std::shared_ptr<int>(new int(fd), [](int* held) {
        ::close(*held);
        delete held;
    });
}

} // namespace

EngineStatus FtpSession::setLocalDirectory(const std::string& path) {
    if (path.empty() || path.front() != '/')
        return EngineStatus::failure(FCE_E_LOCAL_FILE, "Local directory is not an absolute path: " + path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return EngineStatus::failure(FCE_E_LOCAL_FILE, "Local directory does not exist: " + path);
    m_localFolder = ownedFolder(fd);
    m_localDir = path;
    while (m_localDir.size() > 1 && m_localDir.back() == '/')
        m_localDir.pop_back();
    return {};
}

EngineStatus FtpSession::setLocalDirectory(int folder, const std::string& shownPath) {
    const int fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return EngineStatus::failure(FCE_E_LOCAL_FILE, "Local directory is not an open folder: " + shownPath);
    }
    m_localFolder = ownedFolder(fd);
    m_localDir = shownPath;
    return {};
}

EngineStatus FtpSession::requireLocalDirectory() const {
    if (!m_localFolder)
        return EngineStatus::failure(FCE_E_LOCAL_FILE, "No local directory set");
    return {};
}

EngineStatus FtpSession::checkLocalTarget(const std::string& name, const std::string& path) const {
    struct stat info {};
    if (::fstatat(*m_localFolder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    if (S_ISDIR(info.st_mode))
        return EngineStatus::failure(FCE_E_LOCAL_FILE, "A local folder has the name of the file: " + path);
    if (!m_replaceLocal)
        return EngineStatus::failure(FCE_E_LOCAL_FILE, "Local file already exists: " + path);
    return {};
}

EngineStatus FtpSession::readyToTransfer(const std::string& name) {
    if (!NameSafety::isPlainComponent(name))
        return unsafeName(name);
    if (EngineStatus status = requireReady(); !status.ok())
        return status;
    if (EngineStatus status = requireLocalDirectory(); !status.ok())
        return status;
    return setBinary();
}

// The size a download must reach: the listing's, else SIZE's when FEAT offers it, else -1 (said in the
// trace, since the transfer's end is then the only sign that it is complete).
EngineStatus FtpSession::expectedSize(const std::string& name, int64_t& size) {
    size = -1;
    auto listed = m_listedSizes.find(name);
    if (listed != m_listedSizes.end()) {
        size = listed->second;
        return {};
    }
    if (EngineStatus status = askSize(name, size); !status.ok() || size >= 0)
        return status;
    m_trace.note("No size known for " + name + ": the transfer cannot be checked for completeness");
    return {};
}

EngineStatus FtpSession::askSize(const std::string& name, int64_t& size) {
    size = -1;
    if (!m_offersSize)
        return {};
    FtpReply reply;
    if (EngineStatus status = m_control.command("SIZE " + name, reply); !status.ok())
        return status;
    const std::string digits = reply.lastLine().substr(std::min<size_t>(4, reply.lastLine().size()));
    if (reply.code == 213 && !digits.empty() && digits.size() <= 18 &&
        std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        size = std::stoll(digits);
    return {};
}

EngineStatus FtpSession::fileSize(const std::string& name, int64_t& size) {
    size = -1;
    if (!NameSafety::isPlainComponent(name))
        return unsafeName(name);
    if (EngineStatus status = requireReady(); !status.ok())
        return status;
    // SIZE counts the bytes of the representation type: in ASCII mode some servers refuse it.
    if (EngineStatus status = setBinary(); !status.ok())
        return status;
    return askSize(name, size);
}

EngineStatus FtpSession::getFile(const std::string& name, int64_t knownSize) {
    if (EngineStatus status = readyToTransfer(name); !status.ok())
        return status;
    LocalPartialFile file(*m_localFolder, m_localDir, name);
    if (EngineStatus status = checkLocalTarget(name, file.finalPath()); !status.ok())
        return status;
    int64_t expected = knownSize;
    if (EngineStatus status = knownSize >= 0 ? EngineStatus() : expectedSize(name, expected); !status.ok())
        return status;
    if (EngineStatus status = file.create(); !status.ok())
        return status;
    TransferProgress progress(m_hook, m_hookContext);
    CallWatch::Heartbeat heartbeat(progress);
    DataConnection data;
    FtpReply startReply;
    if (EngineStatus status = startTransfer(data, "RETR " + name, startReply); !status.ok())
        return status;
    EngineStatus received = data.receiveFile(file, progress, expected, "RETR");
    progress.finish();
    // The data has ended: the next file's EPSV goes now and its answer follows the 226, instead of a
    // round trip after it (a server that holds the 226 until its 150 is acknowledged sends it at once).
    if (received.ok() && !m_usePasv)
        received = m_control.sendAhead("EPSV");
    if (EngineStatus status = finishTransfer(data, "RETR", received); !status.ok())
        return status.code() == FCE_E_INCOMPLETE && received.code() == FCE_E_INCOMPLETE
                   ? EngineStatus::failure(FCE_E_INCOMPLETE, status.text() + " " + name)
                   : status;
    if (expected >= 0 && expected != progress.bytes())
        return EngineStatus::failure(FCE_E_INCOMPLETE, "Received " + std::to_string(progress.bytes()) +
                                                           " of " + std::to_string(expected) + " bytes of " +
                                                           name);
    return file.commit();
}

EngineStatus FtpSession::putFile(const std::string& name) {
    if (EngineStatus status = readyToTransfer(name); !status.ok())
        return status;
    std::string path = m_localDir + "/" + name;
    // A link is never sent: what it points at may lie outside the folder being restored.
    int fd = ::openat(*m_localFolder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return EngineStatus::failure(FCE_E_LOCAL_FILE,
                                     std::string(std::strerror(errno)) + ": cannot open " + path);
    struct stat info {};
    EngineStatus status;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        status = EngineStatus::failure(FCE_E_LOCAL_FILE, "Not a regular file: " + path);
    TransferProgress progress(m_hook, m_hookContext);
    CallWatch::Heartbeat heartbeat(progress);
    DataConnection data;
    FtpReply startReply;
    // Over a plain connection the file follows STOR at once, not after its 150: a round trip less per
    // file. Only what the socket takes without waiting goes ahead of the server's word; before the first
    // wait the 150 (or a refusal) is read, so a server that refused the file is never waited on. Under
    // TLS the server starts the data handshake only after its 150.
    bool answered = m_protected;
    bool refused = false;
    const std::function<EngineStatus()> awaitStart = [&] {
        answered = true;
        EngineStatus started = m_control.readReply(startReply, "STOR");
        if (started.ok() && !startReply.isPreliminary())
            started = refusedBy(startReply);
        refused = !started.ok();
        return started;
    };
    if (status.ok())
        status = startTransfer(data, "STOR " + name, startReply, answered);
    if (status.ok()) {
        const EngineStatus sent =
            data.sendFile(fd, info.st_size, progress, "STOR", answered ? nullptr : awaitStart);
        status = refused ? sent : finishTransfer(data, "STOR", sent, answered);
    }
    progress.finish();
    ::close(fd);
    if (status.ok() && progress.bytes() != info.st_size)
        status =
            EngineStatus::failure(FCE_E_INCOMPLETE, "Sent " + std::to_string(progress.bytes()) + " of " +
                                                        std::to_string(info.st_size) + " bytes of " + name);
    return status;
}
