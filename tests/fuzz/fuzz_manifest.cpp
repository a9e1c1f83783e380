#include "FuzzCheck.h"
#include "GenerationManifest.h"
#include "SafeName.h"

#include <fcntl.h>

// A generation's manifest is read whole or not at all: folders of one or two plain components, files
// of one, no size below 0; written, read back and written again, it is the same text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int folder = ::open(fuzzFolder(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::ofstream(std::string(fuzzFolder()) + "/" + GenerationManifest::kFileName, std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    GenerationManifest manifest, again;
    if (manifest.load(folder)) {
        for (const auto& kept : manifest.folders()) {
            const std::string first = kept.path.substr(0, kept.path.find('/'));
            FUZZ_CHECK(SafeName::isSafeComponent(first) &&
                       (first == kept.path || SafeName::isSafeComponent(kept.path.substr(first.size() + 1))));
            for (const auto& file : kept.files)
                FUZZ_CHECK(SafeName::isSafeComponent(file.name) && file.size >= 0);
        }
        manifest.save(folder, "manifest");
        const std::string first = fuzzFileText(GenerationManifest::kFileName);
        FUZZ_CHECK(again.load(folder));
        again.save(folder, "manifest");
        FUZZ_CHECK(fuzzFileText(GenerationManifest::kFileName) == first);
    }
    ::close(folder);
    return 0;
}
