// The heap behind the allocators. Every block of the system's arrays comes from
// here, so how memory is obtained is decided in this one place.
#include <cstdlib>

#include "support/support.h"

void* heap_alloc(std::size_t bytes, bool zeroed) {
    if (bytes == 0) bytes = 1;  // a zero-size block is still a distinct block
    return zeroed ? std::calloc(1, bytes) : std::malloc(bytes);
}

void heap_free(void* block) { std::free(block); }
