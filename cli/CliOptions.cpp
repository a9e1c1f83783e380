#include "CliOptions.h"

#include "../transfer/Retention.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 4> kFolderNames = {"DTA", "PMT", "MSG", "MBX"};

std::string upperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// "DTA,pmt" -> {"DTA", "PMT"}; an unknown or empty name makes the whole list unusable.
std::optional<std::vector<std::string>> parseFolderList(const std::string& text, std::string& error) {
    std::vector<std::string> folders;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string name = upperCase(text.substr(start, comma - start));
        if (std::find(kFolderNames.begin(), kFolderNames.end(), name) == kFolderNames.end()) {
            error = "--only takes DTA, PMT, MSG and MBX separated by commas, not \"" + text + "\"";
            return std::nullopt;
        }
        if (std::find(folders.begin(), folders.end(), name) == folders.end())
            folders.push_back(name);
        if (comma == std::string::npos)
            return folders;
        start = comma + 1;
    }
}

class ArgumentReader {
public:
    ArgumentReader(int argc, const char* const* argv) : m_argc(argc), m_argv(argv) {}

    bool atEnd() const { return m_index >= m_argc; }
    std::string next() { return m_argv[m_index++]; }

    // The value of an option: after "=" in the same word, or the next word.
    std::optional<std::string> valueOf(const std::string& word, const std::string& name) {
        if (word.size() > name.size() && word[name.size()] == '=')
            return word.substr(name.size() + 1);
        if (atEnd())
            return std::nullopt;
        return next();
    }

private:
    int m_argc;
    const char* const* m_argv;
    int m_index = 1;
};

bool isOption(const std::string& word, const std::string& name) {
    return word == name ||
           (word.size() > name.size() && word.compare(0, name.size(), name) == 0 && word[name.size()] == '=');
}

bool setCommand(CliOptions& options, CliOptions::Command command, std::string& error) {
    if (options.command != CliOptions::Command::None && options.command != command) {
        error = "give one command: backup, restore or generations";
        return false;
    }
    options.command = command;
    return true;
}

bool readValueOption(ArgumentReader& reader, const std::string& word, const std::string& name,
                     std::optional<std::string>& target, std::string& error) {
    auto value = reader.valueOf(word, name);
    if (!value || value->empty()) {
        error = name + " needs a value";
        return false;
    }
    target = *value;
    return true;
}

// A whole number from least to most; unit names what it counts in the error.
bool readWhole(ArgumentReader& reader, const std::string& word, const std::string& name, long long least,
               long long most, const char* unit, std::optional<int>& target, std::string& error) {
    std::optional<std::string> text;
    if (!readValueOption(reader, word, name, text, error))
        return false;
    const bool digits = text->size() <= 10 && std::all_of(text->begin(), text->end(),
                                                          [](unsigned char c) { return std::isdigit(c); });
    const long long number = digits ? std::stoll(*text) : -1;
    if (number < least || number > most) {
        error = name + " takes a whole number of " + unit + " from " + std::to_string(least) + " to " +
                std::to_string(most) + ", not \"" + *text + "\"";
        return false;
    }
    target = static_cast<int>(number);
    return true;
}

// Seconds that, in milliseconds, still fit the engine's signed 32-bit parameters.
constexpr long long kMostSeconds = 2147483;

// How many generations of one kind to keep: 0 (none of that kind) to the largest the settings take.
bool readCount(ArgumentReader& reader, const std::string& word, const std::string& name,
               std::optional<int>& target, std::string& error) {
    return readWhole(reader, word, name, 0, Retention::kLargestCount, "generations", target, error);
}

bool readWord(ArgumentReader& reader, const std::string& word, CliOptions& options, std::string& error) {
    if (word == "backup")
        return setCommand(options, CliOptions::Command::Backup, error);
    if (word == "restore")
        return setCommand(options, CliOptions::Command::Restore, error);
    if (word == "generations")
        return setCommand(options, CliOptions::Command::Generations, error);
    if (word == "--quiet" || word == "-q") {
        options.quiet = true;
        return true;
    }
    if (word == "--changed-only") {
        options.changedOnly = true;
        return true;
    }
    if (isOption(word, "--settings"))
        return readValueOption(reader, word, "--settings", options.settingsFile, error);
    if (isOption(word, "--local-dir"))
        return readValueOption(reader, word, "--local-dir", options.localDir, error);
    if (isOption(word, "--timeout"))
        return readWhole(reader, word, "--timeout", 1, kMostSeconds, "seconds", options.timeoutSeconds,
                         error);
    if (isOption(word, "--max-time"))
        return readWhole(reader, word, "--max-time", 1, kMostSeconds, "seconds", options.maxTimeSeconds,
                         error);
    if (isOption(word, "--low-speed"))
        return readWhole(reader, word, "--low-speed", 0, INT32_MAX, "bytes", options.lowSpeedBytes, error);
    if (isOption(word, "--refresh-days"))
        return readWhole(reader, word, "--refresh-days", 0, 3650, "days", options.refreshDays, error);
    if (isOption(word, "--connections"))
        return readWhole(reader, word, "--connections", 1, 16, "connections", options.connections, error);
    if (isOption(word, "--trust"))
        return readValueOption(reader, word, "--trust", options.trust, error);
    if (isOption(word, "--from"))
        return readValueOption(reader, word, "--from", options.from, error);
    if (isOption(word, "--keep-daily"))
        return readCount(reader, word, "--keep-daily", options.keepDaily, error);
    if (isOption(word, "--keep-weekly"))
        return readCount(reader, word, "--keep-weekly", options.keepWeekly, error);
    if (isOption(word, "--keep-monthly"))
        return readCount(reader, word, "--keep-monthly", options.keepMonthly, error);
    if (isOption(word, "--only")) {
        std::optional<std::string> list;
        if (!readValueOption(reader, word, "--only", list, error))
            return false;
        options.only = parseFolderList(*list, error);
        return options.only.has_value();
    }
    error = "unknown argument \"" + word + "\"";
    return false;
}

} // namespace

