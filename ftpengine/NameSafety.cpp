#include "NameSafety.h"

#include <cctype>

namespace NameSafety {

namespace {

bool hasDrivePrefix(std::string_view name) {
    return name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]));
}

} // namespace

bool isPlainComponent(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    if (name.find_first_of(std::string_view("/\\\r\n\0", 5)) != std::string_view::npos)
        return false;
    return !hasDrivePrefix(name);
}

} // namespace NameSafety
