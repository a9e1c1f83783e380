#include "FuzzCheck.h"
#include "ListedTime.h"

#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

constexpr int64_t kDay = 86400;

// A time read is one the listing can hold: not before 1970, on its precision's grid, in its own year.
void checkTime(const FceListEntry& entry, FceTimeSource source) {
    if (entry.timeSource == FceTimeSource::None)
        return FUZZ_CHECK(entry.listedTime == 0);
    FUZZ_CHECK(entry.timeSource == source && entry.listedTime >= 0);
    FUZZ_CHECK(entry.listedTime % fceTimePrecision(source) == 0 || source == FceTimeSource::MlsdUtc);
    const int year = ListedTime::yearOf(entry.listedTime);
    FUZZ_CHECK(ListedTime::fromCivil(year, 1, 1, 0, 0, 0) <= entry.listedTime);
    FUZZ_CHECK(year == 9999 || entry.listedTime < ListedTime::fromCivil(year + 1, 1, 1, 0, 0, 0));
}

} // namespace

// MLSD, Unix and DOS times: each read right or not at all, on its precision's grid, in its own year.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int64_t askedAt = input.ConsumeIntegralInRange<int64_t>(0, 253402300799); // up to 9999
    const std::string a = input.ConsumeRandomLengthString(24), b = input.ConsumeRandomLengthString(8);
    const std::string c = input.ConsumeRemainingBytesAsString();
    FceListEntry mlsd, recent, dos;
    ListedTime::fromMlsd(a, mlsd);
    checkTime(mlsd, FceTimeSource::MlsdUtc);
    ListedTime::fromDos(a, b, dos);
    checkTime(dos, FceTimeSource::DosListMinutes);
    ListedTime::fromUnix(a, b, c, askedAt, recent);
    // A Unix date with a clock (no year) lies in the year that puts it nearest the listing: within half a
    // year of it, but near the ends of the years a time can hold.
    if (recent.timeSource == FceTimeSource::UnixListMinutes && askedAt > 366 * kDay &&
        askedAt < 253402300799 - 366 * kDay)
        FUZZ_CHECK(std::abs(recent.listedTime - askedAt) <= 184 * kDay);
    checkTime(recent, c.find(':') == std::string::npos ? FceTimeSource::UnixListDays
                                                       : FceTimeSource::UnixListMinutes);
    return 0;
}
