// The fce* calls: argument checks, the channels, and the turning of each outcome into a signed code
// whose words fceErrorText gives back. The FTP work itself is FtpSession's, one per channel. Each channel
// may be driven by a thread of its own: a channel's session, its busy flag and its error texts are its
// own, and the trace they share takes one line at a time.

#include "FtpEngine.h"

#include "CallWatch.h"
#include "ErrorRegistry.h"
#include "FtpSession.h"
#include "ListingParser.h"
#include "ProtocolTrace.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <openssl/crypto.h>
#include <vector>

namespace {

constexpr int32_t kVersion = 0x100;
constexpr const char* kVersionText = "1.0.0";
constexpr int32_t kListKindNames = 1;

// The most channels fceAttach gives: far beyond what a server grants one address.
constexpr int32_t kMostChannels = 64;

struct Channel {
    explicit Channel(ProtocolTrace& trace) : session(trace) {}
    FtpSession session;
    std::atomic<bool> busy{false}; // inside a call: a progress hook (or another thread) must not re-enter
    ErrorRegistry errors;
};

struct Engine {
    ProtocolTrace trace;
    std::vector<std::unique_ptr<Channel>> channels;
    std::mutex modelLock; // a channel copying another's connection settings
};

std::unique_ptr<Engine>& engine() {
    static std::unique_ptr<Engine> instance;
    return instance;
}

// Kept apart from the engine so that even "not attached" and a wrong channel have their words.
ErrorRegistry& engineErrors() {
    static ErrorRegistry registry;
    return registry;
}

// The channel whose call this thread is making, whose texts a failure goes to.
thread_local Channel* t_channel = nullptr;

int32_t fail(int32_t code, const std::string& text) {
    (t_channel != nullptr ? t_channel->errors : engineErrors()).record(code, text);
    if (engine())
        engine()->trace.note("Error " + std::to_string(code) + ": " + text);
    return code;
}

Channel* channelOf(int32_t channel) {
    if (!engine() || channel < 0 || static_cast<size_t>(channel) >= engine()->channels.size())
        return nullptr;
    return engine()->channels[static_cast<size_t>(channel)].get();
}

int32_t noSuchChannel(int32_t channel) {
    const size_t count = engine() ? engine()->channels.size() : 0;
    return fail(FCE_E_BAD_ARGUMENT, "No channel " + std::to_string(channel) + " (channels 0 to " +
                                        std::to_string(count - 1) + ")");
}

// The calling thread works for one channel while the scope lasts: its failures and trace lines are that
// channel's.
class ChannelScope {
public:
    explicit ChannelScope(Channel& channel, int32_t number) : m_previous(t_channel) {
        t_channel = &channel;
        ProtocolTrace::setThreadChannel(number);
    }
    ~ChannelScope() {
        t_channel = m_previous;
        ProtocolTrace::setThreadChannel(0);
    }
    ChannelScope(const ChannelScope&) = delete;
    ChannelScope& operator=(const ChannelScope&) = delete;

private:
    Channel* m_previous;
};

int32_t outcome(const EngineStatus& status, int32_t success = 0) {
    return status.ok() ? success : fail(status.code(), status.text());
}

// Runs one call on a channel of an attached engine; operation returns the call's result.
template <typename Operation> int32_t onChannel(int32_t channel, Operation operation) {
    if (!engine())
        return fail(FCE_E_NOT_ATTACHED, "FTP engine not attached");
    Channel* current = channelOf(channel);
    if (current == nullptr)
        return noSuchChannel(channel);
    ChannelScope scope(*current, channel);
    if (current->busy.exchange(true))
        return fail(FCE_E_BAD_ARGUMENT, "Channel " + std::to_string(channel) +
                                            " was called again while a call on it was running");
    int32_t result = operation(*current);
    current->busy = false;
    current->session.settle();
    return result;
}

int32_t copyOut(const std::string& text, char* buffer, int32_t size) {
    if (buffer == nullptr || size <= 0)
        return fail(FCE_E_BAD_ARGUMENT, "No buffer given");
    size_t count = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int32_t>(count);
}

int32_t nullArgument(const char* call) {
    return fail(FCE_E_BAD_ARGUMENT, std::string("Missing argument to ") + call);
}

std::string description() {
    return std::string("Kavrel FTP engine ") + kVersionText + " (" + OpenSSL_version(OPENSSL_VERSION) + ")";
}

} // namespace

