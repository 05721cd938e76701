// Internal to the classic run-list functions: the guard that keeps run
// numbers inside their 32-bit field.
#pragma once

// Returns run_number + count (count >= 0), or stops through fatal_error("Too
// many runs in image") when the last of those numbers would leave no room for
// the N + 1 tables.
int skip_run_numbers(int run_number, int count);
