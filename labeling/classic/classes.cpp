// Label equivalence classes. Every merged label belongs to a class with one
// representative R: each member's LBL is R (so one lookup finds the class), and
// the member list starts at ClassHead[R] and runs through Next.
#include <cstddef>
#include <cstdint>

#include "labeling/classic/classic.h"

namespace {

// An EqTable from alloc_int_matrix keeps its rows in one block, so entry x
// (LBL at [kLbl], Next at [kNext]) starts at &eq_table[0][0] + 2 * x: walking
// it flat saves a row-pointer load per access.
int32_t* eq_entry(int32_t* eq, int x) { return eq + 2 * static_cast<std::ptrdiff_t>(x); }

// True when the class listed from head_b has no more members than the one
// listed from head_a. Walking both lists in step costs only the smaller size.
bool no_larger(int head_a, int head_b, int32_t* eq) {
    for (;;) {
        head_b = eq_entry(eq, head_b)[kNext];
        if (head_b == 0) return true;
        head_a = eq_entry(eq, head_a)[kNext];
        if (head_a == 0) return false;
    }
}

// Moves every member of the class of representative `from` into the class of
// `to`; the moved list goes in front of the survivor's list.
void absorb(int to, int from, int32_t* eq, int32_t* class_head, int64_t& relabel_steps) {
    int x = class_head[from];
    int64_t moved = 1;
    int32_t* entry = eq_entry(eq, x);
    while (entry[kNext] != 0) {
        entry[kLbl] = to;
        entry = eq_entry(eq, entry[kNext]);
        ++moved;
    }
    entry[kLbl] = to;
    entry[kNext] = class_head[to];
    class_head[to] = class_head[from];
    class_head[from] = 0;
    relabel_steps += moved;
}

void merge_class_lists(int a, int b, int32_t* eq, int32_t* class_head, int64_t& relabel_steps) {
    int32_t* entry_a = eq_entry(eq, a);
    int32_t* entry_b = eq_entry(eq, b);
    const int rep_a = entry_a[kLbl];
    const int rep_b = entry_b[kLbl];
    if (rep_a == 0 && rep_b == 0) {
        entry_a[kLbl] = a;
        entry_b[kLbl] = a;
        entry_a[kNext] = b;
        entry_b[kNext] = 0;
        class_head[a] = a;
    } else if (rep_a == rep_b) {
        return;
    } else if (rep_b == 0) {
        entry_b[kLbl] = rep_a;
        entry_b[kNext] = class_head[rep_a];
        class_head[rep_a] = b;
    } else if (rep_a == 0) {
        entry_a[kLbl] = rep_b;
        entry_a[kNext] = class_head[rep_b];
        class_head[rep_b] = a;
    } else if (no_larger(class_head[rep_a], class_head[rep_b], eq)) {
        // Always moving b's class would make textured images quadratic: a class
        // that keeps growing would be relabelled again at every merge.
        absorb(rep_a, rep_b, eq, class_head, relabel_steps);
    } else {
        absorb(rep_b, rep_a, eq, class_head, relabel_steps);
    }
}

}  // namespace

void merge_classes(int a, int b, EqTable eq_table, int32_t* class_head) {
    int64_t uncounted = 0;
    merge_class_lists(a, b, eq_table[0], class_head, uncounted);
}

void merge_classes(int a, int b, EqTable eq_table, int32_t* class_head, int64_t* relabel_steps) {
    merge_class_lists(a, b, eq_table[0], class_head, *relabel_steps);
}
