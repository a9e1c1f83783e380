#include "EngineStartup.h"

#include "FtpEngine.h"
#include "TransferCommands.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int32_t kChannel = 0;
constexpr int32_t kDescriptionSize = 80;

std::string digitAt(const std::string& digits, size_t position) {
    return position < digits.size() ? digits.substr(position, 1) : std::string();
}

} // namespace

std::string EngineStartup::VersionLine(int32_t version) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(version));
    const std::string digits = hex;
    return "FTP Client Engine Version " + digitAt(digits, 0) + "." + digitAt(digits, 1) + "." +
           digitAt(digits, 2);
}

int32_t EngineStartup::Start(TransferHost& host, const std::string& traceFile, int32_t channels,
                             const std::function<int32_t()>& attach) {
    const int32_t attached = attach ? attach() : fceAttach(channels);
    if (attached < 0) {
        host.Display(kAttachFailedLine);
        return attached;
    }
    // A failure code is not a version: its hexadecimal digits would read as one ("F.F.F"), so the
    // engine's text for it is logged instead.
    const int32_t version = fceGetInteger(kChannel, FCE_VERSION);
    if (version < 0)
        ShowError(host, version);
    else
        host.Display(VersionLine(version));
    char description[kDescriptionSize + 1] = {};
    const int32_t length = fceGetString(kChannel, FCE_DESCRIPTION, description, kDescriptionSize);
    if (length < 0)
        ShowError(host, length);
    else
        host.Display(std::string(description, static_cast<size_t>(std::min(length, kDescriptionSize))));
    fceSetString(kChannel, FCE_TRACE_FILE, traceFile.c_str());
    fceSetInteger(kChannel, FCE_PASSIVE, 1);
    return 0;
}
