#include "JobSettings.h"

#include "../settings/IniFunction.h"
#include "../settings/IniLookup.h"
#include "../settings/SettingsFile.h"

namespace {

// The window loads a box as ticked for any non-zero number, negative ones included.
int32_t readTick(const std::string& key, std::string& path) {
    return ReadIniInteger("Selection", key, 1, path) != 0 ? 1 : 0;
}

} // namespace

JobSettings ReadJobSettings(const std::string& settingsFile, const std::string& defaultLocalFolder) {
    // The readers may replace an empty path with their own default; this one is never empty, but the
    // copy keeps the caller's text as given whatever they do.
    std::string path = settingsFile;
    JobSettings job;
    job.server = ReadIniString("Connection", "Server", kDefaultServer, path);
    job.user = ReadIniString("Connection", "User", "admin", path);
    job.password = ReadIniString("Connection", "Password", "tamsk", path);
    job.paths.data = ReadIniString("ServerPath", "Data", "C:\\DTA", path);
    job.paths.prompt = ReadIniString("ServerPath", "Prompt", "C:\\PMT", path);
    job.paths.message = ReadIniString("ServerPath", "Message", "C:\\MSG", path);
    job.paths.mailbox = ReadIniString("ServerPath", "Mailbox", "C:\\MBX", path);
    job.selection.application = readTick("Data", path);
    job.selection.prompts = readTick("Prompt", path);
    job.selection.messages = readTick("Message", path);
    job.selection.mailboxes = readTick("Mailbox", path);
    job.localDir = ReadIniString("LocalHost", "DataPath", defaultLocalFolder, path);
    job.retention = Retention::FromSettings(
        [&path](const char* key) { return ReadIniString("Generations", key, "", path); },
        job.retentionProblems);
    job.connections = ReadIniInteger("Connection", "Connections", job.connections, path);
    return job;
}

std::string MissingConnectionKey(const std::string& settingsFile) {
    std::string content;
    SettingsFile::read(settingsFile, content);
    const IniLookup lookup(content);
    for (const char* key : {"Server", "User", "Password"}) {
        if (!lookup.value("Connection", key))
            return key;
    }
    return {};
}

std::string DefaultCliSettingsPath(const std::string& settingsDirectory) {
    if (settingsDirectory.empty() || settingsDirectory.back() == '/')
        return settingsDirectory + "kavrel.INI";
    return settingsDirectory + "/kavrel.INI";
}
