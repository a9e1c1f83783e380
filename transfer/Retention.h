#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// How many generations a completed backup leaves: the newest generation of each of the last `daily`
// days, `weekly` weeks and `monthly` months that have one (days, ISO weeks and months in UTC, as the
// generations are named). A generation any rule keeps stays. 0, 0, 0 keeps none: generations are off.
struct RetentionPolicy {
    int daily = 7;
    int weekly = 5;
    int monthly = 12;

    bool keepsNone() const { return daily == 0 && weekly == 0 && monthly == 0; }
};

namespace Retention {

// The largest count a setting or an option takes (some twenty years of months).
inline constexpr int kLargestCount = 240;

// Which of the generations (their moments in seconds since 1970 UTC, in any order) the policy keeps,
// position by position.
std::vector<bool> Keep(const RetentionPolicy& policy, const std::vector<int64_t>& moments);

// A count as a setting or an option gives it: a whole number from 0 to kLargestCount, nothing else.
bool ParseCount(const std::string& text, int& count);

// The policy of a settings file's [Generations] section (KeepDaily, KeepWeekly, KeepMonthly); read
// gives a key's text, empty when the key is absent. A value that is not a count keeps its default and
// is named in problems, so that a typo never turns generations off unseen.
RetentionPolicy FromSettings(const std::function<std::string(const char* key)>& read,
                             std::vector<std::string>& problems);

// "7 daily, 5 weekly, 12 monthly", for log lines.
std::string Describe(const RetentionPolicy& policy);

} // namespace Retention
