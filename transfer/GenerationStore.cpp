#include "GenerationStore.h"

#include "CountText.h"
#include "SafeName.h"
#include "WholeFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// In the generations folder: the moment of the last backup that reached a folder there.
constexpr const char* kLastBackupName = "last-backup";
constexpr const char* kLastBackupTemporary = ".last-backup.new";
constexpr size_t kLargestLastBackup = 4096;
// A generation's name: its backup's moment in UTC, sorting as the moments do and easy to type.
constexpr const char* kNameFormat = "%Y-%m-%dT%H%M%SZ";
// A night that removes more than half of a folder, and at least this many files, is warned of.
constexpr size_t kMassRemovalFiles = 10;

[[noreturn]] void throwLocal(const char* what, const std::string& path, int error) {
    throw std::filesystem::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// Errors of a file system that has no hard links (FAT, some network shares) or will take no more.
bool linksImpossible(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == EXDEV || error == EMLINK || error == ENOSYS;
}

std::vector<std::string> filesOf(const LocalFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : folder.entries()) {
        if (entry.kind == LocalFolder::Kind::File && !SafeName::isTransferTemporary(entry.name))
            names.push_back(entry.name);
    }
    return names;
}

std::vector<GenerationStore::Generation> generationsIn(const LocalFolder& folder) {
    std::vector<GenerationStore::Generation> found;
    for (const auto& entry : folder.entries()) {
        GenerationStore::Generation generation;
        LocalFolder opened;
        if (entry.kind == LocalFolder::Kind::Folder &&
            GenerationStore::MomentOf(entry.name, generation.moment) &&
            folder.openChild(entry.name, false, opened) == 0 &&
            generation.manifest.load(opened.descriptor())) {
            generation.name = entry.name;
            found.push_back(std::move(generation));
        }
    }
    // The names sort as their moments do; entries() sorted them.
    return found;
}

std::string utcText(int64_t moment, const char* format) {
    const auto seconds = static_cast<std::time_t>(moment);
    std::tm time{};
    ::gmtime_r(&seconds, &time);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &time));
}

} // namespace

GenerationStore::GenerationStore(TransferHost& host, RetentionPolicy policy)
    : m_host(host), m_policy(policy) {}

std::string GenerationStore::NameOf(int64_t moment) {
    return utcText(moment, kNameFormat);
}

bool GenerationStore::MomentOf(const std::string& name, int64_t& moment) {
    std::tm time{};
    const char* end = ::strptime(name.c_str(), kNameFormat, &time);
    if (end == nullptr || *end != '\0')
        return false;
    const int64_t seconds = ::timegm(&time);
    // Only the very form NameOf gives (no 30 February, no missing zeros) names a generation.
    if (NameOf(seconds) != name)
        return false;
    moment = seconds;
    return true;
}

std::string GenerationStore::ShownMoment(int64_t moment) {
    return utcText(moment, "%Y-%m-%d %H:%M:%S UTC");
}

std::vector<GenerationStore::Generation> GenerationStore::Read(const std::string& base) {
    LocalFolder baseFolder;
    LocalFolder folder;
    if (LocalFolder::openPath(base, baseFolder) != 0 ||
        baseFolder.openChild(SafeName::kGenerationsFolderName, false, folder) != 0)
        return {};
    return generationsIn(folder);
}

std::string GenerationStore::PathOf(const std::string& generation, const std::string& relative) const {
    std::string path = m_basePath + "/" + SafeName::kGenerationsFolderName + "/" + generation;
    return relative.empty() ? path : path + "/" + relative;
}

