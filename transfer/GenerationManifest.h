#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What one generation claims to hold: each folder it keeps (by its path below the local base folder:
// "MSG", "PMT/A") with the names and sizes of the files that backup left in it. The generation's
// folder holds those files under the same paths; the manifest is written whole, flushed and renamed
// into place only after every file it names is there, so that a run killed at any moment never leaves
// a generation that claims a file it does not hold. A later check compares the two.
class GenerationManifest {
public:
    struct File {
        std::string name;
        int64_t size = 0;
    };
    struct Folder {
        std::string path;
        std::vector<File> files;
    };

    const std::vector<Folder>& folders() const { return m_folders; }
    const Folder* find(const std::string& path) const;
    void add(Folder folder) { m_folders.push_back(std::move(folder)); }
    int64_t fileCount() const;

    // Reads the manifest of the open generation folder (never through a link); false, with nothing
    // claimed, when there is none or it is damaged in any way. Never throws.
    bool load(int generationFolder);
    // Writes it into the open generation folder under a temporary name, flushes it and renames it into
    // place. Throws std::filesystem::filesystem_error naming shownPath when it cannot.
    void save(int generationFolder, const std::string& shownPath) const;

    static constexpr const char* kFileName = ".kavrel-manifest";

private:
    std::string text() const;
    bool parse(const std::string& content);

    std::vector<Folder> m_folders;
};
