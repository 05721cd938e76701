// RunNode records come from chunks of a pool rather than one heap call each, so
// a noisy image does not pay an allocation per run. Every node is still
// released by its owner; the chunks go back to the heap when the last live
// node does.
#include "labeling/labeling.h"
#include "support/support.h"

namespace {

constexpr int kChunkNodes = 8192;

struct Chunk {
    Chunk* previous;
    int used;
    RunNode nodes[kChunkNodes];
};

struct Pool {
    Chunk* newest = nullptr;
    RunNode* free_list = nullptr;
    long long live = 0;
};

Pool pool;

void release_chunks() {
    while (pool.newest != nullptr) {
        Chunk* previous = pool.newest->previous;
        heap_free(pool.newest);
        pool.newest = previous;
    }
    pool.free_list = nullptr;
}

}  // namespace

RunNode* alloc_run_node() {
    RunNode* node;
    if (pool.free_list != nullptr) {
        node = pool.free_list;
        pool.free_list = node->next;
    } else {
        if (pool.newest == nullptr || pool.newest->used == kChunkNodes) {
            auto* chunk = static_cast<Chunk*>(heap_alloc(sizeof(Chunk), false));
            if (chunk == nullptr) fatal_error("Memory allocation failure");
            chunk->previous = pool.newest;
            chunk->used = 0;
            pool.newest = chunk;
        }
        node = &pool.newest->nodes[pool.newest->used++];
    }
    ++pool.live;
    return node;
}

void free_run_node(RunNode* node) {
    if (node == nullptr) return;
    node->next = pool.free_list;
    pool.free_list = node;
    if (--pool.live == 0) release_chunks();
}

void free_run_list(RunNode* list) {
    while (list != nullptr) {
        RunNode* next = list->next;
        free_run_node(list);
        list = next;
    }
}
