#pragma once

#include "FtpEngine.h"

#include <cstdint>
#include <string_view>

// Reads the modification time of a listing line into an entry, with its source. A time that cannot be
// read leaves the entry without one (FceTimeSource::None): the file then counts as changed, which is
// safe, whereas failing the listing over a date would stop the backup.
class ListedTime {
public:
    // MLSD "modify" value: "YYYYMMDDHHMMSS", optionally followed by a fraction.
    static void fromMlsd(std::string_view value, FceListEntry& entry);
    // Unix LIST date fields: month ("Dec"), day ("6"), and "20:19" (recent: the year, last, this or next,
    // that puts the date nearest reference, the local clock when the listing was asked for) or "2024".
    static void fromUnix(std::string_view month, std::string_view day, std::string_view timeOrYear,
                         int64_t reference, FceListEntry& entry);
    // DOS/IIS LIST date and clock: "12-06-26" or "12-06-2026", "08:19PM" or "20:19".
    static void fromDos(std::string_view date, std::string_view clock, FceListEntry& entry);

    // Seconds since 1970-01-01 of a civil date and time read as UTC; -1 when a field is out of range.
    static int64_t fromCivil(int year, int month, int day, int hour, int minute, int second);
    // The civil year of a count of seconds since 1970-01-01 (UTC).
    static int yearOf(int64_t seconds);
};
