// The warm-block cache. A page touched for the first time costs far more than
// writing it again (the kernel clears it, and on a virtual machine the fault
// itself is dear), and the stages of a labeling free and take blocks of the
// same few sizes: images, label images, the engine's tables. So a few freed
// large blocks are kept, with their pages, and handed out again to whichever
// allocator asks next. A block is only ever live or kept, never both; what it
// held never changes a result.
//
// Kept blocks stay in the budget's account of mapped memory. The cache is the
// process's, behind a mutex that only large blocks take (threads labeling
// bands of one image free their blocks in another thread).
#include <mutex>

#include "support/heap_blocks.h"

namespace {

// At most kKept blocks, kKeptBytes of mappings in all: room for what one
// labeling on each of a few threads and its images free, without holding
// gigabytes idle.
constexpr int kKept = 64;
constexpr std::size_t kKeptBytes = std::size_t(512) << 20;

struct KeptBlocks {
    std::mutex lock;
    BlockHeader* block[kKept] = {};
    std::size_t bytes = 0;
};
KeptBlocks kept;

bool better(Fit fit, const BlockHeader* candidate, const BlockHeader* best) {
    if (best == nullptr) return true;
    return fit == Fit::kSnug ? candidate->mapped < best->mapped : candidate->mapped > best->mapped;
}

}  // namespace

BlockHeader* take_kept(std::size_t bytes, Fit fit) {
    const std::size_t own_mapping = mapping_for(bytes);
    const std::lock_guard<std::mutex> hold(kept.lock);
    int best = -1;
    for (int i = 0; i < kKept; ++i) {
        const BlockHeader* b = kept.block[i];
        if (b == nullptr || room_of(b) < bytes) continue;
        if (fit == Fit::kSnug && b->mapped / 2 > own_mapping) continue;
        if (better(fit, b, best < 0 ? nullptr : kept.block[best])) best = i;
    }
    if (best < 0) return nullptr;
    BlockHeader* b = kept.block[best];
    kept.block[best] = nullptr;
    kept.bytes -= b->mapped;
    return b;
}

void keep_large(BlockHeader* header) {
    const std::lock_guard<std::mutex> hold(kept.lock);
    const std::size_t length = header->mapped;
    if (length > kKeptBytes) return unmap_large(header);
    for (;;) {
        int empty = -1;
        int smallest = -1;
        for (int i = 0; i < kKept; ++i) {
            if (kept.block[i] == nullptr) {
                empty = i;
            } else if (smallest < 0 || kept.block[i]->mapped < kept.block[smallest]->mapped) {
                smallest = i;
            }
        }
        if (empty >= 0 && kept.bytes + length <= kKeptBytes) {
            kept.block[empty] = header;
            kept.bytes += length;
            return;
        }
        // Full: the smaller blocks give way, and a block smaller than all kept
        // is the one given back.
        if (smallest < 0 || kept.block[smallest]->mapped > length) return unmap_large(header);
        kept.bytes -= kept.block[smallest]->mapped;
        unmap_large(kept.block[smallest]);
        kept.block[smallest] = nullptr;
    }
}

void drop_kept() {
    const std::lock_guard<std::mutex> hold(kept.lock);
    for (BlockHeader*& b : kept.block) {
        if (b == nullptr) continue;
        unmap_large(b);
        b = nullptr;
    }
    kept.bytes = 0;
}