int32_t fceAttach(int32_t channels) {
    if (channels < 1 || channels > kMostChannels)
        return fail(FCE_E_BAD_ARGUMENT,
                    "From 1 to " + std::to_string(kMostChannels) + " channels can be attached");
    if (engine())
        return 0;
    auto attached = std::make_unique<Engine>();
    for (int32_t number = 0; number < channels; ++number)
        attached->channels.push_back(std::make_unique<Channel>(attached->trace));
    engine() = std::move(attached);
    return 0;
}

int32_t fceRelease() {
    if (!engine())
        return fail(FCE_E_NOT_ATTACHED, "FTP engine not attached");
    for (const auto& channel : engine()->channels) {
        if (channel->busy)
            return fail(FCE_E_BAD_ARGUMENT, "The FTP engine was released while a call was running");
    }
    for (const auto& channel : engine()->channels)
        channel->session.close();
    engine().reset();
    CallWatch::withdrawInterrupt();
    return 0;
}

int32_t fceGetInteger(int32_t channel, int32_t parameter) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        switch (parameter) {
        case FCE_VERSION:
            return kVersion;
        case FCE_CONNECT_TIMEOUT_MS:
            return current.session.connectTimeout();
        case FCE_SILENCE_MS:
            return current.session.silenceLimit();
        case FCE_PASSIVE:
            return 1;
        case FCE_INTERRUPT_DUE:
            return CallWatch::interrupted() ? 1 : 0;
        case FCE_LOW_SPEED_BYTES:
            return current.session.lowSpeedBytes();
        case FCE_ABANDON_GRACE_MS:
            return current.session.abandonGrace();
        case FCE_REPLACE_LOCAL:
            return current.session.replaceLocal() ? 1 : 0;
        default:
            return fail(FCE_E_BAD_ARGUMENT, "Unknown integer parameter " + std::to_string(parameter));
        }
    });
}

int32_t fceSetInteger(int32_t channel, int32_t parameter, int32_t value) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        switch (parameter) {
        case FCE_CONNECT_TIMEOUT_MS:
        case FCE_SILENCE_MS:
        case FCE_ABANDON_GRACE_MS:
            if (value <= 0)
                return fail(FCE_E_BAD_ARGUMENT, "A time limit must be a positive number of milliseconds");
            if (parameter == FCE_SILENCE_MS)
                current.session.setSilenceLimit(value);
            else if (parameter == FCE_ABANDON_GRACE_MS)
                current.session.setAbandonGrace(value);
            else
                current.session.setConnectTimeout(value);
            return 0;
        case FCE_LOW_SPEED_BYTES:
            if (value < 0)
                return fail(FCE_E_BAD_ARGUMENT, "The low-speed limit cannot be negative");
            current.session.setLowSpeedBytes(value);
            return 0;
        case FCE_PASSIVE:
            return value == 1 ? 0 : fail(FCE_E_BAD_ARGUMENT, "Only passive data connections are supported");
        case FCE_REPLACE_LOCAL:
            current.session.setReplaceLocal(value != 0);
            return 0;
        default:
            return fail(FCE_E_BAD_ARGUMENT, "Unknown integer parameter " + std::to_string(parameter));
        }
    });
}

