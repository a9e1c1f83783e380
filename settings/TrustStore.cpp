#include "TrustStore.h"

#include "OwnershipCheck.h"
#include "SettingsFile.h"

#include <cctype>
#include <sstream>

namespace {

constexpr const char* kPrefix = "SHA256:";
constexpr std::size_t kPairs = 32; // SHA-256 is 32 bytes
constexpr const char* kHeader =
    "# Certificates trusted for FTPS servers: a fingerprint, one blank, the server as typed.\n";

struct Entry {
    std::string fingerprint;
    std::string server;
};

// One line of the file as an entry; an empty fingerprint for comments and lines that are not entries.
Entry entryOf(std::string line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const auto blank = line.find(' ');
    if (line.empty() || line[0] == '#' || blank == std::string::npos)
        return {};
    return {TrustStore::normalizedFingerprint(line.substr(0, blank)), line.substr(blank + 1)};
}

// A server text ends at the line's end, so it must not hold a line break of its own.
bool fitsOnOneLine(const std::string& server) {
    return server.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

} // namespace

std::string TrustStore::pathBeside(const std::string& settingsPath) {
    const auto slash = settingsPath.find_last_of('/');
    const auto nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = settingsPath.find_last_of('.');
    // A dot that starts the name (".kavrel") or sits in a folder name is no extension.
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    return settingsPath.substr(0, hasExtension ? dot : settingsPath.size()) + ".TRUST";
}

std::string TrustStore::normalizedFingerprint(const std::string& text) {
    const std::string prefix = kPrefix;
    if (text.size() != prefix.size() + kPairs * 3 - 1)
        return {};
    std::string result = prefix;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i])
            return {};
    for (std::size_t i = prefix.size(); i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool colonPlace = (i - prefix.size()) % 3 == 2;
        if (colonPlace ? c != ':' : !std::isxdigit(c))
            return {};
        result += static_cast<char>(std::toupper(c));
    }
    return result;
}

std::string TrustStore::refusal() const {
    return OwnershipCheck::refusalOf("trust file", m_path, false);
}

std::string TrustStore::fingerprintFor(const std::string& server) const {
    std::string content;
    if (SettingsFile::read(m_path, content, SettingsFile::Links::Refuse) != SettingsFile::State::Readable)
        return {};
    std::istringstream lines(content);
    std::string found;
    for (std::string line; std::getline(lines, line);) {
        const Entry entry = entryOf(line);
        // The last entry wins, as it would after a rewrite.
        if (!entry.fingerprint.empty() && entry.server == server)
            found = entry.fingerprint;
    }
    return found;
}

bool TrustStore::trust(const std::string& server, const std::string& fingerprint) const {
    const std::string normalized = normalizedFingerprint(fingerprint);
    if (normalized.empty() || !fitsOnOneLine(server))
        return false;
    std::string content;
    const SettingsFile::State state = SettingsFile::read(m_path, content, SettingsFile::Links::Refuse);
    if (state == SettingsFile::State::Unusable)
        return false;
    std::string rewritten = state == SettingsFile::State::Absent ? kHeader : "";
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
        const Entry entry = entryOf(line);
        // Every earlier entry of this server goes; comments and other servers stay as they were.
        if (entry.fingerprint.empty() || entry.server != server)
            rewritten += line + "\n";
    }
    rewritten += normalized + " " + server + "\n";
    return SettingsFile::replace(m_path, rewritten, state == SettingsFile::State::Readable);
}
