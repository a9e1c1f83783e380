#include "AbortSignals.h"

#include "../ftpengine/FtpEngine.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t g_signal = 0;

// Only async-signal-safe work here: fceInterrupt touches nothing but a lock-free atomic.
void onAbortSignal(int number) {
    if (g_signal == 0) {
        g_signal = number;
        fceInterrupt(0, AbortSignals::kGraceMs);
    } else {
        fceInterrupt(0, 0);
    }
}

void handle(int number) {
    struct sigaction action {};
    action.sa_handler = onAbortSignal;
    sigemptyset(&action.sa_mask);
    // Blocking calls resume on their own where the system allows it; the engine copes with EINTR elsewhere.
    action.sa_flags = SA_RESTART;
    sigaction(number, &action, nullptr);
}

} // namespace

namespace AbortSignals {

void install() {
    handle(SIGINT);
    handle(SIGTERM);
    // A terminal closed under a run started by hand: stop as cleanly as on SIGTERM, not at once with the
    // staging folder, a partial file and the lock left behind.
    handle(SIGHUP);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool received() {
    return g_signal != 0;
}

} // namespace AbortSignals
