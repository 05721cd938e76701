// The allocation-failure hook the engine's tests use to reach every path that
// recovers from a refused buffer; the buffers' memory itself is the support
// heap's.
#include "labeling/buffer.h"

namespace runlabel::engine {
namespace {

// Per thread, so that a test's countdown never reaches another thread.
thread_local int allocations_until_failure = 0;

}  // namespace

void fail_allocation_after(int n) { allocations_until_failure = n; }

bool allocation_should_fail() {
    if (allocations_until_failure == 0) return false;
    return --allocations_until_failure == 0;
}

}  // namespace runlabel::engine