int32_t fceGetString(int32_t channel, int32_t parameter, char* buffer, int32_t size) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        const PeerCertificate& peer = current.session.peerCertificate();
        switch (parameter) {
        case FCE_DESCRIPTION:
            return copyOut(description(), buffer, size);
        case FCE_TLS_STATUS:
            return copyOut(current.session.tlsStatus(), buffer, size);
        case FCE_SERVER_ADDRESS:
            return copyOut(current.session.serverAddress(), buffer, size);
        case FCE_PEER_FINGERPRINT:
            return copyOut(peer.fingerprint, buffer, size);
        case FCE_PEER_SUBJECT:
            return copyOut(peer.subject, buffer, size);
        case FCE_PEER_ISSUER:
            return copyOut(peer.issuer, buffer, size);
        case FCE_PEER_VALIDITY:
            return copyOut(peer.validity, buffer, size);
        default:
            return fail(FCE_E_BAD_ARGUMENT, "Unknown text parameter " + std::to_string(parameter));
        }
    });
}

int32_t fceSetString(int32_t channel, int32_t parameter, const char* value) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (value == nullptr)
            return nullArgument("fceSetString");
        if (parameter == FCE_TRUSTED_FINGERPRINT) {
            current.session.setTrustedFingerprint(value);
            return 0;
        }
        if (parameter != FCE_TRACE_FILE)
            return fail(FCE_E_BAD_ARGUMENT, "Unknown text parameter " + std::to_string(parameter));
        return outcome(engine()->trace.open(value));
    });
}

int32_t fceConnect(int32_t channel, const char* server, const char* user, const char* password) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (server == nullptr || user == nullptr || password == nullptr)
            return nullArgument("fceConnect");
        return outcome(current.session.connect(server, user, password));
    });
}

int32_t fceConnectAs(int32_t channel, int32_t model) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        Channel* first = channelOf(model);
        if (first == nullptr || first == &current)
            return fail(FCE_E_BAD_ARGUMENT, "No other channel " + std::to_string(model) + " to connect like");
        ConnectionModel settings;
        {
            // Several channels may copy the first at once; it is idle meanwhile (its host waits).
            const std::lock_guard<std::mutex> hold(engine()->modelLock);
            if (first->busy)
                return fail(FCE_E_BAD_ARGUMENT, "Channel " + std::to_string(model) + " is busy");
            if (EngineStatus status = first->session.model(settings); !status.ok())
                return outcome(status);
        }
        return outcome(current.session.connectLike(settings));
    });
}

int32_t fceSetMode(int32_t channel, int32_t mode) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (mode != 'B')
            return fail(FCE_E_BAD_ARGUMENT, "Only binary mode ('B') is supported");
        return outcome(current.session.setBinary());
    });
}

int32_t fceClose(int32_t channel) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        current.session.close();
        return 0;
    });
}

// The newer of the channel's text for the code and the engine's own (a failure before any channel was
// reached, such as a wrong channel number).
int32_t fceErrorText(int32_t channel, int32_t code, char* buffer, int32_t size) {
    Channel* current = channelOf(channel);
    if (current == nullptr && engine())
        return noSuchChannel(channel);
    return copyOut(current != nullptr ? ErrorRegistry::newer(current->errors, engineErrors(), code)
                                      : engineErrors().textFor(code),
                   buffer, size);
}

int32_t fceGetList(int32_t channel, int32_t kind, std::vector<FceListEntry>& entries, int64_t askedAt) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (kind != kListKindNames)
            return fail(FCE_E_BAD_ARGUMENT, "Unknown list kind " + std::to_string(kind));
        std::vector<FceListEntry> listed;
        EngineStatus status =
            current.session.list(listed, askedAt >= 0 ? askedAt : static_cast<int64_t>(std::time(nullptr)));
        if (!status.ok())
            return outcome(status);
        if (listed.size() > static_cast<size_t>(INT32_MAX))
            return fail(FCE_E_BUFFER_TOO_SMALL, "The listing has more entries than a count can say");
        entries = std::move(listed);
        return static_cast<int32_t>(entries.size());
    });
}

