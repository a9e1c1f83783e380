#pragma once

#include "FtpEngine.h"

// One entry of a server directory listing: the engine's own record of it is the one callers get.
using ListingEntry = FceListEntry;
