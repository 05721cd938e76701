// File mappings that survive their file being cut short. The guard's handler
// finds the mapping a fault lies in from a table of fixed slots (it may not
// lock or allocate), maps anonymous zero pages over the rest of it, and lets
// the faulting load run again; the slot remembers the loss.
#include "support/file_mapping.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace {

constexpr int kSlots = 16;

enum SlotState : int { kFree, kBusy, kLive };

struct Slot {
    std::atomic<int> state{kFree};
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> lost{false};
};

Slot slots[kSlots];
std::atomic<bool> guarded{false};
struct sigaction previous {};

// Zero pages over [page, end) of a mapping a fault at `at` lies in; false
// when it lies in none.
bool replace_lost_pages(std::uintptr_t at) {
    for (Slot& slot : slots) {
        if (slot.state.load(std::memory_order_acquire) != kLive) continue;
        const std::uintptr_t start = slot.start.load(std::memory_order_relaxed);
        const std::uintptr_t end = slot.end.load(std::memory_order_relaxed);
        if (at < start || at >= end) continue;
        const std::uintptr_t page = at & ~static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE) - 1);
        void* zeros = mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros == MAP_FAILED) return false;
        slot.lost.store(true, std::memory_order_relaxed);
        return true;
    }
    return false;
}

void on_sigbus(int sig, siginfo_t* info, void* context) {
    if (info->si_code > 0 && replace_lost_pages(reinterpret_cast<std::uintptr_t>(info->si_addr)))
        return;
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr)
        return previous.sa_sigaction(sig, info, context);
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN)
        return previous.sa_handler(sig);
    // Blocked until the handler returns, then acted on as it would have been.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(sig, &default_action, nullptr);
    raise(sig);
}

}  // namespace

std::unique_ptr<FileMapping> FileMapping::map(int fd, uint64_t offset, std::size_t length,
                                              bool populate) {
    if (!guarded.load(std::memory_order_acquire) || length == 0) return nullptr;
    // Bytes the file no longer holds would fault at once.
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        offset > static_cast<uint64_t>(info.st_size) ||
        length > static_cast<uint64_t>(info.st_size) - offset)
        return nullptr;
    // Read, a hole of a file in memory (tmpfs) gives zeros; mapped, it would
    // be filled with pages of memory that stay with the file. A file with
    // fewer blocks than bytes may have holes anywhere (asking where costs a
    // walk of the file on tmpfs), so it is read.
    if (static_cast<uint64_t>(info.st_blocks) * 512 < static_cast<uint64_t>(info.st_size))
        return nullptr;
    const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const uint64_t from = offset & ~(page - 1);
    const std::size_t mapped = static_cast<std::size_t>(offset - from) + length;

    std::unique_ptr<FileMapping> mapping(new FileMapping);
    for (int i = 0; i < kSlots && mapping->slot_ < 0; ++i) {
        int expected = kFree;
        if (slots[i].state.compare_exchange_strong(expected, kBusy, std::memory_order_acquire))
            mapping->slot_ = i;
    }
    if (mapping->slot_ < 0) return nullptr;
    void* at = mmap(nullptr, mapped, PROT_READ, MAP_PRIVATE | (populate ? MAP_POPULATE : 0), fd,
                    static_cast<off_t>(from));
    Slot& slot = slots[mapping->slot_];
    if (at == MAP_FAILED) {
        slot.state.store(kFree, std::memory_order_release);
        return nullptr;
    }
    mapping->mapping_ = at;
    mapping->mapped_ = mapped;
    mapping->data_ = static_cast<const uint8_t*>(at) + (offset - from);
    mapping->size_ = length;
    const auto start = reinterpret_cast<std::uintptr_t>(at);
    const std::uintptr_t end = (start + mapped + page - 1) & ~(page - 1);
    slot.start.store(start, std::memory_order_relaxed);
    slot.end.store(end, std::memory_order_relaxed);
    slot.lost.store(false, std::memory_order_relaxed);
    slot.state.store(kLive, std::memory_order_release);
    return mapping;
}

FileMapping::~FileMapping() {
    if (slot_ < 0) return;
    // Out of the table first: once unmapped, the addresses may be reused.
    slots[slot_].state.store(kFree, std::memory_order_release);
    munmap(mapping_, mapped_);
}

bool FileMapping::intact() const {
    return slot_ < 0 || !slots[slot_].lost.load(std::memory_order_relaxed);
}

void guard_file_mappings() {
    if (guarded.load(std::memory_order_acquire)) return;
    struct sigaction action {};
    action.sa_sigaction = on_sigbus;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    if (sigaction(SIGBUS, &action, &previous) == 0) guarded.store(true, std::memory_order_release);
}
