#pragma once

#include <cstddef>
#include <string>

// Whole-file access to the settings file. A read never trusts the file (it may be binary, huge, not a
// file at all, or writable by someone else: OwnershipCheck); a replacement never leaves a half-written
// file behind and never overrides a read-only file or folder.
class SettingsFile {
public:
    enum class State {
        Absent,   // no file: reads give defaults, the first write creates it
        Readable, // a text file within the size cap; content holds it
        Unusable, // unreadable, not a regular file, too large, binary, or one that someone else could have
                  // written: reads give defaults, writes change nothing
    };

    // Whether a symbolic link in the file's place is read through (the settings file: an administrator
    // may link it) or refused (the trust file: a link could lead to a list someone else keeps).
    enum class Links { Follow, Refuse };

    // Settings files are a few hundred bytes; anything beyond 1 MiB is not one, and parsing it would
    // only cost time and memory.
    static constexpr std::size_t maxBytes = 1024 * 1024;

    static State read(const std::string& path, std::string& content, Links links = Links::Follow);

    // Writes content to a temporary file in the same folder and renames it over path. The result is
    // readable and writable by its owner only, also where the old file allowed more: the settings hold
    // the server password, and a trust list others could write to would let them trust any server.
    // An existing file keeps its owner, where allowed. False when nothing was changed.
    static bool replace(const std::string& path, const std::string& content, bool existed);
};
