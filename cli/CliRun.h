#pragma once

#include "CliOptions.h"

#include <cstdio>

// One run of kavrel-cli after its command line has been read: returns the exit status (ExitStatus.h).
int RunCli(const CliOptions& options, std::FILE* out, std::FILE* err);
