// The heap behind the allocators. Every block of the system's arrays comes from
// here, so how memory is obtained is decided in this one place.
//
// A page touched for the first time costs far more than writing it again, and
// the pipeline's stages free and take blocks of the same few sizes (binary
// image, label image, tables). Large blocks are therefore kept when freed and
// handed out again, warm, to the next request they can hold.
//
// Linux promises address space it may not be able to back and kills the
// process when the pages are touched, so an image too large for memory would
// end in a kill rather than the memory message: every request passes the
// memory budget (memory_budget_allows), which the engine's buffers share.
//
// Any thread may call in: the block cache is behind a mutex that only large
// requests take.
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "support/memory_limit.h"
#include "support/support.h"

namespace {

// Every block starts with a header saying how it was obtained; small blocks
// come from malloc, large ones are mappings of their own.
struct alignas(16) BlockHeader {
    std::size_t capacity;  // usable bytes of a large block; 0 for a small one
    void* mapping;         // where a large block's mapping starts
};

// Under the address sanitizer every block comes from malloc, where it can be
// checked; mappings would hide overruns from it.
#if defined(__SANITIZE_ADDRESS__)
#define RUNLABEL_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RUNLABEL_PLAIN_HEAP 1
#endif
#endif
#ifndef RUNLABEL_PLAIN_HEAP
constexpr std::size_t kLargeBlock = std::size_t(256) << 10;
constexpr int kCachedBlocks = 16;

BlockHeader* cached[kCachedBlocks] = {};
std::mutex cache_mutex;

// Large blocks start on a huge-page boundary and are advised for huge pages
// up to the next boundary past their end; the header lies in the plain page
// before, so that touching it costs no huge page of its own.
// A large block's mapping: its capacity in whole huge pages, and one more
// for the header in front and the way to the first boundary.
std::size_t mapping_length(std::size_t bytes) {
    return ((bytes + kHugePage - 1) & ~(kHugePage - 1)) + kHugePage;
}

void unmap(BlockHeader* header) {
    const std::size_t length = mapping_length(header->capacity);
    munmap(header->mapping, length);
    memory_budget_mapped(-static_cast<std::ptrdiff_t>(length));
}

// The smallest kept block that can hold bytes, taken out of the cache. A block
// more than twice the request is left for a request of its own size.
BlockHeader* take_cached(std::size_t bytes) {
    const std::lock_guard<std::mutex> lock(cache_mutex);
    int best = -1;
    for (int i = 0; i < kCachedBlocks; ++i) {
        if (cached[i] != nullptr && cached[i]->capacity >= bytes &&
            cached[i]->capacity / 2 <= bytes &&
            (best < 0 || cached[i]->capacity < cached[best]->capacity))
            best = i;
    }
    if (best < 0) return nullptr;
    BlockHeader* header = cached[best];
    cached[best] = nullptr;
    return header;
}

// Keeps a freed large block, evicting the smallest kept one when full.
void keep(BlockHeader* header) {
    const std::lock_guard<std::mutex> lock(cache_mutex);
    int slot = 0;
    for (int i = 0; i < kCachedBlocks; ++i) {
        if (cached[i] == nullptr) {
            slot = i;
            break;
        }
        if (cached[i]->capacity < cached[slot]->capacity) slot = i;
    }
    if (cached[slot] != nullptr) {
        if (cached[slot]->capacity > header->capacity) return unmap(header);
        unmap(cached[slot]);
    }
    cached[slot] = header;
}

void* alloc_large(std::size_t bytes, bool zeroed) {
    if (BlockHeader* header = take_cached(bytes)) {
        if (zeroed) std::memset(header + 1, 0, bytes);
        return header + 1;
    }
    if (bytes > SIZE_MAX - 2 * kHugePage || !memory_budget_allows(bytes)) return nullptr;
    const std::size_t length = mapping_length(bytes);
    // Fresh mappings are zero already.
    void* mapping =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return nullptr;
    memory_budget_mapped(static_cast<std::ptrdiff_t>(length));
    auto start = reinterpret_cast<std::uintptr_t>(mapping) + sizeof(BlockHeader);
    start = (start + kHugePage - 1) & ~(kHugePage - 1);
    advise_huge_pages(reinterpret_cast<void*>(start), length - kHugePage);
    auto* header = reinterpret_cast<BlockHeader*>(start) - 1;
    header->capacity = bytes;
    header->mapping = mapping;
    return header + 1;
}

#endif

}  // namespace

void* heap_alloc(std::size_t bytes, bool zeroed) {
#ifndef RUNLABEL_PLAIN_HEAP
    if (bytes >= kLargeBlock) return alloc_large(bytes, zeroed);
#endif
    if (bytes == 0) bytes = 1;  // a zero-size block is still a distinct block
    if (!memory_budget_allows(bytes)) return nullptr;
    const std::size_t total = bytes + sizeof(BlockHeader);
    auto* header = static_cast<BlockHeader*>(zeroed ? std::calloc(1, total) : std::malloc(total));
    if (header == nullptr) return nullptr;
    header->capacity = 0;
    return header + 1;
}

void heap_free(void* block) {
    if (block == nullptr) return;
    BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
#ifndef RUNLABEL_PLAIN_HEAP
    if (header->capacity != 0) return keep(header);
#endif
    std::free(header);
}
