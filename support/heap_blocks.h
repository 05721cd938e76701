// Internal to the heap: how a block is laid out, the mappings of large blocks
// and the cache of freed ones. Every block, small or large, has a header right
// before its bytes saying how it was obtained; nothing else tells them apart.
//
//   small   malloc   [header|bytes ...]
//   large   mapping  [.....|header|bytes ...              |rest of the last huge page]
//                    ^ on a huge page     ^ kLargeOffset in
#pragma once

#include <cstddef>

#include "support/heap.h"

struct alignas(16) BlockHeader {
    std::size_t mapped;  // length of a large block's mapping; 0 for a block from malloc
    std::size_t bytes;   // what the block was last asked to hold
};

// Under the address sanitizer every block comes from malloc, where it can be
// checked; mappings would hide overruns from it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kPlainHeap = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kPlainHeap = true;
#else
inline constexpr bool kPlainHeap = false;
#endif
#else
inline constexpr bool kPlainHeap = false;
#endif

// A large block's bytes start a cache line into its mapping.
inline constexpr std::size_t kLargeOffset = 64;

inline BlockHeader* header_of(void* block) { return static_cast<BlockHeader*>(block) - 1; }
inline void* bytes_of(BlockHeader* header) { return header + 1; }

// What a large block's mapping holds past its header.
inline std::size_t room_of(const BlockHeader* header) { return header->mapped - kLargeOffset; }

inline constexpr std::size_t kPage = 4096;

// The mapping a large block of bytes needs: whole pages while it is smaller
// than a huge page (a small image's tables draw no huge page they would not
// fill), whole huge pages from there. Callers keep bytes below
// SIZE_MAX - kHugePage.
inline std::size_t mapping_for(std::size_t bytes) {
    const std::size_t need = bytes + kLargeOffset;
    if (need < kHugePage) return (need + kPage - 1) & ~(kPage - 1);
    return (need + kHugePage - 1) & ~(kHugePage - 1);
}

// A fresh large block of bytes (zero-filled, as fresh pages are), told to the
// budget as mapped; nullptr when the kernel refuses. The budget's say on the
// request is the caller's.
BlockHeader* map_large(std::size_t bytes);

// header's mapping grown to hold bytes, moved where the kernel must; nullptr
// when it cannot be (the block is then untouched). Its bytes field is the
// caller's to set.
BlockHeader* grow_large(BlockHeader* header, std::size_t bytes);

// Unmaps a large block, telling the budget.
void unmap_large(BlockHeader* header);

// Which kept block a request takes (see heap_alloc and heap_resize).
enum class Fit {
    kSnug,   // the smallest holding it, and no more than twice its own mapping
    kRoomy,  // the largest holding it
};

// A kept block that holds bytes, taken out of the cache; nullptr when none fits.
BlockHeader* take_kept(std::size_t bytes, Fit fit);

// Keeps a freed large block for the next request, or unmaps it (or a smaller
// kept one, to make room) when the cache is full.
void keep_large(BlockHeader* header);

// Unmaps every kept block.
void drop_kept();
