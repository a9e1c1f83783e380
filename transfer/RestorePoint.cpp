#include "RestorePoint.h"

#include "SafeName.h"

#include <algorithm>

namespace {

constexpr const char* kPromptsPrefix = "PMT/";

// "2026-12-07 02:30:00" -> "2026-12-07T023000": a time typed as people write it matches the name.
std::string asNameStart(const std::string& from) {
    std::string start;
    for (const char c : from) {
        if (c == ' ')
            start += 'T';
        else if (c != ':')
            start += c;
    }
    return start;
}

} // namespace

std::string RestorePoint::Join(const std::string& folder, const std::string& name) const {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

void RestorePoint::Latest(const std::string& base) {
    m_base = base;
    m_chosen = {};
    m_fromChosen.clear();
}

bool RestorePoint::Select(const std::string& base, const std::string& from) {
    Latest(base);
    const std::string start = asNameStart(from);
    std::vector<GenerationStore::Generation> generations = GenerationStore::Read(base);
    for (size_t index = generations.size(); !start.empty() && index-- > 0;) {
        if (generations[index].name.compare(0, start.size(), start) == 0) {
            m_fromChosen.assign(
                std::make_move_iterator(generations.begin() + static_cast<std::ptrdiff_t>(index)),
                std::make_move_iterator(generations.end()));
            m_chosen = m_fromChosen.front();
            return true;
        }
    }
    return false;
}

RestorePoint::Source RestorePoint::SourceOf(const std::string& relative) const {
    for (const auto& generation : m_fromChosen) {
        if (const GenerationManifest::Folder* folder = generation.manifest.find(relative))
            return {Join(m_base, std::string(SafeName::kGenerationsFolderName) + "/" + generation.name + "/" +
                                     relative),
                    true, folder->files.size()};
    }
    return {Join(m_base, relative), false, 0};
}

std::vector<std::string> RestorePoint::HeldPromptSubFolders() const {
    std::vector<std::string> names;
    for (const auto& generation : m_fromChosen) {
        for (const auto& folder : generation.manifest.folders()) {
            if (folder.path.rfind(kPromptsPrefix, 0) == 0)
                names.push_back(folder.path.substr(std::string(kPromptsPrefix).size()));
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}
