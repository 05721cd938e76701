// The progress line. It is the command's own (one run per process), so its
// state is this file's; nothing is written unless standard error is a
// terminal, so logs and pipes never see it.
#include "driver/progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

struct State {
    bool enabled = false;
    bool shown = false;
    Clock::time_point start;
    Clock::time_point last;
    int64_t read = 0;
    int64_t written = 0;
    int64_t height = 0;
};
State state;

void show() {
    const Clock::time_point now = Clock::now();
    if (!state.enabled || now - state.start < std::chrono::seconds(1)) return;
    if (state.shown && now - state.last < std::chrono::milliseconds(200)) return;
    state.last = now;
    state.shown = true;
    std::fprintf(stderr, "\rrunlabel: %lld of %lld rows read, %lld written\033[K",
                 static_cast<long long>(state.read), static_cast<long long>(state.height),
                 static_cast<long long>(state.written));
    std::fflush(stderr);
}

}  // namespace

void progress_start(bool enabled) {
    state = State{};
    state.enabled = enabled && isatty(STDERR_FILENO) == 1;
    state.start = Clock::now();
}

void progress_rows_read(int64_t rows, int64_t of) {
    state.read = rows;
    state.height = of;
    show();
}

void progress_rows_written(int64_t rows, int64_t of) {
    state.written = rows;
    state.height = of;
    show();
}

void progress_end() {
    if (!state.shown) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    state.shown = false;
}
