#include "Retention.h"

#include "SafeName.h"

#include <algorithm>
#include <ctime>
#include <numeric>

namespace Retention {

namespace {

struct Rule {
    int count;
    int64_t (*bucket)(const std::tm&); // the day, week or month a moment falls in
};

int64_t dayOf(const std::tm& time) {
    return (time.tm_year + 1900) * 10000 + (time.tm_mon + 1) * 100 + time.tm_mday;
}

// The ISO week: weeks begin on Monday, and week 1 is the one that holds the year's first Thursday.
int64_t isoWeekOf(const std::tm& time) {
    char text[16];
    std::strftime(text, sizeof text, "%G%V", &time);
    return std::stoll(text);
}

int64_t monthOf(const std::tm& time) {
    return (time.tm_year + 1900) * 100 + time.tm_mon + 1;
}

std::tm utcOf(int64_t moment) {
    const auto seconds = static_cast<std::time_t>(moment);
    std::tm time{};
    ::gmtime_r(&seconds, &time);
    return time;
}

} // namespace

std::vector<bool> Keep(const RetentionPolicy& policy, const std::vector<int64_t>& moments) {
    std::vector<size_t> newestFirst(moments.size());
    std::iota(newestFirst.begin(), newestFirst.end(), size_t{0});
    std::sort(newestFirst.begin(), newestFirst.end(),
              [&](size_t a, size_t b) { return moments[a] > moments[b]; });
    std::vector<bool> kept(moments.size(), false);
    for (const Rule rule :
         {Rule{policy.daily, dayOf}, Rule{policy.weekly, isoWeekOf}, Rule{policy.monthly, monthOf}}) {
        int left = rule.count;
        int64_t lastBucket = -1;
        for (size_t index = 0; index < newestFirst.size() && left > 0; ++index) {
            const int64_t bucket = rule.bucket(utcOf(moments[newestFirst[index]]));
            if (bucket == lastBucket)
                continue;
            kept[newestFirst[index]] = true;
            lastBucket = bucket;
            --left;
        }
    }
    return kept;
}

bool ParseCount(const std::string& text, int& count) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int value = std::stoi(text);
    if (value > kLargestCount)
        return false;
    count = value;
    return true;
}

RetentionPolicy FromSettings(const std::function<std::string(const char* key)>& read,
                             std::vector<std::string>& problems) {
    RetentionPolicy policy;
    const std::pair<const char*, int*> keys[] = {
        {"KeepDaily", &policy.daily}, {"KeepWeekly", &policy.weekly}, {"KeepMonthly", &policy.monthly}};
    for (const auto& [key, count] : keys) {
        const std::string text = read(key);
        if (!text.empty() && !ParseCount(text, *count))
            problems.push_back("[Generations] " + std::string(key) + "=" + SafeName::quoted(text) +
                               " is not a whole number from 0 to " + std::to_string(kLargestCount));
    }
    return policy;
}

std::string Describe(const RetentionPolicy& policy) {
    return std::to_string(policy.daily) + " daily, " + std::to_string(policy.weekly) + " weekly, " +
           std::to_string(policy.monthly) + " monthly";
}

} // namespace Retention
