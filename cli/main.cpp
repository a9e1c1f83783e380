#include "CliOptions.h"
#include "CliRun.h"
#include "ExitStatus.h"

#include "../settings/StandardDescriptors.h"

#include <cstdio>

int main(int argc, char** argv) {
    StandardDescriptors::ensureOpen();
    const CliParseResult parsed = ParseCliOptions(argc, argv);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "kavrel-cli: %s\nTry 'kavrel-cli --help'.\n", parsed.error.c_str());
        return ExitUsage;
    }
    return RunCli(parsed.options, stdout, stderr);
}
