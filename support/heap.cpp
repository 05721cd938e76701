// The heap: which kind of block a request gets, what it costs the memory
// budget, and how a block changes kind as it grows. Every request that adds
// memory passes the budget first (memory_budget_allows): Linux promises
// address space it may not be able to back and kills the process when the
// pages are touched, so an image too large for memory must be refused here
// rather than end in a kill.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/heap_blocks.h"
#include "support/support.h"

namespace {

// Past this a mapping's length could not be computed.
constexpr std::size_t kMostBytes = SIZE_MAX - 2 * kHugePage;

bool is_large(std::size_t bytes) { return !kPlainHeap && bytes >= kLargeBlock; }

// A kept block costs the budget nothing: its pages are in the account already.
BlockHeader* new_block(std::size_t bytes, Fit fit, bool zeroed) {
    if (is_large(bytes)) {
        if (BlockHeader* header = take_kept(bytes, fit)) {
            header->bytes = bytes;
            if (zeroed) std::memset(bytes_of(header), 0, bytes);
            return header;
        }
        // Fresh pages are zero already.
        return memory_budget_allows(bytes) ? map_large(bytes) : nullptr;
    }
    if (!memory_budget_allows(bytes)) return nullptr;
    const std::size_t total = sizeof(BlockHeader) + bytes;
    auto* header = static_cast<BlockHeader*>(zeroed ? std::calloc(1, total) : std::malloc(total));
    if (header == nullptr) return nullptr;
    header->mapped = 0;
    header->bytes = bytes;
    return header;
}

// A large block stays in its mapping: shrinking keeps it, and growth past it
// moves the pages. Growth inside the mapping is memory the budget counts as
// mapped already.
BlockHeader* resize_large(BlockHeader* header, std::size_t bytes) {
    if (bytes > header->bytes && mapping_for(bytes) > header->mapped) {
        if (!memory_budget_allows(bytes - header->bytes)) return nullptr;
        header = grow_large(header, bytes);
        if (header == nullptr) return nullptr;
    }
    header->bytes = bytes;
    return header;
}

BlockHeader* resize_small(BlockHeader* header, std::size_t bytes) {
    // Under the address sanitizer realloc always copies, so the old block and
    // the new one are held at once.
    if (bytes > header->bytes && !memory_budget_allows(kPlainHeap ? bytes : bytes - header->bytes))
        return nullptr;
    auto* moved = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + bytes));
    if (moved == nullptr) return nullptr;
    moved->bytes = bytes;
    return moved;
}

}  // namespace

void* heap_alloc(std::size_t bytes, bool zeroed) {
    if (bytes > kMostBytes) return nullptr;
    if (bytes == 0) bytes = 1;  // a zero-size block is still a distinct block
    BlockHeader* header = new_block(bytes, Fit::kSnug, zeroed);
    return header == nullptr ? nullptr : bytes_of(header);
}

void* heap_resize(void* block, std::size_t bytes) {
    if (bytes > kMostBytes) return nullptr;
    if (bytes == 0) bytes = 1;
    BlockHeader* header = block == nullptr ? nullptr : header_of(block);
    BlockHeader* resized = nullptr;
    if (header != nullptr && header->mapped != 0 && is_large(bytes)) {
        resized = resize_large(header, bytes);
    } else if (header != nullptr && header->mapped == 0 && !is_large(bytes)) {
        resized = resize_small(header, bytes);
    } else {
        // A new block, or one of the other kind with the contents copied over.
        resized = new_block(bytes, Fit::kRoomy, false);
        if (resized != nullptr && header != nullptr) {
            std::memcpy(bytes_of(resized), block, std::min(header->bytes, bytes));
            heap_free(block);
        }
    }
    return resized == nullptr ? nullptr : bytes_of(resized);
}

void heap_free(void* block) {
    if (block == nullptr) return;
    BlockHeader* header = header_of(block);
    if (header->mapped != 0) return keep_large(header);
    std::free(header);
}

void heap_trim() { drop_kept(); }
