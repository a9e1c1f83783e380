#pragma once

#include <string>

// A certificate fingerprint ("SHA256:" and 32 pairs of hex digits, 102 characters) is wider than the
// message log and the question box. Wrapped where the width happens to end, it breaks at a different
// pair in each place and cannot be compared at a glance with the server's own; so the window shows it
// in two halves of 16 pairs, each on a line of its own.
namespace FingerprintLines {

// The fingerprint as two indented lines, "    SHA256:AB:...:EF" and "    01:...:89", joined by LF.
std::string halves(const std::string& fingerprint);

// line with every fingerprint in it set apart as halves(); the text before and after each one keeps a
// line of its own. A line without a fingerprint comes back as it is.
std::string apart(const std::string& line);

} // namespace FingerprintLines
