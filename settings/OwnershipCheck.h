#pragma once

#include <string>
#include <sys/stat.h>

// Whether a file that steers the program (the settings: server, password, folders; the trusted
// certificates) can only have been written by its user. A file that another user owns, or that group
// or others may write, could have been rewritten to point a backup at any server and any folder, or to
// trust an attacker's certificate: it is refused. The owner may be the user or root (who could write it
// anyway).
class OwnershipCheck {
public:
    enum class Verdict {
        Own,              // the user's (or root's), writable by no one else
        Missing,          // nothing there: nothing to refuse
        Link,             // a symbolic link where none may be followed
        WritableByOthers, // group or others may write it
        ForeignOwner,     // another user owns it
    };

    // For a file already open (its fstat), so that what is checked is what is read.
    static Verdict of(const struct stat& info);
    // For a path; a link is followed only with followLinks (else it is Link).
    static Verdict ofPath(const std::string& path, bool followLinks);

    // The line that refuses the file, naming it and the command that mends it; empty for Own and
    // Missing. what names the file's role ("settings file", "trust file").
    static std::string refusal(const std::string& what, const std::string& path, Verdict verdict);
    static std::string refusalOf(const std::string& what, const std::string& path, bool followLinks) {
        return refusal(what, path, ofPath(path, followLinks));
    }
};
