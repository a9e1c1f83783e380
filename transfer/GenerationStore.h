#pragma once

#include "GenerationManifest.h"
#include "LocalFolder.h"
#include "Retention.h"
#include "TransferHost.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

// The generations of one local base folder. The category folders hold the latest backup; before a
// backup changes one of them (a file added, replaced or removed), the folder as it stood after the
// previous backup goes into the generation named by that backup's moment (UTC, "2026-12-07T023000Z"),
// as hard links to the same files: a backup never writes a file in place, so a link keeps the old
// content. Where the file system has no hard links, copies. A generation holds only the folders that
// changed after it; what it does not hold stood as the next newer generation (or the latest backup)
// holds it, so that the set of generations gives every folder as it stood after each of them.
//
// Layout: <base>/.kavrel-generations/<name>/ mirrors the base folder ("MSG", "PMT/A") for the folders
// it holds, named with their files in its manifest (written last); last-backup names the moment of the
// last backup that reached a folder, kept apart from any folder's times.
class GenerationStore {
public:
    struct Generation {
        std::string name;
        int64_t moment = 0;
        GenerationManifest manifest;
    };

    GenerationStore(TransferHost& host, RetentionPolicy policy);

    // A backup in the locked base folder begins at the moment now (seconds since 1970, UTC). A generation
    // a killed run had begun and not yet named in a manifest is removed. Throws when the folder cannot be
    // read.
    void StartBackup(const std::string& base, int64_t now);

    // Called as a folder's previous backup is about to give way (relative: its path below the base
    // folder). Files of incoming that arrived with the bytes the folder holds already are taken out of
    // it: they stay as they are. When the folder still changes, its previous state is kept first, and a
    // night that removes most of it says so in a warning. Throws when the state cannot be kept: the
    // folder must then stay as it is.
    void BeforeFolderChange(const LocalFolder& folder, const LocalFolder& staging,
                            const std::string& relative, const std::string& shownPath,
                            const std::vector<std::string>& present,
                            std::unordered_set<std::string>& incoming,
                            const std::vector<std::string>& removed);
    // A Prompts sub-folder the server no longer has leaves the backup, into the generation like any
    // removed file. A folder of the user's own inside it stays. Throws when it cannot be kept or removed.
    void RemoveFolder(const LocalFolder& parent, const std::string& name, const std::string& relative,
                      const std::string& shownPath);

    // After a backup that completed: the generations the retention no longer keeps go (each named in
    // the log). What one of them held for an older generation that stays moves into that one first.
    void Prune();

    // The generations of base with a manifest, oldest first; none when there are none or the folder
    // cannot be read. Needs no write access.
    static std::vector<Generation> Read(const std::string& base);
    static std::string NameOf(int64_t moment);
    // The moment of a generation's name; false for a name that is not one.
    static bool MomentOf(const std::string& name, int64_t& moment);
    // "2026-12-07 02:30:00 UTC"
    static std::string ShownMoment(int64_t moment);

private:
    void NoteRun();
    LocalFolder OpenGeneration(const std::string& name, bool create) const;
    LocalFolder MakeTarget(const LocalFolder& generation, const std::string& relative,
                           const std::string& shownPath) const;
    GenerationManifest::Folder LinkFiles(const LocalFolder& from, const std::vector<std::string>& names,
                                         const LocalFolder& into, const std::string& shownPath);
    void CopyFile(const LocalFolder& from, const std::string& name, const LocalFolder& into,
                  const std::string& shownPath) const;
    // Keeps the files of folder at relative in this run's generation; its name.
    std::string Keep(const LocalFolder& folder, const std::string& relative,
                     const std::vector<std::string>& files, const std::string& shownPath);
    void WarnOfMassRemoval(const std::string& shownPath, size_t removed, size_t total,
                           const std::string& kept);
    void MergeInto(Generation& older, const Generation& removed);
    std::string PathOf(const std::string& generation, const std::string& relative = {}) const;

    TransferHost& m_host;
    RetentionPolicy m_policy;
    std::string m_basePath;
    LocalFolder m_base;
    LocalFolder m_folder; // .kavrel-generations, once it exists
    int64_t m_moment = 0;
    // The moment of the backup before this one, whose state this run's changes keep; -1 when unknown
    // (a folder backed up before generations were kept, or while they were off).
    int64_t m_previous = -1;
    int64_t m_newestGeneration = -1;
    bool m_noted = false;
    bool m_copying = false; // the file system refused a hard link: copies from then on
};
