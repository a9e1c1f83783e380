#pragma once

#include "EngineStatus.h"

#include <cstdint>
#include <string>

// The server as the user typed it: "host", "host:port", "[v6 address]:port" or "[v6 address]";
// a bare IPv6 address without brackets is taken whole, with the default port.
class ServerAddress {
public:
    static constexpr uint16_t kDefaultPort = 21;

    static EngineStatus parse(const std::string& text, ServerAddress& result);

    const std::string& host() const { return m_host; }
    uint16_t port() const { return m_port; }
    // "host:port", with brackets around an IPv6 address, as error texts show it.
    std::string display() const;

private:
    static bool parsePort(const std::string& digits, uint16_t& port);

    std::string m_host;
    uint16_t m_port = kDefaultPort;
};
