#pragma once

// SIGINT, SIGTERM and SIGHUP ask the running backup or restore to stop, as the window's Abort button does:
// the flag they set is read between files, so the file in transfer completes. A stop must always stop,
// though: when that file (or any engine call) has not ended kGraceMs after the first signal, or when a
// second signal comes, the engine call in progress is interrupted (fceInterrupt), its partial file goes.
namespace AbortSignals {

inline constexpr int kGraceMs = 10000;

// Installs the handlers, and ignores SIGPIPE so that a closed output pipe cannot kill a run mid-file.
void install();

// True once one of them has arrived. It is never cleared: a Backup that clears its own abort
// flag when it starts must not forget a signal that came during the connect.
bool received();

} // namespace AbortSignals
