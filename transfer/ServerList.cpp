#include "ServerList.h"

#include <stdexcept>
#include <utility>

size_t ServerList::indexOf(int32_t position) const {
    if (position < 1 || position > Count())
        throw std::out_of_range("ServerList position " + std::to_string(position) + " is outside 1.." +
                                std::to_string(Count()));
    return static_cast<size_t>(position - 1);
}

const ClsVariant& ServerList::Item(int32_t position) const {
    return m_items[indexOf(position)];
}

void ServerList::Add(ClsVariant item) {
    m_items.push_back(std::move(item));
}

void ServerList::Remove(int32_t position) {
    const size_t index = indexOf(position);
    if (index == 0)
        m_items.pop_front();
    else if (index + 1 == m_items.size())
        m_items.pop_back();
    else
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(index));
}

void ServerList::Clear() {
    m_items.clear();
}
