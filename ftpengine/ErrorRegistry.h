#pragma once

#include <cstdint>
#include <map>
#include <string>

// The words behind each failure code: the text of the most recent failure that returned the code,
// or, before any such failure, a general description of the code.
class ErrorRegistry {
public:
    void record(int32_t code, const std::string& text);
    std::string textFor(int32_t code) const;
    void clear() { m_latest.clear(); }

    static std::string generalText(int32_t code);

private:
    std::map<int32_t, std::string> m_latest;
};
