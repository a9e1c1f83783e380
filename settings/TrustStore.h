#pragma once

#include <string>

// The certificates the administrator trusted, one fingerprint per server, in a file of their own beside
// the settings file ("kavrel.INI" -> "kavrel.TRUST"), so that the settings file keeps its keys and an
// installed program finds the list wherever its settings live. Each line is a fingerprint, one blank
// and the server exactly as typed; lines starting with "#" are comments. Every call is one complete
// access to the file, and a rewrite is atomic and owner-only. A list that someone else could have
// written (OwnershipCheck), or a link in its place, is neither read nor rewritten.
class TrustStore {
public:
    explicit TrustStore(std::string path) : m_path(std::move(path)) {}

    // The trust file that belongs to a settings file: same folder, same name, extension ".TRUST".
    static std::string pathBeside(const std::string& settingsPath);

    // "SHA256:" and 32 pairs of hex digits separated by colons, upper case; empty when text is not one.
    static std::string normalizedFingerprint(const std::string& text);

    const std::string& path() const { return m_path; }

    // Why the list cannot be used (another user's, writable by others, a link), with the command that
    // mends it; empty when it can be (or is absent).
    std::string refusal() const;

    // The fingerprint trusted for server; empty when none is (or the file cannot be read).
    std::string fingerprintFor(const std::string& server) const;

    // Trusts fingerprint for server, replacing what was trusted for it before. False when nothing was
    // stored: a malformed fingerprint, a server text that cannot be one line, or a file that cannot be
    // written.
    bool trust(const std::string& server, const std::string& fingerprint) const;

private:
    std::string m_path;
};
