#include "FuzzCheck.h"
#include "IniEditor.h"
#include "IniLookup.h"

#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>
#include <strings.h>

// A settings file as the window writes one value into it: the reader then finds that value (line breaks
// made blanks), and every other value as it was. Numbers read with their sign, never beyond 32 bits.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(12),
                      key = input.ConsumeRandomLengthString(12);
    const std::string value = input.ConsumeRandomLengthString(40);
    const std::pair<std::string, std::string> probes[] = {
        {input.ConsumeRandomLengthString(12), input.ConsumeRandomLengthString(12)},
        {"Connection", "Server"},
        {"Selection", "Data"}};
    std::string text = input.ConsumeRemainingBytesAsString();
    if (text.find('\0') != std::string::npos) // the settings file reader refuses such a file
        return 0;
    const size_t sign = !value.empty() && (value[0] == '-' || value[0] == '+') ? 1 : 0;
    if (value.size() > sign && value.size() - sign <= 9 &&
        value.find_first_not_of("0123456789", sign) == std::string::npos) // a number that fits 32 bits
        FUZZ_CHECK(IniLookup::integerOf(value) == std::stoi(value));
    const IniLookup before(text);
    if (!IniEditor::setValue(text, section, key, value))
        return 0;
    const IniLookup after(text);
    std::string flat = value;
    std::replace_if(
        flat.begin(), flat.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, ' ');
    FUZZ_CHECK(after.value(section, key) == flat);
    for (const auto& [otherSection, otherKey] : probes) {
        if (strcasecmp(otherSection.c_str(), section.c_str()) || strcasecmp(otherKey.c_str(), key.c_str()))
            FUZZ_CHECK(after.value(otherSection, otherKey) == before.value(otherSection, otherKey));
    }
    return 0;
}
