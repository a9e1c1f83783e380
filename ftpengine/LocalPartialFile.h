#pragma once

#include "EngineStatus.h"

#include <string>

// A download in progress: written under a partial name (kFcePartialPrefix and random hex digits, so
// that a name of 255 bytes can be downloaded too) beside its final name, and moved into place only by
// commit(). Destroyed without a commit, it removes itself, so a failed transfer never leaves a partial
// file behind nor touches an older copy of the file.
class LocalPartialFile {
public:
    // folder: the open local directory; directory: how texts name it.
    LocalPartialFile(int folder, const std::string& directory, const std::string& name);
    ~LocalPartialFile();
    LocalPartialFile(const LocalPartialFile&) = delete;
    LocalPartialFile& operator=(const LocalPartialFile&) = delete;

    EngineStatus create();
    int descriptor() const { return m_fd; }
    // Appends all of data; a short write (disk full) is a failure.
    EngineStatus write(const char* data, size_t length);
    // Closes the file (reporting a late write error) and renames it over the final name.
    EngineStatus commit();

    const std::string& finalPath() const { return m_finalPath; }

private:
    EngineStatus localFailure(const std::string& action, const std::string& path, int error) const;
    static std::string randomPartialName();

    int m_folder;
    std::string m_name;
    std::string m_directory;
    std::string m_partialName; // empty until create() succeeded
    std::string m_finalPath;
    int m_fd = -1;
    bool m_committed = false;
};
