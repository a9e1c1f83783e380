#include "MountTable.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace {

// The kernel escapes blank, tab, newline and backslash in mount points as a backslash and three octal
// digits; anything else after a backslash is kept as it stands.
std::string unescapeOctal(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        const bool escaped = field[i] == '\\' && i + 3 < field.size();
        if (escaped && field[i + 1] >= '0' && field[i + 1] <= '3' && field[i + 2] >= '0' &&
            field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::string> splitOnBlanks(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> fields;
    std::string field;
    while (stream >> field)
        fields.push_back(field);
    return fields;
}

bool isFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool isWithin(const std::string& path, const std::string& area) {
    return path == area ||
           (path.size() > area.size() && path.compare(0, area.size(), area) == 0 && path[area.size()] == '/');
}

} // namespace

MountTable::MountTable(std::string mountInfoPath) : mountInfoPath_(std::move(mountInfoPath)) {}

std::vector<MountEntry> MountTable::parse(std::istream& mountInfo) {
    std::vector<MountEntry> entries;
    std::string line;
    while (std::getline(mountInfo, line)) {
        const auto fields = splitOnBlanks(line);
        // id, parent, device, root, mount point, options, optional fields..., "-", type, source, options
        const auto separator = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 7 || separator == fields.end() || separator - fields.begin() < 6 ||
            separator + 1 == fields.end())
            continue;
        entries.push_back({unescapeOctal(fields[4]), *(separator + 1)});
    }
    return entries;
}

bool MountTable::isPseudoFileSystem(const std::string& type) {
    static const std::set<std::string> pseudo = {
        "autofs",     "binfmt_misc", "bpf",      "cgroup",   "cgroup2",     "configfs",
        "debugfs",    "devpts",      "devtmpfs", "efivarfs", "fusectl",     "hugetlbfs",
        "mqueue",     "nfsd",        "nsfs",     "proc",     "pstore",      "rpc_pipefs",
        "securityfs", "selinuxfs",   "sysfs",    "tracefs",  "fuse.portal", "fuse.lxcfs"};
    return pseudo.count(type) != 0;
}

bool MountTable::isKernelArea(const std::string& mountPoint) {
    static const std::array<std::string, 3> areas = {"/proc", "/sys", "/dev"};
    return std::any_of(areas.begin(), areas.end(),
                       [&](const std::string& area) { return isWithin(mountPoint, area); });
}

std::vector<MountEntry> MountTable::entries() const {
    std::ifstream mountInfo(mountInfoPath_);
    return parse(mountInfo);
}

std::vector<std::string> MountTable::browsableMountPoints() const {
    std::set<std::string> others;
    for (const auto& entry : entries()) {
        if (entry.mountPoint == "/" || entry.mountPoint.empty() || entry.mountPoint[0] != '/')
            continue;
        if (isPseudoFileSystem(entry.fileSystemType) || isKernelArea(entry.mountPoint))
            continue;
        if (isFolder(entry.mountPoint))
            others.insert(entry.mountPoint);
    }
    std::vector<std::string> result{"/"};
    result.insert(result.end(), others.begin(), others.end());
    return result;
}
