// Vector and matrix allocators over one generic pair. A matrix is a row-pointer
// vector whose rows all point into one block, so a raster can be read or
// written as a whole while callers still index [row][column].
#include <limits>

#include "support/support.h"

namespace {

constexpr const char* kVectorFailure = "Memory allocation failure";
constexpr const char* kRowFailure = "Memory alloation failure";

// Byte size of count elements, or stop when the count is negative or the
// product does not fit a size_t.
std::size_t checked_bytes(long long count, std::size_t width) {
    if (count < 0) fatal_error(kVectorFailure);
    auto n = static_cast<unsigned long long>(count);
    if (n > std::numeric_limits<std::size_t>::max() / width) fatal_error(kVectorFailure);
    return static_cast<std::size_t>(n) * width;
}

template <typename T>
T* alloc_vector(int n) {
    void* block = heap_alloc(checked_bytes(n, sizeof(T)), false);
    if (block == nullptr) fatal_error(kVectorFailure);
    return static_cast<T*>(block);
}

template <typename T>
T** alloc_matrix(int rows, int cols, bool zeroed) {
    if (rows < 0 || cols < 0) fatal_error(kVectorFailure);
    // The whole raster must be addressable before any block is taken.
    std::size_t row_bytes = checked_bytes(cols, sizeof(T));
    if (rows > 0 && row_bytes > std::numeric_limits<std::size_t>::max() / rows)
        fatal_error(kVectorFailure);
    T** matrix = alloc_vector<T*>(rows);
    if (rows == 0) return matrix;
    auto* block = static_cast<T*>(heap_alloc(row_bytes * rows, zeroed));
    if (block == nullptr) fatal_error(kRowFailure);
    for (int r = 0; r < rows; ++r) matrix[r] = block + static_cast<std::size_t>(r) * cols;
    return matrix;
}

template <typename T>
void free_matrix(T** matrix, int rows) {
    if (matrix == nullptr) return;
    if (rows > 0) heap_free(matrix[0]);  // row 0 owns the shared row block
    heap_free(matrix);
}

}  // namespace

int32_t** alloc_int_matrix(int rows, int cols) { return alloc_matrix<int32_t>(rows, cols, true); }
int16_t** alloc_short_matrix(int rows, int cols) {
    return alloc_matrix<int16_t>(rows, cols, false);
}
uint8_t** alloc_byte_matrix(int rows, int cols) { return alloc_matrix<uint8_t>(rows, cols, false); }
char** alloc_matrix_1(int rows, int cols) { return alloc_matrix<char>(rows, cols, false); }
float** alloc_matrix_4(int rows, int cols) { return alloc_matrix<float>(rows, cols, false); }
double** alloc_matrix_8(int rows, int cols) { return alloc_matrix<double>(rows, cols, false); }

void free_int_matrix(int32_t** matrix, int rows, int /*cols*/) { free_matrix(matrix, rows); }
void free_short_matrix(int16_t** matrix, int rows, int /*cols*/) { free_matrix(matrix, rows); }
void free_byte_matrix(uint8_t** matrix, int rows, int /*cols*/) { free_matrix(matrix, rows); }
void free_matrix_1(char** matrix, int rows) { free_matrix(matrix, rows); }
void free_matrix_4(float** matrix, int rows) { free_matrix(matrix, rows); }
void free_matrix_8(double** matrix, int rows) { free_matrix(matrix, rows); }

int32_t* alloc_int_vector(int n) { return alloc_vector<int32_t>(n); }
char* alloc_vector_1(int n) { return alloc_vector<char>(n); }
int16_t* alloc_vector_2(int n) { return alloc_vector<int16_t>(n); }
float* alloc_vector_4(int n) { return alloc_vector<float>(n); }
double* alloc_vector_8(int n) { return alloc_vector<double>(n); }

void free_int_vector(int32_t* vector, int /*n*/) { heap_free(vector); }
void free_vector_1(char* vector) { heap_free(vector); }
void free_vector_2(int16_t* vector) { heap_free(vector); }
void free_vector_4(float* vector) { heap_free(vector); }
void free_vector_8(double* vector) { heap_free(vector); }
