#pragma once

#include "TransferHost.h"

#include <cstdint>
#include <functional>
#include <string>

// How the window and kavrel-cli start the engine, in one place so that both say the same: attach,
// the version and description lines, the protocol trace file and passive mode.
namespace EngineStartup {

inline constexpr const char* kAttachFailedLine =
    "The FTP engine could not be attached: FTP commands will fail.";

// Negative when attach fails (kAttachFailedLine is logged, nothing else is done). channels: as many as
// the transfers may use at once (the connections setting). attach stands in for fceAttach where a test
// needs a refusing engine.
int32_t Start(TransferHost& host, const std::string& traceFile, int32_t channels = 1,
              const std::function<int32_t()>& attach = {});

// "FTP Client Engine Version " + the first three upper-case hex digits of the version number, each its
// own part ("2.3.0" for 0x230; "2.3." for 0x23).
std::string VersionLine(int32_t version);

} // namespace EngineStartup
