// Temporaries removed when the process ends before they are committed: on a
// fatal signal (from its handler, so only async-signal-safe calls) and on
// exit. A slot is free, busy (being filled, or taken by a handler) or live; a
// handler only ever touches the file of a slot it moved from live to busy
// itself, so a slot being reused by another thread is never half read.
#include "support/output_cleanup.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/output_file.h"

namespace {

constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};
constexpr int kSlots = 64;

enum SlotState : int { kFree, kBusy, kLive };

struct Slot {
    std::atomic<int> state{kFree};
    pid_t owner = 0;  // a forked child must not remove its parent's files
    int dir_fd = -1;
    char name[NAME_MAX + 1] = {};
};

Slot slots[kSlots];

sigset_t fatal_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kFatalSignals) sigaddset(&set, sig);
    return set;
}

void remove_live_temporaries() {
    const pid_t self = getpid();
    bool taken[kSlots] = {};
    for (int i = 0; i < kSlots; ++i) {
        int live = kLive;
        if (slots[i].state.compare_exchange_strong(live, kBusy, std::memory_order_acquire)) {
            taken[i] = true;
            if (slots[i].owner == self) unlinkat(slots[i].dir_fd, slots[i].name, 0);
        }
    }
    // Another thread may be between creating its temporary and recording it;
    // give it a moment to finish rather than leave the file behind.
    for (long spin = 0; spin < 1000000; ++spin) {
        bool waiting = false;
        for (int i = 0; i < kSlots; ++i) {
            if (taken[i]) continue;
            int state = slots[i].state.load(std::memory_order_acquire);
            if (state == kBusy) waiting = true;
            if (state == kLive &&
                slots[i].state.compare_exchange_strong(state, kBusy, std::memory_order_acquire)) {
                taken[i] = true;
                if (slots[i].owner == self) unlinkat(slots[i].dir_fd, slots[i].name, 0);
            }
        }
        if (!waiting) break;
    }
}

void remove_then_reraise(int sig) {
    const int saved_errno = errno;
    remove_live_temporaries();
    // The signal stays blocked until the handler returns; it is then acted on
    // with its default disposition, ending the process with the usual status.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(sig, &default_action, nullptr);
    raise(sig);
    errno = saved_errno;
}

void remove_at_exit() { remove_live_temporaries(); }

}  // namespace

FatalSignalsBlocked::FatalSignalsBlocked() {
    const sigset_t set = fatal_signal_set();
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

FatalSignalsBlocked::~FatalSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

int claim_cleanup_slot(int dir_fd, const char* name) {
    // Exit must not leave temporaries either, however the process gets there.
    static const bool registered = std::atexit(remove_at_exit) == 0;
    (void)registered;
    const std::size_t length = std::strlen(name);
    if (length > NAME_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!slots[i].state.compare_exchange_strong(expected, kBusy, std::memory_order_acquire))
            continue;
        slots[i].owner = getpid();
        slots[i].dir_fd = dir_fd;
        std::memcpy(slots[i].name, name, length + 1);
        slots[i].state.store(kLive, std::memory_order_release);
        return i;
    }
    return -1;
}

void release_cleanup_slot(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    // Fails only when a handler has taken the slot; the process is ending then.
    int live = kLive;
    slots[slot].state.compare_exchange_strong(live, kFree, std::memory_order_release);
}

void remove_outputs_on_fatal_signals() {
    const sigset_t set = fatal_signal_set();
    for (int sig : kFatalSignals) {
        struct sigaction current {};
        if (sigaction(sig, nullptr, &current) != 0) continue;
        // Ignored signals stay ignored, and a handler of the host's stays its own.
        if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
        struct sigaction action {};
        action.sa_handler = remove_then_reraise;
        action.sa_mask = set;
        action.sa_flags = SA_RESTART;
        sigaction(sig, &action, nullptr);
    }
}
