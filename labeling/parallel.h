// Internal to the labeling engine: running independent tasks on a few threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace runlabel::engine {

// Runs task(0) .. task(count - 1) on up to `threads` threads, this one among
// them, and returns once all have ended; the first exception a task threw is
// then thrown here. Tasks must not share what they write.
template <typename Task>
void run_tasks(int count, int threads, Task&& task) {
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::mutex failure_lock;
    auto work = [&] {
        for (int i = next++; i < count; i = next++) {
            try {
                task(i);
            } catch (...) {
                const std::lock_guard<std::mutex> hold(failure_lock);
                if (!failure) failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> helpers;
    const int extra = std::min(threads, count) - 1;
    try {
        for (int t = 0; t < extra; ++t) helpers.emplace_back(work);
    } catch (...) {
        // No more threads to be had: those running and this one do the work.
    }
    work();
    for (std::thread& t : helpers) t.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace runlabel::engine
