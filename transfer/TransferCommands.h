#pragma once

#include "TransferHost.h"

#include <cstdint>
#include <memory>
#include <string>

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
    int32_t CheckRestoreFolders(const std::string& base, const CategorySelection& selection,
                                const ServerPaths& paths);
    int32_t RunCategories(Direction direction, const std::string& base, const CategorySelection& selection,
                          const ServerPaths& paths);
    int32_t BackupPromptSubdirectories(const std::string& base, const ServerPaths& paths);
    int32_t RestorePromptSubFolders(const std::string& base, const ServerPaths& paths);

    TransferHost& m_host;
    std::unique_ptr<TransferSession> m_session;
};

// Writes the engine's text for a failure code into the log (at most 128 characters).
void ShowError(TransferHost& host, int32_t code);
