#pragma once

// SIGINT and SIGTERM ask the running backup or restore to stop, as the window's Abort button does: the
// handler only sets a flag, which the transfers read between files. The engine call in progress is not
// interrupted (the engine retries calls a signal cuts short), so the file in transfer completes.
namespace AbortSignals {

// Installs the handlers, and ignores SIGPIPE so that a closed output pipe cannot kill a run mid-file.
void install();

// True once SIGINT or SIGTERM has arrived. It is never cleared: a Backup that clears its own abort
// flag when it starts must not forget a signal that came during the connect.
bool received();

} // namespace AbortSignals
