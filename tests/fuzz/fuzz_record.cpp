#include "BackupRecord.h"
#include "FuzzCheck.h"

#include <algorithm>
#include <fcntl.h>

namespace {

// The record's own check sum (FNV-1a), so that the input reaches the lines past the end line's check.
std::string endLine(const std::string& body) {
    uint64_t hash = 14695981039346656037ull;
    for (const char c : body)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    const auto lines = std::count(body.begin(), body.end(), '\n');
    return "end " + std::to_string(lines > 7 ? lines - 7 : 0) + " " + digits + "\n";
}

std::string written(int folder, const BackupRecord& record) {
    record.writeInto(folder, "again", "again");
    return fuzzFileText("again");
}

} // namespace

// A backup record is read whole or not at all, as written or with its end line made right; what it
// holds, written again and read back, writes the very same text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string body(reinterpret_cast<const char*>(data), size);
    const int folder = ::open(fuzzFolder(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const bool mended : {false, true}) {
        const std::string text = body + (mended && !body.empty() && body.back() != '\n' ? "\n" : "");
        std::ofstream(std::string(fuzzFolder()) + "/record", std::ios::binary | std::ios::trunc)
            << text << (mended ? endLine(text) : "");
        BackupRecord record, again;
        if (!record.load(folder, "record"))
            continue;
        const std::string first = written(folder, record);
        FUZZ_CHECK(again.load(folder, "again") && again.count() == record.count() &&
                   written(folder, again) == first);
    }
    ::close(folder);
    return 0;
}
