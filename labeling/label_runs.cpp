// Two-pass run labeling. The top-down pass hands labels down between touching
// runs of neighbouring rows and records equivalences; every run's label then
// names a member of its region's class. The pass back up and the renumbering
// become one numbering of the classes, start_label upwards in raster order of
// each class's first run, read off by every run.
//
// The passes walk the run list itself; a run's label lives in its RunNode.
// Only the row above the current one is copied out, into small arrays, so the
// tables grow with the number of labels, not with the image.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "labeling/label_tables.h"
#include "labeling/labeling.h"
#include "support/support.h"

namespace {

// Choices that follow no pattern on textured images are made with masks, not
// jumps: a mispredicted jump costs more than computing both sides. (Compilers
// turn a plain ?: into a jump when they guess it predictable.)
inline int choose(bool condition, int if_true, int if_false) {
    return if_false ^ ((if_true ^ if_false) & -static_cast<int>(condition));
}

// Nodes made together lie side by side. A walk that does much work per node
// outruns the hardware's own read-ahead, so it asks for the nodes a kilobyte
// ahead itself (a hint only: an address past the list is never read).
inline void prefetch_ahead(const RunNode* node) {
    const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(node) + 1024;
    __builtin_prefetch(reinterpret_cast<const void*>(ahead));
}

// Labels from `from` up get LBL 0 (unclassed) a block at a time, ahead of
// being handed out; returns the end of the block. Labels run from 1 to
// last_label, with one spare entry after: a list longer than its run count
// would outgrow the tables.
int unclass_ahead(int32_t* eq, int from, int last_label) {
    if (from > last_label + 1) fatal_error("Run count does not match the run list");
    const int end = from + std::min(4096, last_label + 2 - from);
    for (int x = from; x < end; ++x) eq_entry(eq, x)[kLbl] = 0;
    return end;
}

// One row's runs as the next row sees them: columns and labels in
// small arrays, followed by kWindow sentinel runs that lie right of every
// column, so that a window of kWindow runs can always be read.
constexpr int kWindow = 4;

struct RowRuns {
    int32_t* scol = nullptr;
    int32_t* ecol = nullptr;
    int32_t* label = nullptr;
    int count = 0;
    int capacity = 0;  // runs, not counting the sentinels
    int row = -2;
};

void grow(RowRuns& runs) {
    const int capacity = runs.capacity >= INT_MAX / 2 - kWindow ? INT_MAX - kWindow
                                                                : std::max(1024, 2 * runs.capacity);
    const std::size_t n = static_cast<std::size_t>(capacity) + kWindow;
    auto* block = static_cast<int32_t*>(heap_alloc(3 * n * sizeof(int32_t), false));
    if (block == nullptr) fatal_error("Memory allocation failure");
    std::copy(runs.scol, runs.scol + runs.count, block);
    std::copy(runs.ecol, runs.ecol + runs.count, block + n);
    std::copy(runs.label, runs.label + runs.count, block + 2 * n);
    heap_free(runs.scol);
    runs.scol = block;
    runs.ecol = block + n;
    runs.label = block + 2 * n;
    runs.capacity = capacity;
}

// Writes the sentinels after the row's runs.
void seal(RowRuns& runs) {
    for (int k = runs.count; k < runs.count + kWindow; ++k) {
        runs.scol[k] = INT_MAX;
        runs.ecol[k] = INT_MAX;
        runs.label[k] = 0;
    }
}

// Bits 0..3 of the result say which of the kWindow runs from q hold: one
// ending left of `start` (before), one starting left of or at `end` (reach).
// Both sets are prefixes, as a row's runs are ordered and apart.
struct Window {
    unsigned before;
    unsigned reach;
};

inline Window window(const RowRuns& above, int q, int start, int end) {
#if defined(__SSE2__)
    const __m128i scol = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above.scol + q));
    const __m128i ecol = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above.ecol + q));
    const __m128i before = _mm_cmplt_epi32(ecol, _mm_set1_epi32(start));
    const __m128i beyond = _mm_cmpgt_epi32(scol, _mm_set1_epi32(end));
    return {static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(before))),
            static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(beyond))) ^ 0xFu};
#else
    Window w{0, 0};
    for (int k = 0; k < kWindow; ++k) {
        w.before |= static_cast<unsigned>(above.ecol[q + k] < start) << k;
        w.reach |= static_cast<unsigned>(above.scol[q + k] <= end) << k;
    }
    return w;
#endif
}

// Length of the run of set bits from bit 0 of a window mask.
inline int leading_set(unsigned mask) { return std::countr_one(mask); }

