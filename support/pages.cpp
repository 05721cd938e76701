// Mappings of whole huge pages. On the virtual machines this runs on, a 4 KiB
// page touched for the first time costs about ten microseconds, more than
// most of what is done with it; a 2 MiB page costs one fault for all of it.
#include <sys/mman.h>

#include <cstdint>

#include "support/support.h"

namespace {

constexpr std::size_t kPage = 4096;

}  // namespace

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
    // The whole mapping: advice on part of one splits it in two, which
    // mremap can no longer grow.
    madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
}

void advise_huge_pages(void* data, std::size_t bytes) {
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t from = (at + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t to = (at + bytes) & ~(kHugePage - 1);
    if (from < to) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}
