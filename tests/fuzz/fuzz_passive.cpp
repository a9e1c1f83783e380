#include "FuzzCheck.h"
#include "PassiveReply.h"

#include <string>

// A port is taken only as the reply writes it, never 0, and the reply a server would send for it gives it
// back.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    uint16_t port = 0;
    uint16_t again = 0;
    if (PassiveReply::parseEpsvPort(line, port)) {
        FUZZ_CHECK(port != 0 && line.find(std::to_string(port)) != std::string::npos);
        const std::string sent = "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)";
        FUZZ_CHECK(PassiveReply::parseEpsvPort(sent, again) && again == port);
    }
    if (PassiveReply::parsePasvPort(line, port)) {
        const std::string high = std::to_string(port / 256), low = std::to_string(port % 256);
        FUZZ_CHECK(port != 0 && line.find(high) != std::string::npos && line.find(low) != std::string::npos);
        const std::string sent = "227 Entering Passive Mode (10,0,0,1," + high + "," + low + ")";
        FUZZ_CHECK(PassiveReply::parsePasvPort(sent, again) && again == port);
    }
    return 0;
}
