#include "GenerationListing.h"

#include "CountText.h"
#include "GenerationStore.h"
#include "SafeName.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace GenerationListing {

namespace {

struct Holding {
    int64_t files = 0;
    int64_t onlyHere = 0;   // bytes of files no other generation and not the latest backup links to
    int64_t wrong = 0;      // files claimed and missing, or of another size
    std::string firstWrong; // its path in the generation
};

Holding holdingOf(const LocalFolder& generation, const GenerationManifest& manifest) {
    Holding holding;
    for (const auto& folder : manifest.folders()) {
        LocalFolder opened;
        const bool open = generation.openBelow(folder.path, false, opened) == 0;
        for (const auto& file : folder.files) {
            struct stat info {};
            ++holding.files;
            if (open && ::fstatat(opened.descriptor(), file.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(info.st_mode) && info.st_size == file.size) {
                holding.onlyHere += info.st_nlink == 1 ? static_cast<int64_t>(info.st_size) : 0;
                continue;
            }
            if (holding.wrong++ == 0)
                holding.firstWrong = folder.path + "/" + file.name;
        }
    }
    return holding;
}

std::string folderNames(const GenerationManifest& manifest) {
    std::string names;
    for (const auto& folder : manifest.folders())
        names += (names.empty() ? "" : ", ") + folder.path;
    return names;
}

std::string row(const std::string& name, const std::string& files, const std::string& bytes,
                const std::string& folders) {
    char text[96];
    std::snprintf(text, sizeof text, "%-20s %12s %20s  ", name.c_str(), files.c_str(), bytes.c_str());
    return text + folders;
}

} // namespace

int32_t List(const std::string& base, std::vector<std::string>& lines) {
    LocalFolder baseFolder;
    if (LocalFolder::openPath(base, baseFolder) != 0) {
        lines.push_back("The local folder " + SafeName::printable(base) + " does not exist.");
        return -1;
    }
    const std::vector<GenerationStore::Generation> generations = GenerationStore::Read(base);
    LocalFolder folder;
    baseFolder.openChild(SafeName::kGenerationsFolderName, false, folder);
    // A generation's folder whose manifest is missing or damaged claims nothing, and so is never used
    // (while a backup runs, the one it is filling may have none yet).
    std::vector<std::string> unused;
    for (const auto& entry : folder.entries()) {
        int64_t moment = 0;
        if (entry.kind == LocalFolder::Kind::Folder && GenerationStore::MomentOf(entry.name, moment) &&
            std::none_of(
                generations.begin(), generations.end(),
                [&](const GenerationStore::Generation& generation) { return generation.name == entry.name; }))
            unused.push_back(entry.name + ": its manifest is missing or damaged, so it is not used.");
    }
    int32_t result = unused.empty() ? 0 : -1;
    if (generations.empty() && unused.empty()) {
        lines.push_back("No generations in " + SafeName::printable(base) + ".");
        return 0;
    }
    lines.push_back("Generations of " + SafeName::printable(base) +
                    ": each holds the folders named as the backup of its date and time left them.");
    lines.push_back(row("Generation (UTC)", "Files kept", "Bytes only it holds", "Folders"));
    for (const auto& generation : generations) {
        LocalFolder opened;
        folder.openChild(generation.name, false, opened);
        const Holding holding = holdingOf(opened, generation.manifest);
        lines.push_back(row(generation.name, CountText::grouped(holding.files),
                            CountText::grouped(holding.onlyHere), folderNames(generation.manifest)));
        if (holding.wrong > 0) {
            lines.push_back("    " + CountText::grouped(holding.wrong) +
                            " files it claims are missing or of another size, such as " +
                            SafeName::printable(holding.firstWrong));
            result = -1;
        }
    }
    lines.insert(lines.end(), unused.begin(), unused.end());
    return result;
}

} // namespace GenerationListing
