// The engine's memory check and the allocation-failure hook its tests use.
#include <new>

#include "labeling/buffer.h"

namespace runlabel::engine {
namespace {
// Per thread, so that a test's countdown never reaches another thread.
thread_local int allocations_until_failure = 0;
}  // namespace

void check_memory(std::size_t /*bytes*/) {}

void fail_allocation_after(int n) { allocations_until_failure = n; }

bool allocation_should_fail() {
    if (allocations_until_failure == 0) return false;
    return --allocations_until_failure == 0;
}

}  // namespace runlabel::engine
