#pragma once

#include "ClsVariant.h"

#include <cstdint>
#include <deque>

// The names of one server listing, in the server's order, with 1-based positions. The directory
// download consumes it from the front one name at a time, so removing position 1 (and the last
// position) costs the same whatever the list's length: directories hold tens of thousands of files.
class ServerList {
public:
    int32_t Count() const { return static_cast<int32_t>(m_items.size()); }
    // position runs from 1 to Count(); anything else throws std::out_of_range.
    const ClsVariant& Item(int32_t position) const;
    void Add(ClsVariant item);
    void Remove(int32_t position);
    void Clear();

private:
    size_t indexOf(int32_t position) const;

    std::deque<ClsVariant> m_items;
};
