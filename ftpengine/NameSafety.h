#pragma once

#include <string>
#include <string_view>

// The one rule for names that cross between the server and the local disk: a name is a single plain
// path component, so that it can never climb out of, or reach below, the directory it is used in.
namespace NameSafety {

// False for "", ".", "..", and any name holding "/", "\", NUL, CR, LF or a drive prefix such as "C:".
bool isPlainComponent(std::string_view name);

// text fit for one log or trace line: control characters (C0, DEL and the C1 range as UTF-8 encodes
// it) are shown escaped ("\n", "\r", "\t", "\x1b", "\u009b"), so that a name can never forge a line
// or drive a terminal. Everything else, UTF-8 included, is kept.
std::string escaped(std::string_view text);

} // namespace NameSafety
