// Running independent tasks on a few threads that are kept between calls,
// each sent to a core of its own. On the virtual machines this runs on, the
// scheduler packs the threads of a young process onto the core they were
// made or woken from, however idle the other: a thread started afresh, or a
// waiting one woken, shares its caller's core for milliseconds, and two
// threads do the work of one. So the threads are made once, and each call
// points every thread it wakes at a core other than its caller's (and the
// other threads') before waking it.
#pragma once

#include <type_traits>

// Runs call(context, 0) .. call(context, count - 1) on up to `threads`
// threads, the calling one among them, and returns once all have ended;
// the first exception a task threw is then thrown here. The caller claims
// tasks too, so every call ends even when no kept thread is free (busy with
// another call, or never made: threads that cannot be had are done without).
// Tasks must not share what they write. Thread-safe; tasks may call in again.
void run_on_workers(int count, int threads, void (*call)(void* context, int task), void* context);

template <typename Task>
void run_on_workers(int count, int threads, Task&& task) {
    run_on_workers(
        count, threads,
        [](void* context, int i) { (*static_cast<std::remove_reference_t<Task>*>(context))(i); },
        const_cast<void*>(static_cast<const void*>(&task)));
}
