#pragma once

#include <istream>
#include <string>
#include <vector>

// One line of the kernel's mount table: where a file system is mounted and what kind it is.
struct MountEntry {
    std::string mountPoint;
    std::string fileSystemType;
};

// The mounted file systems a user can browse for folders: the "drives" of the folder picker.
// Kernel interfaces (proc, sysfs, cgroup, ...) and bind-mounted single files are left out, because no
// backup can live there.
class MountTable {
public:
    explicit MountTable(std::string mountInfoPath = "/proc/self/mountinfo");

    // "/" first, then the other browsable mount points in name order, each once.
    std::vector<std::string> browsableMountPoints() const;

    // Every mounted file system, in the kernel's order.
    std::vector<MountEntry> entries() const;

    // Reads mountinfo lines; lines that do not have the kernel's shape are skipped.
    static std::vector<MountEntry> parse(std::istream& mountInfo);

    static bool isPseudoFileSystem(const std::string& type);

    // /proc, /sys and /dev hold kernel objects even where a real file system type is mounted there.
    static bool isKernelArea(const std::string& mountPoint);

private:
    std::string mountInfoPath_;
};
