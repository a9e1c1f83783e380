#include "CountText.h"

namespace CountText {

std::string grouped(int64_t count) {
    const std::string digits = std::to_string(count);
    std::string text;
    for (size_t at = 0; at < digits.size(); ++at) {
        if (at > 0 && (digits.size() - at) % 3 == 0)
            text += ',';
        text += digits[at];
    }
    return text;
}

} // namespace CountText
