#pragma once

#include <cstdint>
#include <string>

// The start-up line naming the engine's version: the first three upper-case hexadecimal digits of the
// version number, read as major, minor and patch ("FTP Client Engine Version 2.3.0" for 0x230). A
// number with fewer digits leaves the missing parts empty ("2.3." for 0x23).
std::string EngineVersionLine(int32_t version);
