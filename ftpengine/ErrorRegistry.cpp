#include "ErrorRegistry.h"

#include "FtpEngine.h"

#include <atomic>

namespace {

std::atomic<uint64_t> g_recorded{0};

} // namespace

void ErrorRegistry::record(int32_t code, const std::string& text) {
    const std::lock_guard<std::mutex> hold(m_lock);
    m_latest[code] = {++g_recorded, text.empty() ? generalText(code) : text};
}

void ErrorRegistry::clear() {
    const std::lock_guard<std::mutex> hold(m_lock);
    m_latest.clear();
}

std::pair<uint64_t, std::string> ErrorRegistry::latest(int32_t code) const {
    const std::lock_guard<std::mutex> hold(m_lock);
    auto found = m_latest.find(code);
    return found != m_latest.end() ? found->second : std::pair<uint64_t, std::string>{0, generalText(code)};
}

std::string ErrorRegistry::textFor(int32_t code) const {
    return latest(code).second;
}

std::string ErrorRegistry::newer(const ErrorRegistry& first, const ErrorRegistry& second, int32_t code) {
    auto one = first.latest(code);
    auto other = second.latest(code);
    return one.first >= other.first ? one.second : other.second;
}

std::string ErrorRegistry::generalText(int32_t code) {
    switch (code) {
    case FCE_E_NOT_ATTACHED:
        return "FTP engine not attached";
    case FCE_E_BAD_ARGUMENT:
        return "Invalid argument";
    case FCE_E_NOT_CONNECTED:
        return "Not connected";
    case FCE_E_RESOLVE:
        return "Unknown host";
    case FCE_E_CONNECT:
        return "Connection failed";
    case FCE_E_TIMEOUT:
        return "No reply from the server in time";
    case FCE_E_CONNECTION_LOST:
        return "Connection closed by the server";
    case FCE_E_SERVER_REPLY:
        return "The server refused the command";
    case FCE_E_LOGIN:
        return "Login refused";
    case FCE_E_DATA_CONNECTION:
        return "Data connection failed";
    case FCE_E_LOCAL_FILE:
        return "Local file error";
    case FCE_E_UNSAFE_NAME:
        return "Unsafe file name";
    case FCE_E_INCOMPLETE:
        return "Incomplete transfer";
    case FCE_E_BUFFER_TOO_SMALL:
        return "Buffer too small";
    case FCE_E_PROTOCOL:
        return "Unreadable reply from the server";
    case FCE_E_TLS:
        return "TLS failure";
    case FCE_E_INTERRUPTED:
        return "Interrupted";
    case FCE_E_UNTRUSTED_CERTIFICATE:
        return "The server's certificate is not trusted";
    default:
        return code < 0 ? "Unknown error " + std::to_string(code) : "No error";
    }
}