void GenerationStore::StartBackup(const std::string& base, int64_t now) {
    m_basePath = base;
    m_previous = -1;
    m_newestGeneration = -1;
    m_noted = false;
    m_copying = false;
    if (const int error = LocalFolder::openPath(base, m_base); error != 0)
        throwLocal("cannot open folder", base, error);
    int64_t last = -1;
    if (m_base.openChild(SafeName::kGenerationsFolderName, false, m_folder) == 0) {
        // A generation whose first folder a killed run was still linking has no manifest yet: it never
        // was one. Only whether there is one is looked at, so that a night need not read them all (a
        // damaged one is for kavrel-cli generations to show).
        for (const auto& entry : m_folder.entries()) {
            int64_t moment = 0;
            LocalFolder generation;
            if (entry.kind != LocalFolder::Kind::Folder || !MomentOf(entry.name, moment) ||
                m_folder.openChild(entry.name, false, generation) != 0)
                continue;
            if (generation.kindOf(GenerationManifest::kFileName) != LocalFolder::Kind::Missing)
                m_newestGeneration = std::max(m_newestGeneration, moment);
            else if (const int error = m_folder.removeTree(entry.name); error != 0)
                throwLocal("cannot remove an unfinished generation", PathOf(entry.name), error);
        }
        std::string text;
        int64_t moment = 0;
        if (WholeFile::read(m_folder.descriptor(), kLastBackupName, kLargestLastBackup, text) &&
            text.rfind("moment ", 0) == 0 &&
            std::from_chars(text.data() + 7, text.data() + text.size(), moment).ec == std::errc())
            last = moment;
    }
    // The run after a backup notes its own moment before it fills that backup's generation, so only a
    // moment newer than every generation can name the next one; any other is stale.
    if (last > m_newestGeneration)
        m_previous = last;
    // A clock set back never makes a generation sort before an older one.
    m_moment = std::max({now, last + 1, m_newestGeneration + 2});
}

// The first folder this run reaches: from now on the backup's state is this run's.
void GenerationStore::NoteRun() {
    if (m_noted)
        return;
    if (m_policy.keepsNone()) {
        // While generations are off, folders change unrecorded: a moment kept from before would name a
        // later generation wrongly.
        if (m_folder.isOpen())
            m_folder.removeFile(kLastBackupName);
        m_noted = true;
        return;
    }
    if (!m_folder.isOpen()) {
        if (const int error = m_base.openChild(SafeName::kGenerationsFolderName, true, m_folder); error != 0)
            throwLocal("cannot create folder", m_basePath + "/" + SafeName::kGenerationsFolderName, error);
    }
    const std::string text = "moment " + std::to_string(m_moment) + " " + NameOf(m_moment) + "\n";
    if (const int error =
            WholeFile::replace(m_folder.descriptor(), kLastBackupTemporary, kLastBackupName, text);
        error != 0)
        throwLocal("cannot note the moment of the backup", PathOf(kLastBackupName), error);
    m_noted = true;
}

LocalFolder GenerationStore::OpenGeneration(const std::string& name, bool create) const {
    LocalFolder generation;
    if (const int error = m_folder.openChild(name, create, generation); error != 0)
        throwLocal("cannot open folder", PathOf(name), error);
    return generation;
}

// The folder relative inside a generation, made where missing. Files in it that the manifest does not
// claim (left by a killed run) go; a folder claimed below it (PMT/A below PMT) stays.
LocalFolder GenerationStore::MakeTarget(const LocalFolder& generation, const std::string& relative,
                                        const std::string& shownPath) const {
    LocalFolder target;
    if (const int error = generation.openBelow(relative, true, target); error != 0)
        throwLocal("cannot create folder", shownPath, error);
    for (const auto& entry : target.entries()) {
        if (entry.kind == LocalFolder::Kind::Folder)
            continue;
        if (const int error = target.removeFile(entry.name); error != 0)
            throwLocal("cannot delete file", shownPath + "/" + entry.name, error);
    }
    return target;
}

