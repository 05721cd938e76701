// The blocks behind the engine's buffers, the memory check they pass, and the
// allocation-failure hook the engine's tests use.
//
// A block of a quarter megabyte or more is a mapping of its own, which grows
// by moving its pages rather than copying its bytes. Its mapping is whole huge
// pages, starts on one and is advised for them, so that its first touch costs
// one fault per 2 MiB instead of one per 4 KiB: on a virtual machine a fault
// can cost ten microseconds, and 4 KiB faults would cost more than the
// labeling (the unused tail of the last huge page is the price). Smaller
// blocks come from malloc. Under the address sanitizer
// every block comes from malloc, where overruns show.
//
// The kernel clears every fresh page, which for a labeling of many short runs
// costs more than the labeling itself; so a few large blocks are kept when
// they are freed and handed out again, warm, to the next labeling, as malloc
// does with small ones. The kept blocks are the process's, behind a lock
// (threads that label bands of one image free their blocks in another
// thread); a block is only ever in one buffer or in the cache, and what it
// held never changes a result.
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "labeling/buffer.h"
#include "support/support.h"

#if defined(__SANITIZE_ADDRESS__)
#define RUNLABEL_PLAIN_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RUNLABEL_PLAIN_BLOCKS 1
#endif
#endif

namespace runlabel::engine {
namespace {

// Per thread, so that a test's countdown never reaches another thread.
thread_local int allocations_until_failure = 0;

#ifndef RUNLABEL_PLAIN_BLOCKS
constexpr std::size_t kLargeBlock = std::size_t(256) << 10;
// A large block's mapping starts with its length; the bytes handed out
// follow, a cache line in.
constexpr std::size_t kHeader = 64;

bool is_large(std::size_t bytes) { return bytes >= kLargeBlock; }

std::size_t& mapped_of(void* block) {
    return *reinterpret_cast<std::size_t*>(static_cast<char*>(block) - kHeader);
}

std::size_t mapping_for(std::size_t bytes) {
    return (bytes + kHeader + kHugePage - 1) & ~(kHugePage - 1);
}

void unmap_block(void* block) {
    memory_budget_mapped(-static_cast<std::ptrdiff_t>(mapped_of(block)));
    munmap(static_cast<char*>(block) - kHeader, mapped_of(block));
}

// The blocks kept: at most kKept, kKeptBytes in all.
constexpr int kKept = 8;
constexpr std::size_t kKeptBytes = std::size_t(512) << 20;

struct KeptBlocks {
    std::mutex lock;
    void* block[kKept] = {};
    std::size_t bytes = 0;
};
KeptBlocks kept;

// The largest kept block, taken out, when it holds bytes. Buffers start
// small and grow as rows arrive; the one that grows first is the largest in
// the end (the runs' bounds), so largest first gives each buffer the room it
// had last time, and growing then moves no pages.
void* take_kept(std::size_t bytes) {
    const std::lock_guard<std::mutex> hold(kept.lock);
    int best = -1;
    for (int i = 0; i < kKept; ++i) {
        void* b = kept.block[i];
        if (b == nullptr || mapped_of(b) - kHeader < bytes) continue;
        if (best < 0 || mapped_of(b) > mapped_of(kept.block[best])) best = i;
    }
    if (best < 0) return nullptr;
    void* b = kept.block[best];
    kept.block[best] = nullptr;
    kept.bytes -= mapped_of(b);
    return b;
}

// Keeps a freed block, making room by giving back the smallest kept ones.
void keep(void* b) {
    const std::lock_guard<std::mutex> hold(kept.lock);
    const std::size_t length = mapped_of(b);
    if (length > kKeptBytes) return unmap_block(b);
    for (;;) {
        int empty = -1, smallest = -1;
        for (int i = 0; i < kKept; ++i) {
            if (kept.block[i] == nullptr) {
                empty = i;
            } else if (smallest < 0 || mapped_of(kept.block[i]) < mapped_of(kept.block[smallest])) {
                smallest = i;
            }
        }
        if (empty >= 0 && kept.bytes + length <= kKeptBytes) {
            kept.block[empty] = b;
            kept.bytes += length;
            return;
        }
        if (smallest < 0 || mapped_of(kept.block[smallest]) > length) return unmap_block(b);
        kept.bytes -= mapped_of(kept.block[smallest]);
        unmap_block(kept.block[smallest]);
        kept.block[smallest] = nullptr;
    }
}

void* map_block(std::size_t bytes) {
    if (void* b = take_kept(bytes)) return b;
    const std::size_t length = mapping_for(bytes);
    void* mapping = map_huge_pages(length);
    if (mapping == nullptr) return nullptr;
    memory_budget_mapped(static_cast<std::ptrdiff_t>(length));
    *static_cast<std::size_t*>(mapping) = length;
    return static_cast<char*>(mapping) + kHeader;
}

void* grow_mapping(void* block, std::size_t bytes) {
    const std::size_t length = mapping_for(bytes);
    if (length <= mapped_of(block)) return block;
    void* moved =
        mremap(static_cast<char*>(block) - kHeader, mapped_of(block), length, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) return nullptr;
    madvise(moved, length, MADV_HUGEPAGE);  // the whole mapping, so that it stays one
    memory_budget_mapped(
        static_cast<std::ptrdiff_t>(length) -
        static_cast<std::ptrdiff_t>(mapped_of(static_cast<char*>(moved) + kHeader)));
    *static_cast<std::size_t*>(moved) = length;
    return static_cast<char*>(moved) + kHeader;
}
#endif

}  // namespace

void check_memory(std::size_t bytes) {
    // Linux promises memory it may not be able to back and kills the process
    // when the pages are touched; the budget weighs growth against the limits.
    if (!memory_budget_allows(bytes)) throw std::bad_alloc();
}

void* resize_block(void* block, std::size_t old_bytes, std::size_t new_bytes) {
#ifndef RUNLABEL_PLAIN_BLOCKS
    const bool was_large = block != nullptr && is_large(old_bytes);
    if (was_large && new_bytes > old_bytes) return grow_mapping(block, new_bytes);
    if (was_large && is_large(new_bytes)) return block;  // shrinking keeps the mapping
    if (is_large(new_bytes) || was_large) {
        void* moved = is_large(new_bytes) ? map_block(new_bytes) : std::malloc(new_bytes);
        if (moved == nullptr) return nullptr;
        if (block != nullptr)
            std::memcpy(moved, block, old_bytes < new_bytes ? old_bytes : new_bytes);
        free_block(block, old_bytes);
        return moved;
    }
#else
    (void)old_bytes;
#endif
    return std::realloc(block, new_bytes);
}

void free_block(void* block, std::size_t bytes) {
    if (block == nullptr) return;
#ifndef RUNLABEL_PLAIN_BLOCKS
    if (is_large(bytes)) return keep(block);
#else
    (void)bytes;
#endif
    std::free(block);
}

bool blocks_grow_by_copying() {
#ifdef RUNLABEL_PLAIN_BLOCKS
    return true;
#else
    return false;
#endif
}

void fail_allocation_after(int n) { allocations_until_failure = n; }

bool allocation_should_fail() {
    if (allocations_until_failure == 0) return false;
    return --allocations_until_failure == 0;
}

}  // namespace runlabel::engine
