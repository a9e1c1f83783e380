#pragma once

#include <cstdint>
#include <string>

// Counts in log lines and listings, read at a glance.
namespace CountText {

// 3428 -> "3,428"
std::string grouped(int64_t count);

} // namespace CountText
