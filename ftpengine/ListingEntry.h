#pragma once

#include <cstdint>
#include <string>

// One entry of a server directory listing.
struct ListingEntry {
    std::string name;
    bool isDirectory = false;
    int64_t size = -1; // bytes, or -1 when the listing did not say
};
