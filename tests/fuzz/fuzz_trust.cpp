#include "FuzzCheck.h"
#include "TrustStore.h"

#include <fstream>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>

// A trust file as anyone may have edited it: what it trusts is a whole fingerprint or nothing, trusting
// one for a server is then read back for it, and another server keeps what it had.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string server = input.ConsumeRandomLengthString(24),
                      other = input.ConsumeRandomLengthString(24);
    const std::string fingerprint = input.ConsumeRandomLengthString(100);
    const std::string path = std::string(fuzzFolder()) + "/kavrel.TRUST";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << input.ConsumeRemainingBytesAsString();
    FUZZ_CHECK(::chmod(path.c_str(), 0600) == 0);
    const TrustStore store(path);
    const std::string trusted = store.fingerprintFor(server), kept = store.fingerprintFor(other);
    FUZZ_CHECK(trusted.empty() || TrustStore::normalizedFingerprint(trusted) == trusted);
    if (!store.trust(server, fingerprint))
        return 0;
    FUZZ_CHECK(store.fingerprintFor(server) == TrustStore::normalizedFingerprint(fingerprint));
    FUZZ_CHECK(other == server || store.fingerprintFor(other) == kept);
    return 0;
}
