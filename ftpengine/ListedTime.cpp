#include "ListedTime.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>

namespace {

constexpr int64_t kDay = 86400;

// The number in text made only of digits, or -1.
int number(std::string_view text) {
    if (text.empty() || text.size() > 9)
        return -1;
    int value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int monthNumber(std::string_view name) {
    static constexpr std::array<std::string_view, 12> months = {"jan", "feb", "mar", "apr", "may", "jun",
                                                                "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() != 3)
        return -1;
    std::array<char, 3> lowered{};
    std::transform(name.begin(), name.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto found = std::find(months.begin(), months.end(), std::string_view(lowered.data(), 3));
    return found == months.end() ? -1 : static_cast<int>(found - months.begin()) + 1;
}

// Days since 1970-01-01 of a proleptic Gregorian date (the well-known era-based computation).
int64_t daysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void setTime(FceListEntry& entry, int64_t seconds, FceTimeSource source) {
    if (seconds < 0)
        return;
    entry.listedTime = seconds;
    entry.timeSource = source;
}

} // namespace

int32_t fceTimePrecision(FceTimeSource source) {
    switch (source) {
    case FceTimeSource::MlsdUtc:
        return 1;
    case FceTimeSource::UnixListMinutes:
    case FceTimeSource::DosListMinutes:
        return 60;
    case FceTimeSource::UnixListDays:
        return static_cast<int32_t>(kDay);
    case FceTimeSource::None:
        break;
    }
    return 0;
}

int64_t ListedTime::fromCivil(int year, int month, int day, int hour, int minute, int second) {
    static constexpr std::array<int, 12> monthDays = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > monthDays[month - 1] ||
        (month == 2 && day == 29 && !leap) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 60)
        return -1;
    return daysFromCivil(year, month, day) * kDay + hour * 3600 + minute * 60 + second;
}

int ListedTime::yearOf(int64_t seconds) {
    // The year whose 1 January lies at or before the day: a guess from the mean year, then corrected.
    const int64_t days = seconds / kDay;
    int year = static_cast<int>(1970 + days * 400 / 146097);
    while (daysFromCivil(year, 1, 1) > days)
        --year;
    while (daysFromCivil(year + 1, 1, 1) <= days)
        ++year;
    return year;
}

void ListedTime::fromMlsd(std::string_view value, FceListEntry& entry) {
    if (value.size() < 14 || (value.size() > 14 && value[14] != '.'))
        return;
    auto field = [&](size_t at, size_t length) { return number(value.substr(at, length)); };
    setTime(entry, fromCivil(field(0, 4), field(4, 2), field(6, 2), field(8, 2), field(10, 2), field(12, 2)),
            FceTimeSource::MlsdUtc);
}

void ListedTime::fromUnix(std::string_view month, std::string_view day, std::string_view timeOrYear,
                          int64_t reference, FceListEntry& entry) {
    const int monthValue = monthNumber(month);
    const int dayValue = number(day);
    const auto colon = timeOrYear.find(':');
    if (colon == std::string_view::npos) {
        setTime(entry, fromCivil(number(timeOrYear), monthValue, dayValue, 0, 0, 0),
                FceTimeSource::UnixListDays);
        return;
    }
    const int hour = number(timeOrYear.substr(0, colon));
    const int minute = number(timeOrYear.substr(colon + 1));
    // A server shows the clock instead of the year only for a date within the last six months by its own
    // clock: the year (last, this or next) that puts the date nearest our clock is the one, around New
    // Year in any zone ("Jan 01" seen on Dec 31) and with the server's clock days or weeks ahead of ours.
    const int year = yearOf(std::max<int64_t>(reference, 0));
    int64_t nearest = -1;
    for (int candidate = year - 1; candidate <= year + 1; ++candidate) {
        const int64_t seconds = fromCivil(candidate, monthValue, dayValue, hour, minute, 0);
        if (seconds >= 0 && (nearest < 0 || std::abs(seconds - reference) < std::abs(nearest - reference)))
            nearest = seconds;
    }
    setTime(entry, nearest, FceTimeSource::UnixListMinutes);
}

void ListedTime::fromDos(std::string_view date, std::string_view clock, FceListEntry& entry) {
    if ((date.size() != 8 && date.size() != 10) || (clock.size() != 5 && clock.size() != 7))
        return;
    int year = number(date.substr(6));
    if (date.size() == 8 && year >= 0)
        year += year < 70 ? 2000 : 1900;
    int hour = number(clock.substr(0, 2));
    if (clock.size() == 7) {
        const char half = static_cast<char>(std::tolower(static_cast<unsigned char>(clock[5])));
        if (hour < 1 || hour > 12)
            return;
        hour = hour % 12 + (half == 'p' ? 12 : 0);
    }
    setTime(entry,
            fromCivil(year, number(date.substr(0, 2)), number(date.substr(3, 2)), hour,
                      number(clock.substr(3, 2)), 0),
            FceTimeSource::DosListMinutes);
}
