#include "ConnectionPool.h"

#include "FtpEngine.h"
#include "TransferCommands.h"

#include <algorithm>
#include <thread>

void ConnectionPool::SetWanted(int32_t connections) {
    m_wanted = std::clamp(connections, 1, kMostConnections);
}

const std::vector<int32_t>& ConnectionPool::Channels() {
    if (m_opened || m_wanted == 1)
        return m_channels;
    m_opened = true;
    // Each login takes several round trips: across a WAN they are made side by side. Nothing here
    // reaches the host until every thread has ended.
    std::vector<int32_t> codes(static_cast<size_t>(m_wanted), 0);
    {
        std::vector<std::jthread> logins;
        for (int32_t channel = 1; channel < m_wanted; ++channel)
            logins.emplace_back(
                [channel, &codes] { codes[static_cast<size_t>(channel)] = fceConnectAs(channel, 0); });
    }
    int32_t refused = 0;
    for (int32_t channel = 1; channel < m_wanted; ++channel) {
        if (codes[static_cast<size_t>(channel)] >= 0)
            m_channels.push_back(channel);
        else if (refused == 0)
            refused = channel;
    }
    if (refused != 0) {
        const int32_t used = static_cast<int32_t>(m_channels.size());
        m_host.Display("The server took " + std::to_string(used) + " of " + std::to_string(m_wanted) +
                       " connections (" + ErrorLine(refused, codes[static_cast<size_t>(refused)]) +
                       "): going on with " + std::to_string(used) + ".");
    }
    return m_channels;
}

void ConnectionPool::Close() {
    for (const int32_t channel : m_channels) {
        if (channel != 0)
            fceClose(channel);
    }
    m_channels.assign(1, 0);
    m_opened = false;
}
