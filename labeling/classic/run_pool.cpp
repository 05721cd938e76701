// RunNode records come from large chunks of a pool rather than one heap call
// each, so a noisy image does not pay an allocation per run. Every node is
// still released by its owner; the chunks go back to the heap when the last
// live node does. Each thread has a pool of its own, so threads encoding
// images of their own never meet.
#include "labeling/classic/run_pool.h"

#include <algorithm>
#include <cstddef>
#include <type_traits>

#include "labeling/classic/classic.h"
#include "support/support.h"

namespace {

// Chunks grow from 1 MiB to 32 MiB: a small image keeps a small pool, a large
// one gets few big blocks, which the heap can back with huge pages.
constexpr std::size_t kFirstChunkBytes = std::size_t(1) << 20;
constexpr std::size_t kLargestChunkBytes = std::size_t(32) << 20;

// A chunk's nodes follow its header in the same block.
struct Chunk {
    Chunk* previous;
    std::size_t bytes;
    int capacity;
    int used;
};
static_assert(sizeof(Chunk) % alignof(RunNode) == 0);

RunNode* nodes_of(Chunk* chunk) { return reinterpret_cast<RunNode*>(chunk + 1); }

struct Pool {
    Chunk* newest = nullptr;
    RunNode* free_list = nullptr;
    long long live = 0;
};

// The seed's functions take no pool, so the thread's own is the one they use.
// A trivial destructor keeps every access a plain thread-local load, without a
// first-use guard; chunks a thread leaves behind with live nodes in them stay
// allocated, as they would at the end of the process.
static_assert(std::is_trivially_destructible_v<Pool>);
thread_local Pool this_thread_pool;

// The newest chunk, or a new one when it is full.
Chunk* chunk_with_room(Pool& pool) {
    Chunk* chunk = pool.newest;
    if (chunk != nullptr && chunk->used < chunk->capacity) return chunk;
    const std::size_t bytes =
        chunk == nullptr ? kFirstChunkBytes : std::min(2 * chunk->bytes, kLargestChunkBytes);
    chunk = static_cast<Chunk*>(heap_alloc(bytes, false));
    if (chunk == nullptr) fatal_error("Memory allocation failure");
    chunk->previous = pool.newest;
    chunk->bytes = bytes;
    chunk->capacity = static_cast<int>((bytes - sizeof(Chunk)) / sizeof(RunNode));
    chunk->used = 0;
    pool.newest = chunk;
    return chunk;
}

void release_chunks(Pool& pool) {
    while (pool.newest != nullptr) {
        Chunk* previous = pool.newest->previous;
        heap_free(pool.newest);
        pool.newest = previous;
    }
    pool.free_list = nullptr;
    pool.live = 0;
}

}  // namespace

RunNode* alloc_run_node() {
    Pool& pool = this_thread_pool;
    RunNode* node;
    if (pool.free_list != nullptr) {
        node = pool.free_list;
        pool.free_list = node->next;
    } else {
        Chunk* chunk = chunk_with_room(pool);
        node = nodes_of(chunk) + chunk->used++;
    }
    ++pool.live;
    return node;
}

RunNode* append_run_nodes(RunNode* tail, int row, int first_id, const int32_t* bounds, int count) {
    if (count == 0) return tail;
    Pool& pool = this_thread_pool;
    int k = 0;
    // Released nodes go first, or a process that keeps some nodes alive
    // while it encodes image after image would grow the pool without end.
    for (; k < count && pool.free_list != nullptr; ++k) {
        RunNode* node = pool.free_list;
        pool.free_list = node->next;
        *node = {first_id + k, row, bounds[2 * k], bounds[2 * k + 1] - 1, 0, nullptr};
        tail->next = node;
        tail = node;
    }
    while (k < count) {
        Chunk* chunk = chunk_with_room(pool);
        RunNode* node = nodes_of(chunk) + chunk->used;
        const int n = std::min(chunk->capacity - chunk->used, count - k);
        tail->next = node;
        for (int i = 0; i < n; ++i, ++k) {
            node[i] = {first_id + k, row, bounds[2 * k], bounds[2 * k + 1] - 1, 0, &node[i + 1]};
        }
        chunk->used += n;
        tail = node + n - 1;
    }
    tail->next = nullptr;
    pool.live += count;
    return tail;
}

void free_run_node(RunNode* node) {
    if (node == nullptr) return;
    Pool& pool = this_thread_pool;
    node->next = pool.free_list;
    pool.free_list = node;
    if (--pool.live == 0) release_chunks(pool);
}

void free_run_list(RunNode* list) {
    // The usual list is every live node: then the chunks go back whole,
    // without writing a free-list link into each node first.
    Pool& pool = this_thread_pool;
    long long length = 0;
    for (const RunNode* node = list; node != nullptr; node = node->next) ++length;
    if (length == pool.live) {
        release_chunks(pool);
        return;
    }
    while (list != nullptr) {
        RunNode* next = list->next;
        free_run_node(list);
        list = next;
    }
}
