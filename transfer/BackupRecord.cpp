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

constexpr const char* kFirstLine = "kavrel-record 2";
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

// The text after "key " on the next line; false when the line has another key.
bool readText(std::istream& lines, const std::string& key, std::string& value) {
    std::string line;
    if (!std::getline(lines, line) || !startsWith(line, key + " "))
        return false;
    value = line.substr(key.size() + 1);
    return true;
}

// The one number after "key " on the next line.
template <typename Number>
bool readField(std::istream& lines, const std::string& key, Number& value, int base = 10) {
    std::string text;
    size_t at = 0;
    return readText(lines, key, text) && readNumber(text, at, value, base) && at == text.size();
}

} // namespace

void BackupRecord::add(const FceListEntry& file, int64_t fetchedAt) {
    if (file.isDirectory || file.size < 0 || file.timeSource == FceTimeSource::None)
        return;
    if (m_files.find(file.name) == m_files.end())
        m_order.push_back(file.name);
    m_files[file.name] = File{file.size, file.listedTime, file.timeSource, fetchedAt};
}

const BackupRecord::File* BackupRecord::find(const std::string& name) const {
    const auto found = m_files.find(name);
    return found == m_files.end() ? nullptr : &found->second;
}

std::string BackupRecord::text() const {
    std::string body = std::string(kFirstLine) + "\nserver " + m_header.server + "\npath " +
                       m_header.serverDir + "\nlisted-at " + std::to_string(m_header.listedAt) + "\nrun " +
                       hex(m_header.run) + "\nserver-newest " + std::to_string(m_header.serverNewest) +
                       "\nsuspect " + (m_header.suspect ? "1" : "0") + "\n";
    for (const auto& name : m_order) {
        const File& file = m_files.at(name);
        body += "file " + std::to_string(file.size) + " " + std::to_string(file.listedTime) + " " +
                std::to_string(static_cast<int>(file.source)) + " " + std::to_string(file.fetchedAt) + " " +
                name + "\n";
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

bool BackupRecord::load(int folder, const std::string& name) {
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
    if (!parse(content)) {
        *this = BackupRecord();
        return false;
    }
    return true;
}

bool BackupRecord::parseHeader(std::istream& lines) {
    std::string first;
    int suspect = 0;
    if (!std::getline(lines, first) || first != kFirstLine || !readText(lines, "server", m_header.server) ||
        !readText(lines, "path", m_header.serverDir) || !readField(lines, "listed-at", m_header.listedAt) ||
        !readField(lines, "run", m_header.run, 16) ||
        !readField(lines, "server-newest", m_header.serverNewest) || !readField(lines, "suspect", suspect) ||
        (suspect != 0 && suspect != 1))
        return false;
    m_header.suspect = suspect == 1;
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
    if (!parseHeader(lines))
        return false;
    std::string line;
    while (std::getline(lines, line)) {
        FceListEntry file;
        int source = 0;
        int64_t fetchedAt = 0;
        at = 5;
        if (!startsWith(line, "file ") || !readNumber(line, at, file.size) ||
            !readNumber(line, at, file.listedTime) || !readNumber(line, at, source) || !knownSource(source) ||
            !readNumber(line, at, fetchedAt) || at >= line.size())
            return false;
        file.timeSource = static_cast<FceTimeSource>(source);
        file.name = line.substr(at);
        add(file, fetchedAt);
    }
    return m_order.size() == count;
}
