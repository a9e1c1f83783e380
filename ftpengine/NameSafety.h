#pragma once

#include <string_view>

// The one rule for names that cross between the server and the local disk: a name is a single plain
// path component, so that it can never climb out of, or reach below, the directory it is used in.
namespace NameSafety {

// False for "", ".", "..", and any name holding "/", "\", NUL, CR, LF or a drive prefix such as "C:".
bool isPlainComponent(std::string_view name);

} // namespace NameSafety
