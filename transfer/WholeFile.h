#pragma once

#include <string>

// Small files of the program's own (a generation's manifest, the moment of the last backup) read and
// written whole, relative to an open folder and never through a link.
namespace WholeFile {

// Writes size bytes to fd, however many calls that takes (a disk that is filling up takes part of
// them, and the next call says why): 0, or the errno value.
int writeAll(int fd, const char* data, size_t size);

// Writes content as temporaryName in folder, flushes it to disk and renames it to name: a reader sees
// the old file or the new one, never a part. 0, or the errno value of the step that failed (a disk that
// filled up after part of the text).
int replace(int folder, const std::string& temporaryName, const std::string& name,
            const std::string& content);

// The content of the regular file name in folder when it exists and holds at most largest bytes; false
// otherwise. Never throws.
bool read(int folder, const std::string& name, size_t largest, std::string& content);

} // namespace WholeFile
