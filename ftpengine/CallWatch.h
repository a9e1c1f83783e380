#pragma once

#include <cstdint>

class TransferProgress;

// What every network wait of the engine looks at besides its socket, at least every kSliceMs: an
// interrupt the host asked for (at once, or from a set moment on), and the heartbeat of the file
// transfer in progress, so that a host hears from a stalled call too and can ask for the interrupt.
class CallWatch {
public:
    static constexpr int kSliceMs = 100;

    // Every wait fails from afterMs milliseconds from now on (0: at once), until withdrawn; an earlier
    // moment already set stays. Only touches a lock-free atomic: safe in a signal handler or another thread.
    static void interruptAfter(int32_t afterMs);
    static void withdrawInterrupt();
    static bool interrupted();

    static void beat();

    // The transfer whose heartbeat the waits call while the scope lasts.
    class Heartbeat {
    public:
        explicit Heartbeat(TransferProgress& progress);
        ~Heartbeat();
        Heartbeat(const Heartbeat&) = delete;
        Heartbeat& operator=(const Heartbeat&) = delete;

    private:
        TransferProgress* m_previous;
    };

private:
    // Each channel's thread has its own transfer.
    static thread_local TransferProgress* s_progress;
};
