// Support layer: the one fatal-error path, the vector and matrix allocators
// that every other subsystem builds its arrays with, and the heap (heap.h) and
// memory limits behind them. An allocator never hands back a missing block: any
// failure ends the program through fatal_error.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/heap.h"

// Writes the three-line run-time error report (the message in the middle) to
// standard error and ends the process with status 1, flushing open streams.
[[noreturn]] void fatal_error(const char* message);

// Tests and fuzz targets may route fatal_error to a handler of their own, for
// instance one that throws, so that a fatal path is an observable outcome
// rather than the end of the process. The report is printed first; a handler
// that returns falls through to the normal exit. nullptr restores the default.
using FatalHandler = void (*)(const char* message);
void set_fatal_handler(FatalHandler handler);

// Matrices are vectors of row pointers, indexed [row][column]. All rows of one
// matrix share one block, so &m[0][0] addresses rows * cols elements laid out
// row after row (the writers still go through the row pointers, so a caller's
// own matrix need not be laid out so). Negative counts and byte sizes that overflow stop the
// program with "Memory allocation failure", as a refused row-pointer vector does; a refused row
// block stops it with "Memory alloation failure". Only the int matrix is zero-filled. Release with
// the free_ function of the same kind and the same row count; the column count plays no part in a
// release.
int32_t** alloc_int_matrix(int rows, int cols);
int16_t** alloc_short_matrix(int rows, int cols);
uint8_t** alloc_byte_matrix(int rows, int cols);
char** alloc_matrix_1(int rows, int cols);
float** alloc_matrix_4(int rows, int cols);
double** alloc_matrix_8(int rows, int cols);

void free_int_matrix(int32_t** matrix, int rows, int cols);
void free_short_matrix(int16_t** matrix, int rows, int cols);
void free_byte_matrix(uint8_t** matrix, int rows, int cols);
void free_matrix_1(char** matrix, int rows);
void free_matrix_4(float** matrix, int rows);
void free_matrix_8(double** matrix, int rows);

// Vectors of n elements, not zero-filled. A failure, a negative n or a size
// that overflows stops the program with "Memory allocation failure".
int32_t* alloc_int_vector(int n);
char* alloc_vector_1(int n);
int16_t* alloc_vector_2(int n);
float* alloc_vector_4(int n);
double* alloc_vector_8(int n);

void free_int_vector(int32_t* vector, int n);
void free_vector_1(char* vector);
void free_vector_2(int16_t* vector);
void free_vector_4(float* vector);
void free_vector_8(double* vector);

// Bytes a new request may take now without running into a limit: the
// machine's available memory and free swap, the memory cgroups of the process
// and their ancestors (v1 or v2), RLIMIT_AS and RLIMIT_DATA, each less a
// margin for the rest of the process or machine. Memory already handed out
// but not yet touched is the caller's to count. Measured afresh on each call
// (a few small reads from /proc and the cgroup files), with no state, so any
// thread may ask; SIZE_MAX when no limit is known.
std::size_t memory_headroom();
bool memory_can_back(std::size_t bytes);

// The one budget that every request of the heap passes, whichever allocator
// it serves. Bytes handed out on every thread are counted together, and once
// an allowance of them has gone out the request is weighed against the limits
// in force, less the heap's mappings not yet touched (which the limits cannot
// see yet): false when it does not fit. The next allowance is half the room
// left, at most kBudgetLook, so that what goes out unweighed between two looks
// can never take the process past a limit that kills; per allocator or per
// thread, each would grow its own allowance past it.
inline constexpr std::size_t kBudgetLook = std::size_t(32) << 20;
bool memory_budget_allows(std::size_t bytes);

// The heap tells the budget of its mappings' bytes as it maps (positive) and
// unmaps (negative) them.
void memory_budget_mapped(std::ptrdiff_t bytes);

// The same for pages that take memory but no address space, such as those of
// a file in memory (tmpfs): the machine's and the cgroups' limits alone.
std::size_t page_headroom();

// The cores this process may run on: its CPU affinity, lowered to the
// cgroup's CPU quota (rounded up) where one is set. At least 1.
int usable_cores();