void GenerationStore::CopyFile(const LocalFolder& from, const std::string& name, const LocalFolder& into,
                               const std::string& shownPath) const {
    const int source = ::openat(from.descriptor(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const int target = source < 0 ? -1
                                  : ::openat(into.descriptor(), name.c_str(),
                                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    int error = source < 0 || target < 0 ? errno : 0;
    std::vector<char> buffer(1 << 16);
    while (error == 0) {
        const ssize_t got = ::read(source, buffer.data(), buffer.size());
        if (got == 0)
            break;
        if (got < 0)
            error = errno == EINTR ? 0 : errno;
        else
            error = WholeFile::writeAll(target, buffer.data(), static_cast<size_t>(got));
    }
    if (target >= 0 && ::close(target) != 0 && error == 0)
        error = errno;
    if (source >= 0)
        ::close(source);
    if (error != 0) {
        ::unlinkat(into.descriptor(), name.c_str(), 0);
        throwLocal("cannot copy a file into the generation", shownPath + "/" + name, error);
    }
}

GenerationManifest::Folder GenerationStore::LinkFiles(const LocalFolder& from,
                                                      const std::vector<std::string>& names,
                                                      const LocalFolder& into, const std::string& shownPath) {
    GenerationManifest::Folder kept;
    for (const auto& name : names) {
        struct stat info {};
        int found = ::fstatat(from.descriptor(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ? errno : 0;
        if (found == 0 && !S_ISREG(info.st_mode))
            found = EINVAL;
        if (found != 0)
            throwLocal("cannot keep a file in the generation", shownPath + "/" + name, found);
        if (!m_copying &&
            ::linkat(from.descriptor(), name.c_str(), into.descriptor(), name.c_str(), 0) != 0) {
            const int error = errno;
            if (!linksImpossible(error))
                throwLocal("cannot link a file into the generation", shownPath + "/" + name, error);
            m_copying = true;
            m_host.Display("Hard links are not possible in " +
                           SafeName::printable(m_basePath + "/" + SafeName::kGenerationsFolderName) + " (" +
                           std::strerror(error) + "): generations are kept as copies.");
        }
        if (m_copying)
            CopyFile(from, name, into, shownPath);
        kept.files.push_back({name, static_cast<int64_t>(info.st_size)});
    }
    // Copies reach the disk before the files they copy may go.
    if (m_copying && ::syncfs(into.descriptor()) != 0)
        throwLocal("cannot write the generation to disk", shownPath, errno);
    return kept;
}

std::string GenerationStore::Keep(const LocalFolder& folder, const std::string& relative,
                                  const std::vector<std::string>& files, const std::string& shownPath) {
    // Without the previous backup's moment, the state is named as it stood just before this run.
    const std::string name = NameOf(m_previous >= 0 ? m_previous : m_moment - 1);
    const LocalFolder generation = OpenGeneration(name, true);
    GenerationManifest manifest;
    if (!manifest.load(generation.descriptor()) &&
        generation.kindOf(GenerationManifest::kFileName) != LocalFolder::Kind::Missing)
        throwLocal("the manifest of the generation is damaged", PathOf(name, GenerationManifest::kFileName),
                   EINVAL);
    if (manifest.find(relative) != nullptr)
        throwLocal("the generation holds this folder already", PathOf(name, relative), EEXIST);
    const bool named = generation.kindOf(GenerationManifest::kFileName) != LocalFolder::Kind::Missing;
    try {
        const LocalFolder target = MakeTarget(generation, relative, PathOf(name, relative));
        GenerationManifest::Folder kept = LinkFiles(folder, files, target, shownPath);
        kept.path = relative;
        manifest.add(std::move(kept));
        manifest.save(generation.descriptor(), PathOf(name, GenerationManifest::kFileName));
    } catch (...) {
        // A generation no manifest names (a full disk took its first one) never was one: it goes now,
        // not at the next backup, so that a run that ends by itself leaves nothing unfinished behind.
        if (!named)
            m_folder.removeTree(name);
        throw;
    }
    return name;
}

void GenerationStore::WarnOfMassRemoval(const std::string& shownPath, size_t removed, size_t total,
                                        const std::string& kept) {
    if (removed < kMassRemovalFiles || removed * 2 <= total)
        return;
    m_host.Warn("Warning: the server no longer has " + CountText::grouped(static_cast<int64_t>(removed)) +
                " of the " + CountText::grouped(static_cast<int64_t>(total)) + " files of " +
                SafeName::printable(shownPath) + "; " +
                (kept.empty() ? std::string("no generation keeps them (generations are off).")
                              : "generation " + kept + " keeps them."));
}

void GenerationStore::BeforeFolderChange(const LocalFolder& folder, const LocalFolder& staging,
                                         const std::string& relative, const std::string& shownPath,
                                         const std::vector<std::string>& present,
                                         std::unordered_set<std::string>& incoming,
                                         const std::vector<std::string>& removed) {
    NoteRun();
    std::vector<std::string> files;
    for (const auto& name : present) {
        if (!SafeName::isTransferTemporary(name))
            files.push_back(name);
    }
    const bool keeping = !m_policy.keepsNone();
    // A file fetched again with the same bytes changes nothing: the folder keeps its copy (and the
    // generations their links to it).
    for (auto name = incoming.begin(); keeping && name != incoming.end();) {
        bool same = false;
        if (folder.kindOf(*name) == LocalFolder::Kind::File &&
            staging.compareFile(*name, folder, same) == 0 && same)
            name = incoming.erase(name);
        else
            ++name;
    }
    std::string kept;
    // Before the very first backup there was nothing to keep.
    if (keeping && (!incoming.empty() || !removed.empty()) && (!files.empty() || m_previous >= 0))
        kept = Keep(folder, relative, files, shownPath);
    WarnOfMassRemoval(shownPath, removed.size(), files.size(), kept);
}

void GenerationStore::RemoveFolder(const LocalFolder& parent, const std::string& name,
                                   const std::string& relative, const std::string& shownPath) {
    NoteRun();
    LocalFolder folder;
    if (const int error = parent.openChild(name, false, folder); error != 0)
        throwLocal("cannot open folder", shownPath, error);
    const std::vector<std::string> files = filesOf(folder);
    std::string kept;
    if (!m_policy.keepsNone() && (!files.empty() || m_previous >= 0))
        kept = Keep(folder, relative, files, shownPath);
    WarnOfMassRemoval(shownPath, files.size(), files.size(), kept);
    for (const auto& entry : folder.entries()) {
        if (entry.kind == LocalFolder::Kind::Folder && !SafeName::isTransferTemporary(entry.name))
            continue;
        if (const int error = folder.removeTree(entry.name); error != 0)
            throwLocal("cannot delete file", shownPath + "/" + entry.name, error);
    }
    if (::unlinkat(parent.descriptor(), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOTEMPTY &&
        errno != EEXIST)
        throwLocal("cannot remove folder", shownPath, errno);
}

// The folders removed holds that older does not stood, as of older, as removed holds them: they move
// into older (as links, and claimed there before removed goes) so that older stays whole.
void GenerationStore::MergeInto(Generation& older, const Generation& removed) {
    const LocalFolder from = OpenGeneration(removed.name, false);
    const LocalFolder into = OpenGeneration(older.name, false);
    bool merged = false;
    for (const auto& folder : removed.manifest.folders()) {
        if (older.manifest.find(folder.path) != nullptr)
            continue;
        LocalFolder source;
        if (const int error = from.openBelow(folder.path, false, source); error != 0)
            throwLocal("cannot open folder", PathOf(removed.name, folder.path), error);
        std::vector<std::string> names;
        for (const auto& file : folder.files)
            names.push_back(file.name);
        const LocalFolder target = MakeTarget(into, folder.path, PathOf(older.name, folder.path));
        GenerationManifest::Folder kept = LinkFiles(source, names, target, PathOf(removed.name, folder.path));
        kept.path = folder.path;
        older.manifest.add(std::move(kept));
        merged = true;
    }
    if (merged)
        older.manifest.save(into.descriptor(), PathOf(older.name, GenerationManifest::kFileName));
}

void GenerationStore::Prune() {
    if (!m_folder.isOpen())
        return;
    // The names decide; the manifests are read only when one goes.
    std::vector<int64_t> moments;
    for (const auto& entry : m_folder.entries()) {
        if (int64_t moment = 0; entry.kind == LocalFolder::Kind::Folder && MomentOf(entry.name, moment))
            moments.push_back(moment);
    }
    const std::vector<bool> named = Retention::Keep(m_policy, moments);
    if (std::all_of(named.begin(), named.end(), [](bool kept) { return kept; }))
        return;
    std::vector<Generation> generations = generationsIn(m_folder);
    moments.clear();
    for (const auto& generation : generations)
        moments.push_back(generation.moment);
    const std::vector<bool> keep = Retention::Keep(m_policy, moments);
    for (size_t index = 0; index < generations.size(); ++index) {
        if (keep[index])
            continue;
        const std::string& name = generations[index].name;
        try {
            for (size_t older = index; older-- > 0;) {
                if (keep[older]) {
                    MergeInto(generations[older], generations[index]);
                    break;
                }
            }
            // Without its manifest it claims nothing; a run killed while its files go removes the rest.
            if (const int error = OpenGeneration(name, false).removeFile(GenerationManifest::kFileName);
                error != 0)
                throwLocal("cannot delete file", PathOf(name, GenerationManifest::kFileName), error);
            if (const int error = m_folder.removeTree(name); error != 0)
                throwLocal("cannot remove folder", PathOf(name), error);
            m_host.Display("Removing generation " + name + " (keeping " + Retention::Describe(m_policy) +
                           ")");
        } catch (const std::exception& error) {
            m_host.Warn("Warning: generation " + name + " could not be removed: " + error.what());
            return;
        }
    }
}
