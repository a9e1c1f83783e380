#pragma once

// Waiting on one descriptor with poll, so that a silent peer can never block a call for longer than
// its limit. The wait goes in slices of CallWatch::kSliceMs: between them it gives the transfer's
// heartbeat and ends at once when the host interrupts the call. Interrupted system calls resume.
namespace SocketWait {

// 1 when ready, 0 after timeoutMs without readiness, -ECANCELED when the host interrupted the call,
// -errno on failure. A hang-up or error counts as ready, so that the following read or write reports it.
int forReading(int descriptor, int timeoutMs);
int forWriting(int descriptor, int timeoutMs);

} // namespace SocketWait
