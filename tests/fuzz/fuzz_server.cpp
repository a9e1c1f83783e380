#include "FuzzCheck.h"
#include "ServerAddress.h"

#include <string>

// A server text (host, host:port, [v6]:port, after ftp://, ftpes:// or ftps://) is read whole or refused;
// what it names, written back as the hosts show it, reads the same.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ServerAddress address;
    if (!ServerAddress::parse(std::string(reinterpret_cast<const char*>(data), size), address).ok())
        return 0;
    FUZZ_CHECK(!address.host().empty() && address.port() != 0);
    static const char* const kSchemes[] = {"", "ftp://", "ftpes://", "ftps://"};
    ServerAddress again;
    FUZZ_CHECK(ServerAddress::parse(kSchemes[int(address.security())] + address.display(), again).ok());
    FUZZ_CHECK(again.host() == address.host() && again.port() == address.port() &&
               again.security() == address.security());
    return 0;
}