std::string MisplacedOption(const CliOptions& options) {
    const bool backup = options.command == CliOptions::Command::Backup;
    if (options.changedOnly && !backup)
        return "--changed-only goes with backup";
    if (options.refreshDays && !options.changedOnly)
        return "--refresh-days goes with backup --changed-only";
    if ((options.keepDaily || options.keepWeekly || options.keepMonthly) && !backup)
        return "--keep-daily, --keep-weekly and --keep-monthly go with backup";
    if (options.from && options.command != CliOptions::Command::Restore)
        return "--from goes with restore";
    if (options.command == CliOptions::Command::Generations &&
        (options.only || options.trust || options.quiet || options.timeoutSeconds || options.maxTimeSeconds ||
         options.lowSpeedBytes))
        return "generations takes only --settings and --local-dir";
    return {};
}

CliParseResult ParseCliOptions(int argc, const char* const* argv) {
    CliParseResult result;
    ArgumentReader reader(argc, argv);
    bool help = false;
    bool version = false;
    while (!reader.atEnd()) {
        const std::string word = reader.next();
        if (word == "--help" || word == "-h")
            help = true;
        else if (word == "--version")
            version = true;
        else if (!readWord(reader, word, result.options, result.error))
            return result;
    }
    // --help and --version answer whatever else the line asks, as is usual.
    if (help)
        result.options.command = CliOptions::Command::Help;
    else if (version)
        result.options.command = CliOptions::Command::Version;
    else if (result.options.command == CliOptions::Command::None)
        result.error = "give a command: backup, restore or generations";
    else
        result.error = MisplacedOption(result.options);
    return result;
}

std::string CliUsageText() {
    return "Usage: kavrel-cli backup|restore [options]\n"
           "   or: kavrel-cli generations [--settings FILE] [--local-dir DIR]\n"
           "\n"
           "Backs up the ticked categories of a Trelvik voice-mail server into a local folder, or restores\n"
           "them, exactly as the window's Backup and Restore do. Server, user, password and server paths\n"
           "come from the settings file, which is never written. Before a backup changes a folder, the\n"
           "folder as the previous backup left it is kept as a generation (hard links, in the hidden\n"
           "folder .kavrel-generations); generations lists them.\n"
           "\n"
           "Options:\n"
           "  --settings FILE    settings file (default: the window's kavrel.INI, beside the program or in\n"
           "                     ~/.config/kavrel/ when installed)\n"
           "  --local-dir DIR    local folder (default: the settings' [LocalHost] DataPath)\n"
           "  --only LIST        categories, e.g. DTA,PMT,MSG,MBX (default: the settings' [Selection])\n"
           "  --changed-only     backup: fetch only new and changed files, remove those the server no\n"
           "                     longer has; the rest stays as the last backup left it\n"
           "  --keep-daily N     backup: keep the newest generation of each of the last N days that have\n"
           "                     one (default: the settings' [Generations] KeepDaily, else 7)\n"
           "  --keep-weekly N    backup: the same for weeks (KeepWeekly, else 5)\n"
           "  --keep-monthly N   backup: the same for months (KeepMonthly, else 12); 0 0 0 keeps none\n"
           "  --from DATE        restore every ticked folder as it stood after the backup of the newest\n"
           "                     generation whose name begins with DATE (2026-12-07, 2026-12-07T0230, ...)\n"
           "  --refresh-days N   with --changed-only: also fetch again the files fetched longest ago, so\n"
           "                     that each is fetched at least every N days (default 30; 0: never)\n"
           "  --quiet, -q        print nothing when the run completes (warnings go to standard error);\n"
           "                     otherwise the log and the summary\n"
           "  --timeout SECONDS  longest silence of the server on a reply or on data (default 60)\n"
           // The option fills its column: its text starts on a line of its own, which help2man also needs.
           "  --max-time SECONDS\n"
           "                     longest the whole run may take; past it the file in transfer is\n"
           "                     interrupted and the run halts prematurely\n"
           "  --low-speed BYTES  fewest bytes a file or listing must move in each --timeout period, or\n"
           "                     it fails as stalled (default 4096; 0: no such limit)\n"
           "  --connections N    move each folder's files over up to N connections at once, 1 to 16\n"
           "                     (default: the settings' [Connection] Connections, else 4)\n"
           "  --trust SHA256:..  trust the server's certificate of that fingerprint (stored beside the\n"
           "                     settings file, replacing the one trusted before) and connect\n"
           "  --help, -h         this text\n"
           "  --version          the program's version\n"
           "\n"
           "Exit status: 0 completed; 1 halted prematurely (the cause is in the log; for generations, a\n"
           "generation that does not hold what it claims); 2 could not connect\n"
           "or log in, or the server's certificate is not trusted (the log names the --trust to give, or\n"
           "why the trust file is refused);\n"
           "3 halted by SIGINT, SIGTERM or SIGHUP (the file in transfer completes first, unless it takes\n"
           "more than 10 seconds or a second signal comes: then it is interrupted); 64 usage error (no\n"
           "category ticked, no local folder), or a settings file that is missing, unusable or that others\n"
           "could have written.\n"
           "\n"
           "FTPS: the settings' server may be ftp://host (plain FTP only), ftpes://host (explicit TLS\n"
           "required), ftps://host (implicit TLS, port 990) or host[:port] (TLS when the server offers "
           "it).\n";
}
