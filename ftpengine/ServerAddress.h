#pragma once

#include "EngineStatus.h"

#include <cstdint>
#include <string>

// The server as the user typed it: "host", "host:port", "[v6 address]:port" or "[v6 address]", each
// optionally after "ftp://", "ftpes://" or "ftps://"; a bare IPv6 address without brackets is taken
// whole, with the default port.
class ServerAddress {
public:
    // How the connection is protected; the scheme chooses it.
    enum class Security {
        Opportunistic, // no scheme: AUTH TLS, clear text only when the server answers it with 5xx
        Plain,         // "ftp://": never AUTH
        Explicit,      // "ftpes://": AUTH TLS must be accepted
        Implicit,      // "ftps://": TLS from the first byte
    };
    static constexpr uint16_t kDefaultPort = 21;
    static constexpr uint16_t kImplicitPort = 990;

    static EngineStatus parse(const std::string& text, ServerAddress& result);

    const std::string& host() const { return m_host; }
    uint16_t port() const { return m_port; }
    Security security() const { return m_security; }
    // "host:port", with brackets around an IPv6 address, as error texts show it.
    std::string display() const;
    // True when the host is a numeric address: no SNI for it, and its certificate must name the address.
    bool isNumeric() const;

private:
    static bool parsePort(const std::string& digits, uint16_t& port);
    // Takes a known scheme off the front of text; false for an unknown one.
    static bool takeScheme(std::string& text, Security& security);

    std::string m_host;
    uint16_t m_port = kDefaultPort;
    Security m_security = Security::Opportunistic;
};