int32_t fceGetList(int32_t channel, int32_t kind, std::string& listing) {
    std::vector<FceListEntry> entries;
    const int32_t count = fceGetList(channel, kind, entries);
    if (count < 0)
        return count;
    listing = ListingParser::listText(entries);
    return static_cast<int32_t>(listing.size());
}

int32_t fceGetList(int32_t channel, int32_t kind, char* buffer, int32_t size) {
    if (buffer == nullptr || size <= 0)
        return engine() ? nullArgument("fceGetList") : fail(FCE_E_NOT_ATTACHED, "FTP engine not attached");
    std::string text;
    int32_t length = fceGetList(channel, kind, text);
    if (length < 0)
        return length;
    if (length > size)
        return fail(FCE_E_BUFFER_TOO_SMALL, "The listing of " + std::to_string(length) +
                                                " bytes does not fit a buffer of " + std::to_string(size) +
                                                " bytes");
    std::memcpy(buffer, text.data(), text.size());
    if (length < size)
        buffer[length] = '\0';
    return length;
}

int32_t fceSetLocalDir(int32_t channel, const char* absolutePath) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (absolutePath == nullptr)
            return nullArgument("fceSetLocalDir");
        return outcome(current.session.setLocalDirectory(absolutePath));
    });
}

int32_t fceSetLocalDirAt(int32_t channel, int folder, const char* shownPath) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (shownPath == nullptr)
            return nullArgument("fceSetLocalDirAt");
        return outcome(current.session.setLocalDirectory(folder, shownPath));
    });
}

int32_t fceSetServerDir(int32_t channel, const char* name) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (name == nullptr)
            return nullArgument("fceSetServerDir");
        std::string directory(name);
        return outcome(directory == "\\" ? current.session.changeToRoot()
                                         : current.session.changeDirectory(directory));
    });
}

int32_t fceSetServerPath(int32_t channel, const char* path) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (path == nullptr)
            return nullArgument("fceSetServerPath");
        std::vector<std::string> components;
        const std::string text(path);
        size_t start = 0;
        while (start <= text.size()) {
            const size_t end = std::min(text.find('\\', start), text.size());
            if (end > start)
                components.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return outcome(current.session.changePath(components));
    });
}

int32_t fceMakeServerDir(int32_t channel, const char* name) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (name == nullptr)
            return nullArgument("fceMakeServerDir");
        return outcome(current.session.makeDirectory(name));
    });
}

int32_t fceGetFile(int32_t channel, const char* name) {
    return fceGetFileExpecting(channel, name, -1);
}

int32_t fceGetFileExpecting(int32_t channel, const char* name, int64_t size) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (name == nullptr)
            return nullArgument("fceGetFile");
        return outcome(current.session.getFile(name, size));
    });
}

int32_t fceGetFileSize(int32_t channel, const char* name, int64_t& size) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (name == nullptr)
            return nullArgument("fceGetFileSize");
        return outcome(current.session.fileSize(name, size));
    });
}

int32_t fcePutFile(int32_t channel, const char* name) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        if (name == nullptr)
            return nullArgument("fcePutFile");
        return outcome(current.session.putFile(name));
    });
}

int32_t fceSetProgressHook(int32_t channel, FceProgressHook hook, void* context) {
    return onChannel(channel, [&](Channel& current) -> int32_t {
        current.session.setProgressHook(hook, context);
        return 0;
    });
}

int32_t fceInterrupt(int32_t channel, int32_t afterMs) {
    // No error text is recorded here: that would allocate, which a signal handler must not. Whichever
    // channel names it, the interrupt reaches every channel: a host stops a whole run, never one part.
    if (channel < 0)
        return FCE_E_BAD_ARGUMENT;
    if (afterMs < 0)
        CallWatch::withdrawInterrupt();
    else
        CallWatch::interruptAfter(afterMs);
    return 0;
}
