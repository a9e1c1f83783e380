#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line of kavrel-cli, as given. What is absent stays absent, so that the settings file
// can supply it.
struct CliOptions {
    enum class Command { None, Backup, Restore, Generations, Help, Version };

    Command command = Command::None;
    std::optional<std::string> settingsFile;
    std::optional<std::string> localDir;
    // Folder names ("DTA", "PMT", "MSG", "MBX") of --only, upper case, each at most once.
    std::optional<std::vector<std::string>> only;
    bool quiet = false;
    // backup only: leave in place what the server provably has not changed since the last backup.
    bool changedOnly = false;
    // --refresh-days: with --changed-only, every file is fetched again at least every so many days (0:
    // never).
    std::optional<int> refreshDays;
    // --timeout: the longest silence of a reply or of data, in seconds (the engine's default when absent).
    std::optional<int> timeoutSeconds;
    // --max-time: the longest the whole run may take, in seconds.
    std::optional<int> maxTimeSeconds;
    // --low-speed: the fewest bytes a transfer must move per --timeout period (the engine's default when
    // absent).
    std::optional<int> lowSpeedBytes;
    // --connections: how many connections a folder's files may move over at once (the settings' value
    // when absent).
    std::optional<int> connections;
    // --trust: the fingerprint of the certificate to trust for the settings' server, as given.
    std::optional<std::string> trust;
    // restore --from: the generation (a name or the start of one, such as a date) to restore as of.
    std::optional<std::string> from;
    // backup --keep-daily, --keep-weekly, --keep-monthly: the retention, over the settings' [Generations].
    std::optional<int> keepDaily;
    std::optional<int> keepWeekly;
    std::optional<int> keepMonthly;
};

struct CliParseResult {
    CliOptions options;
    std::string error; // empty when the command line is usable
};

// Reads argv[1..argc-1]: one command word (backup, restore, generations) and the options in any order,
// "--opt VALUE" or "--opt=VALUE".
CliParseResult ParseCliOptions(int argc, const char* const* argv);

// What is wrong with the options for the command given ("--from goes with restore"); empty when nothing.
std::string MisplacedOption(const CliOptions& options);

// The text of --help.
std::string CliUsageText();
