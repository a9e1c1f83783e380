#pragma once

#include "EngineStatus.h"
#include "ListingEntry.h"

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
    // A Unix "ls -l" line or a DOS/IIS line; "total N" and blank lines are skipped.
    static LineKind parseListLine(std::string_view line, ListingEntry& entry);

    // Every entry of the listing text, "." and ".." left out; any other name that is not one plain
    // path component fails the listing with its name in the text.
    static EngineStatus parse(std::string_view text, Format format, std::vector<ListingEntry>& entries);

    // The list text the transfers read: one entry per line ended by CR LF, directories with a trailing "/".
    static std::string listText(const std::vector<ListingEntry>& entries);

private:
    static LineKind parseUnixLine(std::string_view line, ListingEntry& entry);
    static LineKind parseDosLine(std::string_view line, ListingEntry& entry);
};
