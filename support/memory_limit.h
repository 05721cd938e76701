// Internal to support: the memory limits in force, measured afresh on every
// call (no state, so any thread may ask at any time).
#pragma once

#include <cstddef>

struct MemoryRoom {
    // Room under the limits that count pages in use: the machine's available
    // memory and free swap, and the cgroup limits of the process and its
    // ancestors. Each with its margin taken off; SIZE_MAX when none is known.
    std::size_t in_use_room;
    // Room under the limits that count mapped memory: RLIMIT_AS and
    // RLIMIT_DATA, with a margin taken off; SIZE_MAX when neither is set.
    std::size_t mapped_room;
    // Private memory mapped but not yet touched, as the kernel counts it;
    // the limits of the first kind do not see it until it is touched.
    std::size_t untouched;
    // Private memory resident, stacks and heap alike.
    std::size_t resident_anon;
};

MemoryRoom measure_memory_room();
