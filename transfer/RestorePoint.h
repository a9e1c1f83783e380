#pragma once

#include "GenerationStore.h"

#include <string>
#include <vector>

// Where a Restore takes each folder from: the latest backup (the category folders under the base
// folder), or the backup of one generation. As of a generation every folder is restored as it stood
// after that backup: from the generation where it holds the folder, otherwise from the next newer
// generation that holds it (the folder did not change in between), otherwise from the latest backup.
class RestorePoint {
public:
    struct Source {
        std::string path;  // the folder to send
        bool held = false; // a generation holds it
        size_t files = 0;  // held: how many files that backup left in it
    };

    // The latest backup in base.
    void Latest(const std::string& base);
    // As of the newest generation of base whose name begins with from (a whole name, a date such as
    // "2026-12-07", or any start of a name; ":" and " " may be given as in "2026-12-07 02:30"); false,
    // with the latest backup chosen, when none matches.
    bool Select(const std::string& base, const std::string& from);

    bool fromGeneration() const { return !m_chosen.name.empty(); }
    const GenerationStore::Generation& chosen() const { return m_chosen; }

    // The folder relative ("MSG", "PMT/A") as the chosen backup left it.
    Source SourceOf(const std::string& relative) const;
    // The Prompts sub-folders a generation holds for the chosen backup (some may be gone from the
    // latest backup); each is to be looked at with SourceOf.
    std::vector<std::string> HeldPromptSubFolders() const;

private:
    std::string Join(const std::string& folder, const std::string& name) const;

    std::string m_base;
    GenerationStore::Generation m_chosen;
    std::vector<GenerationStore::Generation> m_fromChosen; // the chosen generation and the newer ones
};
