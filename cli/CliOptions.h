#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line of kavrel-cli, as given. What is absent stays absent, so that the settings file
// can supply it.
struct CliOptions {
    enum class Command { None, Backup, Restore, Help, Version };

    Command command = Command::None;
    std::optional<std::string> settingsFile;
    std::optional<std::string> localDir;
    // Folder names ("DTA", "PMT", "MSG", "MBX") of --only, upper case, each at most once.
    std::optional<std::vector<std::string>> only;
    bool quiet = false;
    // backup only: leave in place what the server provably has not changed since the last backup.
    bool changedOnly = false;
    // --timeout: the longest silence of a reply or of data, in seconds (the engine's default when absent).
    std::optional<int> timeoutSeconds;
    // --max-time: the longest the whole run may take, in seconds.
    std::optional<int> maxTimeSeconds;
    // --low-speed: the fewest bytes a transfer must move per --timeout period (the engine's default when
    // absent).
    std::optional<int> lowSpeedBytes;
    // --trust: the fingerprint of the certificate to trust for the settings' server, as given.
    std::optional<std::string> trust;
};

struct CliParseResult {
    CliOptions options;
    std::string error; // empty when the command line is usable
};

// Reads argv[1..argc-1]: one command word (backup, restore) and the options in any order,
// "--opt VALUE" or "--opt=VALUE".
CliParseResult ParseCliOptions(int argc, const char* const* argv);

// The text of --help.
std::string CliUsageText();
