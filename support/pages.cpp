// The mappings behind large blocks. On the virtual machines this runs on, a
// 4 KiB page touched for the first time costs about ten microseconds, more than
// most of what is done with it; a 2 MiB page costs one fault for all of it. So
// a large block's mapping of a huge page or more is whole huge pages, starts on
// one and is advised for them as a whole: advice on part of a mapping splits it
// in two, which mremap can no longer grow. Smaller mappings are plain pages.
#include <sys/mman.h>

#include <cstdint>

#include "support/heap_blocks.h"
#include "support/support.h"

namespace {

// length bytes (a multiple of kHugePage) starting on a huge page; nullptr
// when the kernel refuses.
void* map_huge_pages(std::size_t length) {
    // More is mapped and the ends cut off. (Recent kernels align such
    // mappings by themselves.)
    const std::size_t over = length + kHugePage - kPage;
    void* mapping = mmap(nullptr, over, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return nullptr;
    const auto at = reinterpret_cast<std::uintptr_t>(mapping);
    const std::uintptr_t start = (at + kHugePage - 1) & ~(kHugePage - 1);
    if (start > at) munmap(mapping, start - at);
    if (start + length < at + over)
        munmap(reinterpret_cast<void*>(start + length), at + over - start - length);
    madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
}

void* mapping_of(BlockHeader* header) {
    return reinterpret_cast<char*>(bytes_of(header)) - kLargeOffset;
}

BlockHeader* header_in(void* mapping) {
    return header_of(static_cast<char*>(mapping) + kLargeOffset);
}

// A mapping of length bytes (a multiple of kPage), on huge pages from one up.
void* map_pages(std::size_t length) {
    if (length >= kHugePage) return map_huge_pages(length);
    void* mapping =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return mapping == MAP_FAILED ? nullptr : mapping;
}

}  // namespace

BlockHeader* map_large(std::size_t bytes) {
    const std::size_t length = mapping_for(bytes);
    void* mapping = map_pages(length);
    if (mapping == nullptr) return nullptr;
    memory_budget_mapped(static_cast<std::ptrdiff_t>(length));
    BlockHeader* header = header_in(mapping);
    header->mapped = length;
    header->bytes = bytes;
    return header;
}

BlockHeader* grow_large(BlockHeader* header, std::size_t bytes) {
    const std::size_t length = mapping_for(bytes);
    if (length <= header->mapped) return header;
    const std::size_t old_length = header->mapped;
    void* moved = mremap(mapping_of(header), old_length, length, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) return nullptr;
    // The whole mapping, so that it stays one.
    if (length >= kHugePage) madvise(moved, length, MADV_HUGEPAGE);
    memory_budget_mapped(static_cast<std::ptrdiff_t>(length) -
                         static_cast<std::ptrdiff_t>(old_length));
    header = header_in(moved);
    header->mapped = length;
    return header;
}

void unmap_large(BlockHeader* header) {
    const std::size_t length = header->mapped;
    munmap(mapping_of(header), length);
    memory_budget_mapped(-static_cast<std::ptrdiff_t>(length));
}

void advise_huge_pages(void* data, std::size_t bytes) {
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t from = (at + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t to = (at + bytes) & ~(kHugePage - 1);
    if (from < to) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}
