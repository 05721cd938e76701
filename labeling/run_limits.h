// Internal to the labeling engine: the guard that keeps run numbers inside
// their 32-bit field.
#pragma once

// Returns run_number + 1, or stops through fatal_error("Too many runs in
// image") when the next number would leave no room for the N + 1 tables.
int next_run_number(int run_number);
