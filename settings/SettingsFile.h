#pragma once

#include <cstddef>
#include <string>

// Whole-file access to the settings file. A read never trusts the file (it may be binary, huge or
// not a file at all); a replacement never leaves a half-written file behind and never overrides a
// read-only file or folder.
class SettingsFile {
public:
    enum class State {
        Absent,   // no file: reads give defaults, the first write creates it
        Readable, // a text file within the size cap; content holds it
        Unusable, // unreadable, not a regular file, too large or binary: reads give defaults, writes change
                  // nothing
    };

    // Settings files are a few hundred bytes; anything beyond 1 MiB is not one, and parsing it would
    // only cost time and memory.
    static constexpr std::size_t maxBytes = 1024 * 1024;

    static State read(const std::string& path, std::string& content);

    // The permission bits a replacement gets.
    enum class Permissions {
        KeepExisting, // an existing file keeps its bits; a new one is owner-only
        OwnerOnly,    // always readable and writable by the owner only (a trust list others could
                      // write to would let them trust any server)
    };

    // Writes content to a temporary file in the same folder and renames it over path. An existing
    // file keeps its owner, where allowed, and its permission bits unless OwnerOnly is asked; a new
    // one is readable and writable by its owner only, because it holds the server password. False
    // when nothing was changed.
    static bool replace(const std::string& path, const std::string& content, bool existed,
                        Permissions permissions = Permissions::KeepExisting);
};
