#pragma once

#include "TransferHost.h"

#include <cstdint>
#include <vector>

// The connections of one Backup or Restore: the engine's channel 0, which the host connected, and up to
// wanted - 1 further channels made like it (fceConnectAs) the first time a folder has files for more than
// one, kept for the rest of the command and closed at its end. A server that refuses some of them (421,
// too many connections from this address) is used with those it took, said once in the log.
class ConnectionPool {
public:
    // The most connections a host may ask for: more only queue at the server.
    static constexpr int32_t kMostConnections = 16;
    static constexpr int32_t kDefaultConnections = 4;

    explicit ConnectionPool(TransferHost& host) : m_host(host) {}
    ~ConnectionPool() { Close(); }
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // 1 to kMostConnections; a value outside is brought inside.
    void SetWanted(int32_t connections);
    int32_t Wanted() const { return m_wanted; }

    // The channels to move files on, 0 first; the further ones are made (all at once) on the first call.
    const std::vector<int32_t>& Channels();
    // Closes the further channels; the next Channels() makes them again.
    void Close();

private:
    TransferHost& m_host;
    int32_t m_wanted = 1;
    bool m_opened = false;
    std::vector<int32_t> m_channels{0};
};
