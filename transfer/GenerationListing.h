#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What kavrel-cli generations shows of a local base folder: each generation with the files it keeps and
// the bytes that only it holds (what removing it frees), and any file its manifest claims that it does
// not hold at the size claimed. Reads only: it needs no lock and no write access.
namespace GenerationListing {

// The lines to print; 0 when every generation holds what it claims, -1 when one does not or the folder
// cannot be read.
int32_t List(const std::string& base, std::vector<std::string>& lines);

} // namespace GenerationListing
