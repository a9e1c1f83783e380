#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

// The words behind each failure code: the text of the most recent failure that returned the code,
// or, before any such failure, a general description of the code. A channel's thread records while
// the host's thread may read.
class ErrorRegistry {
public:
    void record(int32_t code, const std::string& text);
    std::string textFor(int32_t code) const;
    void clear();

    // The text of whichever of the two recorded code last; the general text when neither did.
    static std::string newer(const ErrorRegistry& first, const ErrorRegistry& second, int32_t code);
    static std::string generalText(int32_t code);

private:
    // (when it was recorded, across every registry; the text)
    std::pair<uint64_t, std::string> latest(int32_t code) const;

    mutable std::mutex m_lock;
    std::map<int32_t, std::pair<uint64_t, std::string>> m_latest;
};
