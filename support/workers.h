// Running independent tasks on a few threads that are kept between calls. A
// thread started afresh can wait milliseconds before it first runs (the
// scheduler leaves it on its busy creator's core until the next balancing),
// while a waiting thread that is woken runs at once on an idle core; so the
// threads are made once, each started on a core other than its creator's,
// and woken for each call.
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
