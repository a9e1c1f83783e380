#include "LocalPartialFile.h"

#include "FtpEngine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

LocalPartialFile::LocalPartialFile(int folder, const std::string& directory, const std::string& name)
    : m_folder(folder), m_name(name), m_partialName("." + name + kFcePartialSuffix),
      m_finalPath(directory + "/" + name), m_partialPath(directory + "/" + m_partialName) {}

LocalPartialFile::~LocalPartialFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed)
        ::unlinkat(m_folder, m_partialName.c_str(), 0);
}

EngineStatus LocalPartialFile::localFailure(const std::string& action, const std::string& path,
                                            int error) const {
    return EngineStatus::failure(FCE_E_LOCAL_FILE,
                                 "Cannot " + action + " " + path + ": " + std::strerror(error));
}

EngineStatus LocalPartialFile::create() {
    // A leftover from an interrupted run is replaced; O_EXCL after the unlink refuses to follow a
    // link that something else put there in between.
    // Owner-only: backed-up prompts, messages and subscriber data are nobody else's to read.
    ::unlinkat(m_folder, m_partialName.c_str(), 0);
    m_fd =
        ::openat(m_folder, m_partialName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    return m_fd < 0 ? localFailure("create", m_partialPath, errno) : EngineStatus();
}

EngineStatus LocalPartialFile::write(const char* data, size_t length) {
    while (length > 0) {
        ssize_t written = ::write(m_fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return localFailure("write", m_partialPath, written < 0 ? errno : ENOSPC);
        data += written;
        length -= static_cast<size_t>(written);
    }
    return {};
}

EngineStatus LocalPartialFile::commit() {
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return localFailure("write", m_partialPath, errno);
    if (::renameat(m_folder, m_partialName.c_str(), m_folder, m_name.c_str()) != 0)
        return localFailure("replace", m_finalPath, errno);
    m_committed = true;
    return {};
}
