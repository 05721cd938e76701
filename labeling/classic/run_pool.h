// Internal to the classic run-list functions: the bulk side of the RunNode
// pool, through which the encoder makes a row's nodes in one call instead of
// one per run.
#pragma once

#include <cstdint>

#include "labeling/classic/classic.h"

// Makes count nodes for consecutive runs of one row, numbered first_id upwards.
// Run k covers columns bounds[2k] to bounds[2k + 1] - 1. The nodes are linked
// in order after tail, the last one with no successor; returns the last one
// (tail itself when count is 0). Released nodes waiting in the calling
// thread's pool are used before fresh ones. Stops through
// fatal_error("Memory allocation failure") when no memory can be had.
RunNode* append_run_nodes(RunNode* tail, int row, int first_id, const int32_t* bounds, int count);