// Top-down pass. A run p of the current row touches a run q of the row above
// unless one ends left of the other's start minus the slack (0 asks for a
// shared column, 1 also accepts a diagonal contact). p takes the label of the
// first q it touches and merges the classes of the others; the q that p
// touches are consecutive, from the first that does not end left of p.
// Returns the number of provisional labels handed out.
//
//   p:  ####              p:  ####
//   q:     ####  both     q:      ####  slack 1 only
//
// The row above is looked at kWindow runs at a time with one vector compare,
// so that a run on a textured image costs few jumps that follow no pattern.
template <int kSlack>
int hand_labels_down(RunNode* list, int32_t* eq, int32_t* class_head, int last_label) {
    int next_label = 1;
    int unclassed_end = unclass_ahead(eq, next_label, last_label);
    RowRuns rows[2];
    RowRuns* above = &rows[0];
    RowRuns* cur = &rows[1];
    grow(rows[0]);
    grow(rows[1]);
    seal(*above);
    RunNode* p = list;
    while (p != nullptr) {
        const int row = p->row;
        if (above->row != row - 1) {
            above->count = 0;
            seal(*above);
        }
        cur->row = row;
        int n = 0;
        int q = 0;
        for (; p != nullptr && p->row == row; p = p->next) {
            prefetch_ahead(p);
            const int start = p->scol - kSlack;
            const int end = p->ecol + kSlack;
            Window w = window(*above, q, start, end);
            while (w.before == 0xFu) {
                q += kWindow;
                w = window(*above, q, start, end);
            }
            q += leading_set(w.before);
            w = window(*above, q, start, end);
            int touching = leading_set(w.reach);
            // Four or more: count on run by run, up to the sentinels at worst.
            if (touching == kWindow) {
                while (above->scol[q + touching] <= end) ++touching;
            }
            // A run keeps the label it was handed: a member of its class
            // serves as well as the representative, as merging and numbering
            // go by representatives. Looking the representative up here would
            // cost every run a lookup that only merges need.
            const int label = above->label[q] & -static_cast<int>(touching != 0);
            for (int k = 1; k < touching; ++k) {
                const int other = above->label[q + k];
                const int rep = eq_entry(eq, label)[kLbl];
                if (other != label && (rep == 0 || rep != eq_entry(eq, other)[kLbl])) {
                    merge_class_lists(label, other, eq, class_head);
                }
            }
            const int own = choose(label != 0, label, next_label);
            next_label += static_cast<int>(label == 0);
            if (next_label == unclassed_end) {
                unclassed_end = unclass_ahead(eq, next_label, last_label);
            }
            p->label = own;
            if (n == cur->capacity) {
                cur->count = n;
                grow(*cur);
            }
            cur->scol[n] = p->scol;
            cur->ecol[n] = p->ecol;
            cur->label[n] = own;
            ++n;
        }
        cur->count = n;
        seal(*cur);
        std::swap(above, cur);
    }
    heap_free(rows[0].scol);
    heap_free(rows[1].scol);
    return next_label - 1;
}

// After the top-down pass a class never changes again, and every label's LBL
// is its class representative (the representative's own LBL names itself), or
// 0 for a label that was never merged. Handing labels back up would leave each
// run with exactly that representative, so the runs look it up instead.
//
// Regions are numbered in raster order of their first run. A region's first
// run got a new label, and new labels were handed out in raster order, so
// that is the order of each class's smallest label: one pass over the labels
// numbers the classes, storing each label's final label, negated, in its LBL
// (a class is numbered through its representative's LBL when its smallest
// label is met). One pass over the runs then reads them off.
int number_regions(RunNode* list, int32_t* eq, int labels, int start_label) {
    int next_final = start_label;
    for (int x = 1; x <= labels; ++x) {
        int32_t& own = eq_entry(eq, x)[kLbl];
        const int rep = own;
        if (rep < 0) continue;  // a representative numbered through a smaller member
        if (rep == 0 || rep == x) {
            own = -next_final++;
            continue;
        }
        int32_t& class_mark = eq_entry(eq, rep)[kLbl];
        if (class_mark > 0) class_mark = -next_final++;
        own = class_mark;
    }
    for (RunNode* node = list; node != nullptr; node = node->next) {
        prefetch_ahead(node);
        node->label = -eq_entry(eq, node->label)[kLbl];
    }
    return next_final - start_label;
}

template <int kSlack>
RunNode* label_runs(RunNode* list, int run_count, int start_label, int* region_count) {
    if (run_count < 0) fatal_error("Run count does not match the run list");
    // 0 marks a class not numbered yet and the last label must fit an int.
    if (start_label < 1 || start_label > INT_MAX - run_count) {
        fatal_error("Start label out of range");
    }
    // The run_id of the last run, which is N for a list that image_to_runs
    // made; 1 when there are none.
    std::printf("Run ID %d \n", run_count > 0 ? run_count : 1);
    if (list == nullptr) {
        *region_count = 0;
        return list;
    }
    // One block holds the EqTable (LBL, Next per label) and ClassHead, both
    // indexed by label, with one entry beyond the last label for the label
    // that is never handed out. Entries are set as labels are handed out and
    // classes formed, so pages past the last label are never touched.
    const std::size_t entries = static_cast<std::size_t>(run_count) + 2;
    auto* tables = static_cast<int32_t*>(heap_alloc(3 * entries * sizeof(int32_t), false));
    if (tables == nullptr) fatal_error("Memory allocation failure");
    int32_t* eq = tables;
    int32_t* class_head = tables + 2 * entries;

    const int labels = hand_labels_down<kSlack>(list, eq, class_head, run_count);
    *region_count = number_regions(list, eq, labels, start_label);
    heap_free(tables);
    return list;
}

}  // namespace

RunNode* label_runs_4(RunNode* runs, RowIndex /*row_index*/, int run_count, int /*rows*/,
                      int start_label, int* region_count) {
    return label_runs<0>(runs, run_count, start_label, region_count);
}

RunNode* label_runs_8(RunNode* runs, RowIndex /*row_index*/, int run_count, int /*rows*/,
                      int start_label, int* region_count) {
    return label_runs<1>(runs, run_count, start_label, region_count);
}
