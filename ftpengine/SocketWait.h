#pragma once

// Waiting on one descriptor with poll, so that a silent peer can never block a call for longer than
// the engine's silence limit. Interrupted waits resume with the time that is left.
namespace SocketWait {

// 1 when ready, 0 after timeoutMs without readiness, -errno on failure. A hang-up or error counts as
// ready, so that the following read or write reports it.
int forReading(int descriptor, int timeoutMs);
int forWriting(int descriptor, int timeoutMs);

} // namespace SocketWait
