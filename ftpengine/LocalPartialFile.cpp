#include "LocalPartialFile.h"

#include "FtpEngine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

LocalPartialFile::LocalPartialFile(int folder, const std::string& directory, const std::string& name)
    : m_folder(folder), m_name(name), m_directory(directory), m_finalPath(directory + "/" + name) {}

LocalPartialFile::~LocalPartialFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed && !m_partialName.empty())
        ::unlinkat(m_folder, m_partialName.c_str(), 0);
}

EngineStatus LocalPartialFile::localFailure(const std::string& action, const std::string& path,
                                            int error) const {
    // The cause first: a caller's buffer that cuts the text keeps it.
    return EngineStatus::failure(FCE_E_LOCAL_FILE,
                                 std::string(std::strerror(error)) + ": cannot " + action + " " + path);
}

std::string LocalPartialFile::randomPartialName() {
    unsigned char bytes[kFcePartialRandomDigits / 2] = {};
    ::arc4random_buf(bytes, sizeof bytes);
    std::string name = kFcePartialPrefix;
    char hex[3];
    for (unsigned char byte : bytes) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        name += hex;
    }
    return name;
}

EngineStatus LocalPartialFile::create() {
    // O_EXCL refuses a name that exists, a link included: another random name is tried then.
    // Owner-only: backed-up prompts, messages and subscriber data are nobody else's to read.
    int error = EEXIST;
    for (int attempt = 0; attempt < 16 && m_fd < 0 && error == EEXIST; ++attempt) {
        std::string name = randomPartialName();
        m_fd = ::openat(m_folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        error = errno;
        if (m_fd >= 0)
            m_partialName = std::move(name);
    }
    return m_fd < 0 ? localFailure("create a partial file in", m_directory, error) : EngineStatus();
}

EngineStatus LocalPartialFile::write(const char* data, size_t length) {
    while (length > 0) {
        ssize_t written = ::write(m_fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return localFailure("write the partial file of", m_finalPath, written < 0 ? errno : ENOSPC);
        data += written;
        length -= static_cast<size_t>(written);
    }
    return {};
}

EngineStatus LocalPartialFile::commit() {
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return localFailure("write the partial file of", m_finalPath, errno);
    if (::renameat(m_folder, m_partialName.c_str(), m_folder, m_name.c_str()) != 0)
        return localFailure("replace", m_finalPath, errno);
    m_committed = true;
    return {};
}
