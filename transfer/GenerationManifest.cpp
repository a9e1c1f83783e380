#include "GenerationManifest.h"

#include "SafeName.h"
#include "WholeFile.h"

#include <charconv>
#include <filesystem>
#include <sstream>
#include <system_error>

namespace {

constexpr const char* kFirstLine = "kavrel-generation 1";
constexpr const char* kTemporaryName = ".kavrel-manifest.new";
// A manifest is a few dozen bytes per file; anything far larger is not one of ours.
constexpr size_t kLargestManifest = 256 * 1024 * 1024;

// A folder path of one or two plain components ("MSG", "PMT/A"): a manifest never leads elsewhere.
bool isFolderPath(const std::string& path) {
    const size_t slash = path.find('/');
    if (slash == std::string::npos)
        return SafeName::isSafeComponent(path);
    return SafeName::isSafeComponent(path.substr(0, slash)) &&
           SafeName::isSafeComponent(path.substr(slash + 1));
}

// "<number> <rest>": the number and the text after one blank; false when the line is not so.
bool splitNumber(const std::string& line, size_t from, int64_t& number, std::string& rest) {
    const char* begin = line.data() + from;
    const char* end = line.data() + line.size();
    const auto [next, error] = std::from_chars(begin, end, number);
    if (error != std::errc() || next == begin || next == end || *next != ' ' || number < 0)
        return false;
    rest.assign(next + 1, end);
    return !rest.empty();
}

} // namespace

const GenerationManifest::Folder* GenerationManifest::find(const std::string& path) const {
    for (const Folder& folder : m_folders) {
        if (folder.path == path)
            return &folder;
    }
    return nullptr;
}

int64_t GenerationManifest::fileCount() const {
    int64_t count = 0;
    for (const Folder& folder : m_folders)
        count += static_cast<int64_t>(folder.files.size());
    return count;
}

std::string GenerationManifest::text() const {
    std::string body = std::string(kFirstLine) + "\n";
    for (const Folder& folder : m_folders) {
        body += "folder " + std::to_string(folder.files.size()) + " " + folder.path + "\n";
        for (const File& file : folder.files)
            body += "file " + std::to_string(file.size) + " " + file.name + "\n";
    }
    return body + "end " + std::to_string(m_folders.size()) + " " + std::to_string(fileCount()) + "\n";
}

bool GenerationManifest::parse(const std::string& content) {
    std::istringstream lines(content);
    std::string line;
    if (!std::getline(lines, line) || line != kFirstLine)
        return false;
    int64_t filesLeft = 0;
    while (std::getline(lines, line)) {
        int64_t number = 0;
        std::string rest;
        if (line.rfind("file ", 0) == 0 && filesLeft > 0 && splitNumber(line, 5, number, rest) &&
            SafeName::isSafeComponent(rest)) {
            m_folders.back().files.push_back({rest, number});
            --filesLeft;
        } else if (line.rfind("folder ", 0) == 0 && filesLeft == 0 && splitNumber(line, 7, number, rest) &&
                   isFolderPath(rest)) {
            m_folders.push_back({rest, {}});
            filesLeft = number;
        } else {
            // The end line names what came before it, and nothing may follow it.
            return filesLeft == 0 && lines.peek() == std::char_traits<char>::eof() &&
                   line == "end " + std::to_string(m_folders.size()) + " " + std::to_string(fileCount()) &&
                   content.back() == '\n';
        }
    }
    return false;
}

bool GenerationManifest::load(int generationFolder) {
    m_folders.clear();
    std::string content;
    if (!WholeFile::read(generationFolder, kFileName, kLargestManifest, content) || !parse(content)) {
        m_folders.clear();
        return false;
    }
    return true;
}

void GenerationManifest::save(int generationFolder, const std::string& shownPath) const {
    if (const int error = WholeFile::replace(generationFolder, kTemporaryName, kFileName, text()); error != 0)
        throw std::filesystem::filesystem_error("cannot write the generation's manifest", shownPath,
                                                std::error_code(error, std::generic_category()));
}
