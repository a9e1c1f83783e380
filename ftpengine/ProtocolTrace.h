#pragma once

#include "EngineStatus.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

// The protocol trace: every command sent and reply line received, each with a timestamp. The file is
// owner-only (it names users and servers), PASS is written as "****", and past kRotateBytes the file
// becomes name + ".1" (replacing an older one) so the trace never grows without bound. Channels other
// than 0 mark their lines "[n]"; lines from several threads never mix within a line.
class ProtocolTrace {
public:
    static constexpr int64_t kRotateBytes = 4 * 1024 * 1024;

    ProtocolTrace() = default;
    ~ProtocolTrace();
    ProtocolTrace(const ProtocolTrace&) = delete;
    ProtocolTrace& operator=(const ProtocolTrace&) = delete;

    // A relative name is placed beside the settings file; an empty name stops tracing.
    EngineStatus open(const std::string& name);
    void close();
    const std::string& path() const { return m_path; }

    void sent(std::string_view command);
    void received(std::string_view line);
    // An event of the engine itself (connecting, a local failure), marked with "*".
    void note(std::string_view text);

    // The command as it may be shown anywhere: PASS's argument hidden.
    static std::string masked(std::string_view command);
    // The channel the calling thread's lines belong to (0: unmarked).
    static void setThreadChannel(int32_t channel);

private:
    EngineStatus openFile();
    void writeLine(char marker, std::string_view text);
    void rotate();

    std::mutex m_lock;
    int m_fd = -1;
    std::string m_path;
    int64_t m_size = 0;
};
