#pragma once

#include "RestorePoint.h"
#include "Retention.h"
#include "TransferHost.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The check boxes as they stand when Backup or Restore is pressed: 1 ticked, 0 not, 2 greyed (not ticked).
struct CategorySelection {
    int32_t application = 1;
    int32_t prompts = 1;
    int32_t messages = 1;
    int32_t mailboxes = 1;
};

// Each category's server directory in drive-and-backslash form ("C:\DTA").
struct ServerPaths {
    std::string data = "C:\\DTA";
    std::string prompt = "C:\\PMT";
    std::string message = "C:\\MSG";
    std::string mailbox = "C:\\MBX";
};

// How a Backup or Restore ended, as its summary box said it.
enum class CommandOutcome {
    Completed,         // "Backup completed." / "Restore completed."
    HaltedPrematurely, // a failure, whose cause is in the log
    HaltedByUser,      // Abort
    RunTimeError,      // the "Error: (n) - ..." box
};

class TransferSession; // owns ServerList and the directory operations; see TransferSession.h
class GenerationStore;

// The bodies of the Backup and Restore commands, shared by the window and the headless command.
class TransferCommands {
public:
    explicit TransferCommands(TransferHost& host);
    ~TransferCommands();
    TransferCommands(const TransferCommands&) = delete;
    TransferCommands& operator=(const TransferCommands&) = delete;

    // localDirText is eLocalDir's text as it stands (trimmed here; empty means the program folder's root).
    CommandOutcome Backup(const std::string& localDirText, const CategorySelection& selection,
                          const ServerPaths& paths);
    CommandOutcome Restore(const std::string& localDirText, const CategorySelection& selection,
                           const ServerPaths& paths);

    TransferSession& session();

    // How many generations a completed Backup leaves; 0, 0, 0 keeps none (generations are off).
    void SetRetention(const RetentionPolicy& retention) { m_retention = retention; }
    // Restore as of the newest generation whose name begins with from; empty: the latest backup.
    void SetRestoreFrom(const std::string& from) { m_restoreFrom = from; }
    // Where a Backup takes its moment from (seconds since 1970, UTC): the system clock unless set.
    void SetClock(std::function<int64_t()> clock) { m_clock = std::move(clock); }

    // The local base directory for eLocalDir's text: the text without leading and trailing blanks, or
    // the program folder's drive root (the mount point of its file system) when nothing is left.
    static std::string LocalBaseDirectory(const std::string& localDirText);
    // A server directory under a drive-and-backslash path: "C:\PMT" and "A" give "C:\PMT\A".
    static std::string BuildServerPath(const std::string& serverDir, const std::string& name);

private:
    enum class Direction { Backup, Restore };

    // What Backup and Restore share: clear the log, work out the base directory, clear the abort flag,
    // run the categories in StateTransferring, show the one summary box, and end in StateConnected.
    CommandOutcome RunCommand(Direction direction, const std::string& localDirText,
                              const CategorySelection& selection, const ServerPaths& paths);
    // The ticked categories in their fixed order; the first failure ends the command (-1).
    int32_t RunInBase(Direction direction, const std::string& base, const CategorySelection& selection,
                      const ServerPaths& paths);
    // Every ticked category's folder exists (a line names each one that does not): 0, else -1.
    int32_t CheckRestoreFolders(const CategorySelection& selection, const ServerPaths& paths);
    // The restore point of m_restoreFrom (a line names a generation that does not exist): 0, else -1.
    int32_t ChooseRestorePoint(const std::string& base);
    // A Backup's categories, each folder's previous state kept in the base folder's generations, and
    // after a completed one the generations the retention no longer keeps gone.
    int32_t BackupKeepingGenerations(const std::string& absolute, const std::string& base,
                                     const CategorySelection& selection, const ServerPaths& paths);
    int32_t RunCategories(Direction direction, const std::string& base, const CategorySelection& selection,
                          const ServerPaths& paths);
    int32_t BackupPromptSubdirectories(const std::string& base, const ServerPaths& paths);
    // The local Prompts sub-folders the server's listing no longer names leave the backup.
    int32_t RemoveVanishedPromptFolders(const std::string& base, const ServerPaths& paths,
                                        const std::vector<std::string>& listed);
    int32_t RestorePromptSubFolders(const std::string& base, const ServerPaths& paths);
    // The local Prompts folder's sub-folders a restore may send (a line names each link); false when an
    // unsafe name stops the restore.
    bool PromptSubFolders(const std::string& promptFolder, std::vector<std::string>& names);

    TransferHost& m_host;
    std::unique_ptr<TransferSession> m_session;
    RetentionPolicy m_retention;
    std::string m_restoreFrom;
    std::function<int64_t()> m_clock;
    RestorePoint m_restorePoint;
    GenerationStore* m_generations = nullptr; // while a Backup runs
};

// Writes the engine's text for a failure code into the log (at most 128 characters).
void ShowError(TransferHost& host, int32_t code);
// That line for a failure on channel; any thread may make it for its own channel.
std::string ErrorLine(int32_t channel, int32_t code);
