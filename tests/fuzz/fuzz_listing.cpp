#include "FuzzCheck.h"
#include "ListingParser.h"

#include <cctype>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kLastSecond = 253402300799; // 9999-12-31 23:59:59

} // namespace

// A listing (MLSD facts, or Unix and DOS LIST lines) is all read or refused: every entry one plain path
// component, no size below -1 (unknown), none for a directory, and a time only with its source, on its
// precision's grid; a Unix date with a clock (no year) in the year that puts it nearest the listing.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const auto format = input.ConsumeBool() ? ListingParser::Format::Mlsd : ListingParser::Format::List;
    const int64_t askedAt = input.ConsumeIntegralInRange<int64_t>(0, kLastSecond);
    std::vector<ListingEntry> entries;
    if (!ListingParser::parse(input.ConsumeRemainingBytesAsString(), format, entries, askedAt).ok())
        return 0;
    for (const ListingEntry& entry : entries) {
        const std::string& name = entry.name; // judged here on its own, not by NameSafety
        FUZZ_CHECK(
            !name.empty() && name != "." && name != ".." &&
            name.find_first_of(std::string("/\\\r\n\0", 5)) == std::string::npos &&
            !(name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':'));
        FUZZ_CHECK(entry.size >= -1 && (!entry.isDirectory || entry.size == -1));
        const FceTimeSource source = entry.timeSource;
        FUZZ_CHECK(entry.listedTime >= 0 && (source != FceTimeSource::None || entry.listedTime == 0));
        FUZZ_CHECK(source == FceTimeSource::None || source == FceTimeSource::MlsdUtc ||
                   entry.listedTime % fceTimePrecision(source) == 0);
        FUZZ_CHECK(source != FceTimeSource::UnixListMinutes || askedAt < 366 * kDay ||
                   askedAt > kLastSecond - 366 * kDay || std::abs(entry.listedTime - askedAt) <= 184 * kDay);
    }
    return 0;
}
