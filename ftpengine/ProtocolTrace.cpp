#include "ProtocolTrace.h"

#include "NameSafety.h"

#include "FtpEngine.h"
#include "ProgramLocation.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string timestamp() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[40];
    size_t length = std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof(text) - length, ".%03ld", now.tv_nsec / 1000000);
    return text;
}

bool startsWithPass(std::string_view command) {
    if (command.size() < 4)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        if ((command[i] & ~0x20) != "PASS"[i])
            return false;
    }
    return command.size() == 4 || command[4] == ' ';
}

thread_local int32_t t_channel = 0;

} // namespace

void ProtocolTrace::setThreadChannel(int32_t channel) {
    t_channel = channel;
}

ProtocolTrace::~ProtocolTrace() {
    close();
}

EngineStatus ProtocolTrace::open(const std::string& name) {
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_path.clear();
    if (name.empty())
        return {};
    m_path = name.front() == '/' ? name : ProgramLocation::settingsDirectory() + "/" + name;
    return openFile();
}

EngineStatus ProtocolTrace::openFile() {
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        return EngineStatus::failure(FCE_E_LOCAL_FILE, std::string(std::strerror(errno)) +
                                                           ": cannot open the protocol trace " + m_path);
    // A trace left by an older run may have looser rights; it holds user names and server addresses.
    ::fchmod(m_fd, 0600);
    struct stat info {};
    m_size = ::fstat(m_fd, &info) == 0 ? info.st_size : 0;
    return {};
}

void ProtocolTrace::close() {
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::string ProtocolTrace::masked(std::string_view command) {
    return startsWithPass(command) ? std::string("PASS ****") : std::string(command);
}

void ProtocolTrace::sent(std::string_view command) {
    writeLine('>', masked(command));
}

void ProtocolTrace::received(std::string_view line) {
    writeLine('<', line);
}

void ProtocolTrace::note(std::string_view text) {
    writeLine('*', text);
}

void ProtocolTrace::writeLine(char marker, std::string_view text) {
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_fd < 0)
        return;
    // A name or a reply holding a line break must not forge a line of the trace.
    std::string line = timestamp() + ' ';
    if (t_channel > 0) // appended piece by piece: GCC 12 at -O3 takes "[" + number for an overlapping copy
        line.append("[").append(std::to_string(t_channel)).append("] ");
    line.append(1, marker).append(1, ' ').append(NameSafety::escaped(text)).append(1, '\n');
    if (m_size + static_cast<int64_t>(line.size()) > kRotateBytes)
        rotate();
    if (m_fd < 0)
        return;
    ssize_t written;
    do {
        written = ::write(m_fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written > 0)
        m_size += written;
}

void ProtocolTrace::rotate() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    std::string previous = m_path + ".1";
    ::rename(m_path.c_str(), previous.c_str());
    openFile();
}
