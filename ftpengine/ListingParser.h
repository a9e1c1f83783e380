#pragma once

#include "EngineStatus.h"
#include "ListingEntry.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Turns the text of a MLSD or LIST data connection into entries. Names are taken exactly as listed:
// leading, inner and trailing blanks belong to the name. A line that cannot be read fails the whole
// listing, because skipping it would silently leave a file out of a backup.
class ListingParser {
public:
    enum class LineKind { Entry, Skip, Unreadable };
    enum class Format { Mlsd, List };

    // "type=file;size=1234;modify=...; name"; cdir/pdir entries are skipped.
    static LineKind parseMlsdLine(std::string_view line, ListingEntry& entry);
    // A Unix "ls -l" line or a DOS/IIS line; "total N" and blank lines are skipped. reference (the local
    // clock when the listing was asked for, seconds since 1970) gives a recent Unix date its year.
    static LineKind parseListLine(std::string_view line, ListingEntry& entry, int64_t reference);
    static LineKind parseListLine(std::string_view line, ListingEntry& entry) {
        return parseListLine(line, entry, 0);
    }

    // Every entry of the listing text, "." and ".." left out; any other name that is not one plain
    // path component fails the listing with its name in the text.
    static EngineStatus parse(std::string_view text, Format format, std::vector<ListingEntry>& entries,
                              int64_t reference = 0);

    // The list text the transfers read: one entry per line ended by CR LF, directories with a trailing "/".
    static std::string listText(const std::vector<ListingEntry>& entries);

private:
    static LineKind parseUnixLine(std::string_view line, ListingEntry& entry, int64_t reference);
    static LineKind parseDosLine(std::string_view line, ListingEntry& entry);
};
