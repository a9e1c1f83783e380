#include "BackupRecord.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr const char* kFirstLine = "kavrel-record 1";
constexpr int64_t kDay = 86400;
// A record is a few dozen bytes per file; anything far larger is not one of ours.
constexpr std::uintmax_t kLargestRecord = 256u * 1024 * 1024;

// FNV-1a over the text before the end line: a flipped bit in a listing time must not make recent files
// look old, so a damaged record is refused as a whole.
uint64_t checksum(std::string_view text) {
    uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string hex(uint64_t value) {
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(value));
    return digits;
}

// Reads the next blank-ended number of line from at; false when there is none.
template <typename Number> bool readNumber(std::string_view line, size_t& at, Number& value, int base = 10) {
    const char* begin = line.data() + at;
    const char* end = line.data() + line.size();
    auto [next, error] = std::from_chars(begin, end, value, base);
    if (error != std::errc() || next == begin || (next != end && *next != ' '))
        return false;
    at = static_cast<size_t>(next - line.data()) + (next != end ? 1 : 0);
    return true;
}

bool knownSource(int value) {
    return value >= static_cast<int>(FceTimeSource::MlsdUtc) &&
           value <= static_cast<int>(FceTimeSource::DosListMinutes);
}

bool startsWith(std::string_view text, std::string_view head) {
    return text.substr(0, head.size()) == head;
}

} // namespace

BackupRecord::BackupRecord(std::string serverDir, int64_t listedAt)
    : m_serverDir(std::move(serverDir)), m_listedAt(listedAt) {}

void BackupRecord::add(const FceListEntry& file) {
    if (file.isDirectory || file.size < 0 || file.timeSource == FceTimeSource::None)
        return; // a file without size or time can never be proved unchanged: no need to keep it
    if (m_files.find(file.name) == m_files.end())
        m_order.push_back(file.name);
    m_files[file.name] = File{file.size, file.listedTime, file.timeSource};
}

bool BackupRecord::provesUnchanged(const FceListEntry& listed, int64_t localSize) const {
    if (listed.isDirectory || listed.size < 0 || listed.timeSource == FceTimeSource::None)
        return false;
    const auto found = m_files.find(listed.name);
    if (found == m_files.end())
        return false;
    const File& file = found->second;
    return file.size == listed.size && file.listedTime == listed.listedTime &&
           file.source == listed.timeSource && localSize == listed.size &&
           listed.listedTime + fceTimePrecision(listed.timeSource) + kDay < m_listedAt;
}

std::string BackupRecord::text() const {
    std::string body = std::string(kFirstLine) + "\nserver " + m_serverDir + "\nlisted-at " +
                       std::to_string(m_listedAt) + "\n";
    for (const auto& name : m_order) {
        const File& file = m_files.at(name);
        body += "file " + std::to_string(file.size) + " " + std::to_string(file.listedTime) + " " +
                std::to_string(static_cast<int>(file.source)) + " " + name + "\n";
    }
    return body + "end " + std::to_string(m_order.size()) + " " + hex(checksum(body)) + "\n";
}

void BackupRecord::writeInto(int folder, const std::string& name, const std::string& shownPath) const {
    const std::string content = text();
    const int fd =
        ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    int error = fd < 0 ? errno : 0;
    // A write may take only part of the text (a disk that is filling up); the next one then says why.
    for (size_t done = 0; error == 0 && done < content.size();) {
        const ssize_t wrote = ::write(fd, content.data() + done, content.size() - done);
        if (wrote > 0)
            done += static_cast<size_t>(wrote);
        else if (wrote == 0)
            error = EIO;
        else if (errno != EINTR)
            error = errno;
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (fd >= 0 && ::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        throw std::filesystem::filesystem_error("cannot write the backup record", shownPath,
                                                std::error_code(error, std::generic_category()));
}

bool BackupRecord::load(int folder, const std::string& name, const std::string& serverDir) {
    *this = BackupRecord();
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    std::string content;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<uintmax_t>(info.st_size) <= kLargestRecord) {
        content.resize(static_cast<size_t>(info.st_size));
        if (::read(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
            content.clear();
    }
    ::close(fd);
    if (!parse(content) || m_serverDir != serverDir) {
        *this = BackupRecord();
        return false;
    }
    return true;
}

bool BackupRecord::parse(const std::string& content) {
    const size_t endLine = content.rfind("\nend ");
    if (endLine == std::string::npos || content.empty() || content.back() != '\n')
        return false;
    const std::string_view body = std::string_view(content).substr(0, endLine + 1);
    const std::string_view tail = std::string_view(content).substr(endLine + 5, content.size() - endLine - 6);
    size_t at = 0;
    size_t count = 0;
    uint64_t sum = 0;
    if (!readNumber(tail, at, count) || !readNumber(tail, at, sum, 16) || at != tail.size() ||
        sum != checksum(body))
        return false;
    std::istringstream lines{std::string(body)};
    std::string line;
    if (!std::getline(lines, line) || line != kFirstLine || !std::getline(lines, line) ||
        !startsWith(line, "server "))
        return false;
    m_serverDir = line.substr(7);
    at = 10;
    if (!std::getline(lines, line) || !startsWith(line, "listed-at ") || !readNumber(line, at, m_listedAt) ||
        at != line.size())
        return false;
    while (std::getline(lines, line)) {
        FceListEntry file;
        int source = 0;
        at = 5;
        if (!startsWith(line, "file ") || !readNumber(line, at, file.size) ||
            !readNumber(line, at, file.listedTime) || !readNumber(line, at, source) || !knownSource(source) ||
            at >= line.size())
            return false;
        file.timeSource = static_cast<FceTimeSource>(source);
        file.name = line.substr(at);
        add(file);
    }
    return m_order.size() == count;
}
