#include "CliRun.h"

#include "AbortSignals.h"
#include "CliHost.h"
#include "EngineSession.h"
#include "ExitStatus.h"
#include "JobSettings.h"

#include "../settings/OwnershipCheck.h"
#include "../settings/ProgramLocation.h"
#include "../settings/SettingsFile.h"
#include "../settings/TrustStore.h"
#include "../transfer/ConnectionPool.h"
#include "../transfer/GenerationListing.h"
#include "../transfer/SafeName.h"
#include "../transfer/TransferCommands.h"
#include "../transfer/TransferSession.h"
#include "../transfer/TrustedConnect.h"

#include "../ftpengine/FtpEngine.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#ifndef KAVREL_VERSION
#define KAVREL_VERSION "unknown"
#endif

namespace {

bool isBackup(const CliOptions& options) {
    return options.command == CliOptions::Command::Backup;
}

int32_t ticked(const std::vector<std::string>& folders, const char* folder) {
    return std::find(folders.begin(), folders.end(), folder) != folders.end() ? 1 : 0;
}

// The settings readers fall back to defaults for a file they cannot use (absent, unreadable, not a
// file, binary, oversized); a scheduled run must not quietly back up the wrong server with them, so the
// file has to be one the readers take.
bool settingsFileUsable(const std::string& path) {
    std::string content;
    return SettingsFile::read(path, content) == SettingsFile::State::Readable;
}

// The protocol trace goes beside the settings file of the job, the one folder known to be the job's.
std::string traceFileBeside(const std::string& settingsFile) {
    std::error_code error;
    auto folder = std::filesystem::absolute(settingsFile, error).parent_path();
    return (folder / "KAVREL.LOG").string();
}

// The window refuses an empty field before any engine call; its texts, as it shows them.
std::string missingConnectionField(const JobSettings& job) {
    if (job.server.empty())
        return "No server name or address specified.";
    if (job.user.empty())
        return "No user name specifed.";
    if (job.password.empty())
        return "No password specified.";
    return {};
}

// The file holds the password in plain text: say so, without refusing the run, on standard error even
// with --quiet, so that cron mails it every night until it is mended.
void warnIfReadableByOthers(std::FILE* err, const std::string& settingsFile) {
    struct stat info {};
    if (::stat(settingsFile.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0)
        std::fprintf(err,
                     "Warning: the settings file %s holds the password and can be read by other users "
                     "(chmod 600 it).\n",
                     SafeName::printable(settingsFile).c_str());
}

// Nothing ticked, or a blank local folder: the window goes on (its user sees the result), but a
// scheduled run would do nothing and say it completed, or back up into the root of a file system.
// Empty when the job is one to run.
std::string blankLocalFolder(const JobSettings& job) {
    if (job.localDir.find_first_not_of(' ') == std::string::npos)
        return "no local folder ([LocalHost] DataPath of the settings, or --local-dir, is blank)";
    return {};
}

std::string jobRefusal(const JobSettings& job) {
    const CategorySelection& ticked = job.selection;
    if (ticked.application != 1 && ticked.prompts != 1 && ticked.messages != 1 && ticked.mailboxes != 1)
        return "no category ticked ([Selection] of the settings, or --only): nothing to do";
    return blankLocalFolder(job);
}

JobSettings jobFor(const CliOptions& options, const std::string& settingsFile) {
    JobSettings job = ReadJobSettings(settingsFile, ProgramLocation::defaultLocalFolder());
    if (options.localDir)
        job.localDir = *options.localDir;
    if (options.keepDaily)
        job.retention.daily = *options.keepDaily;
    if (options.keepWeekly)
        job.retention.weekly = *options.keepWeekly;
    if (options.keepMonthly)
        job.retention.monthly = *options.keepMonthly;
    if (options.connections)
        job.connections = *options.connections;
    if (options.only) {
        job.selection.application = ticked(*options.only, "DTA");
        job.selection.prompts = ticked(*options.only, "PMT");
        job.selection.messages = ticked(*options.only, "MSG");
        job.selection.mailboxes = ticked(*options.only, "MBX");
    }
    return job;
}

int statusOf(CommandOutcome outcome) {
    switch (outcome) {
    case CommandOutcome::Completed:
        return ExitCompleted;
    case CommandOutcome::HaltedByUser:
        return ExitHaltedByUser;
    case CommandOutcome::HaltedPrematurely:
    case CommandOutcome::RunTimeError:
        break;
    }
    return ExitHaltedPrematurely;
}

// The part of a run that has a host: engine, connection, command.
int transfer(const CliOptions& options, const JobSettings& job, const std::string& settingsFile,
             CliHost& host, std::chrono::steady_clock::time_point started) {
    const bool backup = isBackup(options);
    EngineSession engine(host);
    const int32_t connections = std::clamp(job.connections, 1, ConnectionPool::kMostConnections);
    if (engine.attach(traceFileBeside(settingsFile), connections) < 0)
        return ExitNotConnected;
    if (options.timeoutSeconds)
        engine.setSilenceLimit(*options.timeoutSeconds * 1000);
    if (options.lowSpeedBytes)
        engine.setLowSpeedBytes(*options.lowSpeedBytes);
    if (options.maxTimeSeconds) {
        const auto deadline = started + std::chrono::seconds(*options.maxTimeSeconds);
        host.setTimeLimit(*options.maxTimeSeconds, deadline);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        fceInterrupt(0, static_cast<int32_t>(std::max<int64_t>(0, left.count())));
    }
    TrustedConnect trust(host, TrustStore::pathBeside(settingsFile));
    const std::string trusted = TrustStore::normalizedFingerprint(options.trust.value_or(""));
    if (engine.connect(job.server, job.user, job.password, trust, trusted) < 0) {
        // A stop or the time limit that cut the connect short is told as such, not as a refusal.
        if (!engine.connected() && !AbortSignals::received() && !host.timeLimitPassed())
            return ExitNotConnected;
        if (AbortSignals::received() && !host.timeLimitPassed()) {
            host.ShowMessage(backup ? "Backup halted by user." : "Restore halted by user.", "", 64);
            return ExitHaltedByUser;
        }
        host.ShowMessage(backup ? "Backup halted prematurely." : "Restore halted prematurely.", "", 48);
        return ExitHaltedPrematurely;
    }
    if (AbortSignals::received()) {
        host.ShowMessage(backup ? "Backup halted by user." : "Restore halted by user.", "", 64);
        return ExitHaltedByUser;
    }
    TransferCommands commands(host);
    commands.session().SetChangedOnly(options.changedOnly);
    commands.SetRetention(job.retention);
    commands.SetRestoreFrom(options.from.value_or(""));
    if (options.refreshDays)
        commands.session().SetRefreshDays(*options.refreshDays);
    commands.session().SetConnections(connections);
    const CommandOutcome outcome = backup ? commands.Backup(job.localDir, job.selection, job.paths)
                                          : commands.Restore(job.localDir, job.selection, job.paths);
    // A file that the stop's interrupt cut short (a second signal, or more than 10 s) halts the run
    // prematurely, as the summary says, but it was still the signal that stopped it.
    if (outcome == CommandOutcome::HaltedPrematurely && AbortSignals::received() &&
        fceGetInteger(0, FCE_INTERRUPT_DUE) == 1)
        return ExitHaltedByUser;
    return statusOf(outcome);
}

int usageError(std::FILE* err, const std::string& text) {
    std::fprintf(err, "kavrel-cli: %s\nTry 'kavrel-cli --help'.\n", text.c_str());
    return ExitUsage;
}

// kavrel-cli generations: the local folder's generations, read without a connection.
int listGenerations(const JobSettings& job, std::FILE* out) {
    std::vector<std::string> lines;
    const int32_t result = GenerationListing::List(
        LocalFileSystem().GetAbsolutePathName(TransferCommands::LocalBaseDirectory(job.localDir)), lines);
    for (const auto& line : lines)
        std::fprintf(out, "%s\n", CliHost::printable(line).c_str());
    return result < 0 ? ExitHaltedPrematurely : ExitCompleted;
}

} // namespace

int RunCli(const CliOptions& options, std::FILE* out, std::FILE* err) {
    const auto started = std::chrono::steady_clock::now();
    if (options.command == CliOptions::Command::Help) {
        std::fputs(CliUsageText().c_str(), out);
        return ExitCompleted;
    }
    if (options.command == CliOptions::Command::Version) {
        std::fprintf(out, "kavrel-cli %s\n", KAVREL_VERSION);
        return ExitCompleted;
    }
    const std::string settingsFile = options.settingsFile
                                         ? *options.settingsFile
                                         : DefaultCliSettingsPath(ProgramLocation::settingsDirectory());
    if (const std::string refusal = OwnershipCheck::refusalOf("settings file", settingsFile, true);
        !refusal.empty())
        return usageError(err, refusal);
    if (!settingsFileUsable(settingsFile))
        return usageError(err, "settings file missing, unreadable or not a settings file: " + settingsFile);
    const JobSettings job = jobFor(options, settingsFile);
    if (options.command == CliOptions::Command::Generations) {
        const std::string blank = blankLocalFolder(job);
        return blank.empty() ? listGenerations(job, out) : usageError(err, blank);
    }
    if (const std::string key = MissingConnectionKey(settingsFile); !key.empty())
        return usageError(err, "no " + key + " key in the [Connection] section of " + settingsFile);
    // A typo must not turn generations off, nor keep a number nobody asked for.
    if (isBackup(options) && !job.retentionProblems.empty())
        return usageError(err, job.retentionProblems.front() + " (in " + settingsFile + ")");
    const std::string missing = missingConnectionField(job);
    if (!missing.empty())
        return usageError(err, missing + " (in " + settingsFile + ")");
    if (const std::string refusal = jobRefusal(job); !refusal.empty())
        return usageError(err, refusal);
    if (options.trust && TrustStore::normalizedFingerprint(*options.trust).empty())
        return usageError(err, "--trust takes a fingerprint as the log shows it: SHA256: and 32 pairs of hex "
                               "digits separated by colons");

    warnIfReadableByOthers(err, settingsFile);
    AbortSignals::install();
    ProgressLine progress(err, !options.quiet && isatty(fileno(err)) == 1);
    CliHost host(out, err, progress, options.quiet);
    const int status = transfer(options, job, settingsFile, host, started);
    progress.clear();
    if (status != ExitCompleted)
        host.flushHeldLines();
    return status;
}
