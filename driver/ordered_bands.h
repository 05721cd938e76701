// Bands of an output made by several threads at once and written in order.
// A thread takes a free slot, then the next band, makes it in the slot and
// hands it in; whichever thread hands in the band next in order writes it,
// and every band after it that is already made, while the others go on
// making bands. No thread waits for another's turn, only for a free slot,
// which the thread writing gives back: a thread that is descheduled holds up
// the writing of its own band alone.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <vector>

class OrderedBands {
  public:
    // bands to make, in slots of which there are `slots` (at least 1).
    OrderedBands(int64_t bands, int slots)
        : bands_(bands), in_slot_(static_cast<std::size_t>(bands), -1) {
        for (int s = slots - 1; s >= 0; --s) free_.push_back(s);
    }

    // A free slot and the next band to make in it: false (nothing taken)
    // once every band is taken or any has failed. Taking the slot before the
    // band means that the band next in order is always held by a thread
    // making it, so that slots never all wait on a band no one makes.
    bool take(int* slot, int64_t* band) {
        std::unique_lock<std::mutex> hold(lock_);
        freed_.wait(hold, [&] { return !free_.empty() || failure_ || taken_ == bands_; });
        if (failure_ || taken_ == bands_) return false;
        *slot = free_.back();
        free_.pop_back();
        *band = taken_++;
        return true;
    }

    // Hands in the band made in slot; unless another thread is writing,
    // writes (write(band, slot)) it and every band after it already in,
    // giving back their slots. A write that throws fails every band.
    template <typename Write>
    void hand_in(int64_t band, int slot, Write&& write) {
        std::unique_lock<std::mutex> hold(lock_);
        in_slot_[static_cast<std::size_t>(band)] = slot;
        if (writing_) return;
        writing_ = true;
        while (!failure_ && next_ < bands_ && in_slot_[static_cast<std::size_t>(next_)] >= 0) {
            const int64_t writing = next_;
            const int ready = in_slot_[static_cast<std::size_t>(writing)];
            hold.unlock();
            try {
                write(writing, ready);
            } catch (...) {
                hold.lock();
                fail_holding(std::current_exception());
                break;
            }
            hold.lock();
            ++next_;
            free_.push_back(ready);
            freed_.notify_all();
        }
        writing_ = false;
    }

    // Stops every thread at its next take.
    void fail(std::exception_ptr failure) {
        const std::lock_guard<std::mutex> hold(lock_);
        fail_holding(std::move(failure));
    }

    // Once every thread has ended: throws the first failure, if any.
    void rethrow() const {
        if (failure_) std::rethrow_exception(failure_);
    }

  private:
    void fail_holding(std::exception_ptr failure) {
        if (!failure_) failure_ = std::move(failure);
        freed_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable freed_;
    const int64_t bands_;
    int64_t taken_ = 0;
    int64_t next_ = 0;  // the next band to write
    bool writing_ = false;
    std::vector<int> free_;
    std::vector<int> in_slot_;  // per band: the slot it waits in, -1 until handed in
    std::exception_ptr failure_;
};
