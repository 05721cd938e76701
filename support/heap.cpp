// The heap behind the allocators. Every block of the system's arrays comes from
// here, so how memory is obtained is decided in this one place.
//
// Linux promises address space it may not be able to back and kills the
// process when the pages are touched, so an image too large for memory would
// end in a kill rather than the memory message. Every 64 MiB handed out, the
// request is weighed against the memory the machine has available now, less
// a reserve for the next 64 MiB of requests and for the rest of the machine.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/support.h"

namespace {

constexpr std::size_t kLookEvery = std::size_t(64) << 20;
constexpr std::size_t kReserve = std::size_t(256) << 20;
std::size_t handed_out_since_look = 0;

// Memory available to a new request: MemAvailable plus free swap, or nothing
// known (SIZE_MAX) where /proc/meminfo cannot be read.
std::size_t available_memory() {
    std::FILE* meminfo = std::fopen("/proc/meminfo", "r");
    if (meminfo == nullptr) return SIZE_MAX;
    char line[128];
    unsigned long long kib = 0;
    unsigned long long total = 0;
    bool known = false;
    while (std::fgets(line, sizeof line, meminfo) != nullptr) {
        if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
            total += kib;
            known = true;
        } else if (std::sscanf(line, "SwapFree: %llu kB", &kib) == 1) {
            total += kib;
        }
    }
    std::fclose(meminfo);
    return known ? static_cast<std::size_t>(total) * 1024 : SIZE_MAX;
}

bool machine_can_back(std::size_t bytes) {
    if (bytes < kLookEvery - handed_out_since_look) {
        handed_out_since_look += bytes;
        return true;
    }
    handed_out_since_look = 0;
    const std::size_t available = available_memory();
    return available >= kReserve && bytes <= available - kReserve;
}

}  // namespace

void* heap_alloc(std::size_t bytes, bool zeroed) {
    if (bytes == 0) bytes = 1;  // a zero-size block is still a distinct block
    if (!machine_can_back(bytes)) return nullptr;
    return zeroed ? std::calloc(1, bytes) : std::malloc(bytes);
}

void heap_free(void* block) { std::free(block); }
