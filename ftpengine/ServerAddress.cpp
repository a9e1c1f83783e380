#include "ServerAddress.h"

#include "FtpEngine.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>

bool ServerAddress::parsePort(const std::string& digits, uint16_t& port) {
    if (digits.empty() || digits.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

bool ServerAddress::takeScheme(std::string& text, Security& security) {
    auto separator = text.find("://");
    if (separator == std::string::npos)
        return true;
    std::string scheme = text.substr(0, separator);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (scheme == "ftp")
        security = Security::Plain;
    else if (scheme == "ftpes")
        security = Security::Explicit;
    else if (scheme == "ftps")
        security = Security::Implicit;
    else
        return false;
    text.erase(0, separator + 3);
    // A trailing "/" is how URLs are often pasted; a path beyond it is not a server.
    if (!text.empty() && text.back() == '/')
        text.pop_back();
    return true;
}

EngineStatus ServerAddress::parse(const std::string& typed, ServerAddress& result) {
    const EngineStatus invalid =
        EngineStatus::failure(FCE_E_BAD_ARGUMENT, "Invalid server address: " + typed);
    ServerAddress parsed;
    std::string text = typed;
    if (!takeScheme(text, parsed.m_security) || text.find('/') != std::string::npos)
        return invalid;
    if (parsed.m_security == Security::Implicit)
        parsed.m_port = kImplicitPort;
    std::string portText;
    if (!text.empty() && text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string::npos || close == 1)
            return invalid;
        parsed.m_host = text.substr(1, close - 1);
        std::string rest = text.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || rest.size() == 1))
            return invalid;
        portText = rest.empty() ? std::string() : rest.substr(1);
    } else {
        auto colon = text.find(':');
        bool singleColon = colon != std::string::npos && text.find(':', colon + 1) == std::string::npos;
        parsed.m_host = singleColon ? text.substr(0, colon) : text;
        portText = singleColon ? text.substr(colon + 1) : std::string();
        if (singleColon && portText.empty())
            return invalid;
    }
    // Brackets only enclose an address, and no host holds a control character: either would make the
    // host shown ("[v6]:port") read back as another.
    const bool oddCharacter = std::any_of(parsed.m_host.begin(), parsed.m_host.end(), [](unsigned char c) {
        return c == '[' || c == ']' || c < 0x20 || c == 0x7f;
    });
    if (parsed.m_host.empty() || oddCharacter || (!portText.empty() && !parsePort(portText, parsed.m_port)))
        return invalid;
    result = parsed;
    return {};
}

std::string ServerAddress::display() const {
    bool isV6 = m_host.find(':') != std::string::npos;
    return (isV6 ? "[" + m_host + "]" : m_host) + ":" + std::to_string(m_port);
}

bool ServerAddress::isNumeric() const {
    unsigned char address[16];
    return ::inet_pton(AF_INET, m_host.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, m_host.c_str(), address) == 1;
}
