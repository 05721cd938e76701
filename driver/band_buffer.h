// A band of rows in memory. It comes from the heap, so that a band of
// megabytes starts on a huge page and its first touch costs a few page faults
// rather than thousands; its bytes start unset, as the rows are written over
// them before they are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "support/support.h"

class BandBuffer {
  public:
    explicit BandBuffer(std::size_t bytes)
        : data_(bytes == 0 ? nullptr : static_cast<uint8_t*>(heap_alloc(bytes, false))) {
        if (bytes != 0 && data_ == nullptr) throw std::bad_alloc();
    }
    ~BandBuffer() { heap_free(data_); }
    BandBuffer(const BandBuffer&) = delete;
    BandBuffer& operator=(const BandBuffer&) = delete;

    uint8_t* data() const { return data_; }

  private:
    uint8_t* data_;
};
