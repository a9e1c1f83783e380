#include "OwnershipCheck.h"

#include <algorithm>
#include <cctype>
#include <pwd.h>
#include <unistd.h>

namespace {

// The path as a shell word, so that the mending command can be pasted as it stands.
std::string shellWord(const std::string& path) {
    const bool plain = !path.empty() && std::all_of(path.begin(), path.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ',';
    });
    if (plain)
        return path;
    std::string word = "'";
    for (const char c : path)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

std::string currentUserName() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr ? entry->pw_name : std::to_string(::geteuid());
}

} // namespace

OwnershipCheck::Verdict OwnershipCheck::of(const struct stat& info) {
    if (S_ISLNK(info.st_mode))
        return Verdict::Link;
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return Verdict::ForeignOwner;
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Verdict::WritableByOthers;
    return Verdict::Own;
}

OwnershipCheck::Verdict OwnershipCheck::ofPath(const std::string& path, bool followLinks) {
    struct stat info {};
    const int result = followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    return result == 0 ? of(info) : Verdict::Missing;
}

std::string OwnershipCheck::refusal(const std::string& what, const std::string& path, Verdict verdict) {
    const std::string start = "Refusing the " + what + " " + path + ": ";
    const std::string word = shellWord(path);
    switch (verdict) {
    case Verdict::Link:
        return start + "it is a symbolic link, which is not followed (put the file itself in its place).";
    case Verdict::ForeignOwner:
        return start + "another user owns it. Mend it with: sudo chown " + currentUserName() + " " + word +
               " && chmod go-w " + word;
    case Verdict::WritableByOthers:
        return start + "other users can write to it. Mend it with: chmod go-w " + word;
    case Verdict::Own:
    case Verdict::Missing:
        break;
    }
    return {};
}
