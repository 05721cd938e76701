// Internal to the labeling engine: the growable arrays every engine table lives
// in, on the support heap (large blocks grow by remapping their pages, not by
// copying). Memory is weighed against what the process may still use before it
// is asked for, and a refusal is a std::bad_alloc for the caller, never the end
// of the process. Each buffer is owned by one value, so threads labeling
// different images never meet here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "support/heap.h"

namespace runlabel::engine {

// Tests make the n-th next allocation on the calling thread fail (0: none).
void fail_allocation_after(int n);
bool allocation_should_fail();

// A resizable array of trivially copyable T. kPad zeroed elements past the
// end may always be read, so that vector loads need no bounds check.
template <typename T, std::size_t kPad = 0>
class Buffer {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    Buffer() = default;
    explicit Buffer(std::size_t n) { resize(n); }
    ~Buffer() { heap_free(data_); }
    Buffer(Buffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    Buffer& operator=(Buffer&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }

    // Room for n elements without another allocation; growth is geometric, so
    // appending costs amortised constant time.
    void reserve(std::size_t n) {
        if (n > capacity_) grow(n);
    }
    // New elements are left unset.
    void resize(std::size_t n) {
        reserve(n);
        size_ = n;
    }
    void push_back(const T& value) {
        if (size_ == capacity_) grow(size_ + 1);
        data_[size_++] = value;
    }
    void clear() { size_ = 0; }

    // Gives the memory back.
    void release() {
        heap_free(std::exchange(data_, nullptr));
        size_ = capacity_ = 0;
    }

  private:
    static std::size_t bytes(std::size_t capacity) {
        return capacity == 0 ? 0 : (capacity + kPad) * sizeof(T);
    }

    void grow(std::size_t n) {
        constexpr std::size_t kMax = (SIZE_MAX / sizeof(T)) - kPad;
        if (n > kMax) throw std::bad_alloc();
        std::size_t capacity = capacity_ < 16 ? 16 : capacity_ + capacity_ / 2;
        if (capacity < n || capacity > kMax) capacity = n;
        if (allocation_should_fail()) throw std::bad_alloc();
        void* block = heap_resize(data_, bytes(capacity));
        if (block == nullptr) throw std::bad_alloc();
        data_ = static_cast<T*>(block);
        capacity_ = capacity;
        if constexpr (kPad > 0)
            std::memset(static_cast<void*>(data_ + capacity_), 0, kPad * sizeof(T));
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace runlabel::engine
