// Bands made by several threads at once are written exactly once each, in
// order, whatever the threads' speeds and however few the slots; a failed
// write stops every thread, and none is left waiting.
#include "driver/ordered_bands.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct Outcome {
    std::vector<int64_t> written;  // bands in the order written
    bool failed = false;
};

// Threads take bands and hand them in after a random pause; the write of
// band fail_at (if any) throws.
Outcome run_painters(int64_t bands, int slots, int threads, int64_t fail_at, unsigned seed) {
    OrderedBands order(bands, slots);
    Outcome outcome;
    std::vector<int64_t> in_slot(static_cast<std::size_t>(slots), -1);
    auto write = [&](int64_t band, int slot) {
        EXPECT_EQ(in_slot[static_cast<std::size_t>(slot)], band);
        if (band == fail_at) throw std::runtime_error("write failed");
        outcome.written.push_back(band);
    };
    std::vector<std::thread> team;
    for (int t = 0; t < threads; ++t) {
        team.emplace_back([&, t] {
            std::mt19937 rng(seed + static_cast<unsigned>(t));
            int slot = 0;
            int64_t band = 0;
            while (order.take(&slot, &band)) {
                in_slot[static_cast<std::size_t>(slot)] = band;
                std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
                order.hand_in(band, slot, write);
            }
        });
    }
    for (std::thread& thread : team) thread.join();
    try {
        order.rethrow();
    } catch (const std::runtime_error&) {
        outcome.failed = true;
    }
    return outcome;
}

TEST(OrderedBands, WritesEachBandOnceInOrder) {
    struct Case {
        int64_t bands;
        int slots, threads;
    };
    for (const Case c : {Case{0, 1, 2}, Case{1, 3, 2}, Case{40, 1, 3}, Case{40, 2, 2},
                         Case{40, 3, 2}, Case{57, 5, 4}, Case{9, 2, 8}}) {
        const Outcome outcome = run_painters(c.bands, c.slots, c.threads, -1, 7);
        EXPECT_FALSE(outcome.failed);
        ASSERT_EQ(static_cast<int64_t>(outcome.written.size()), c.bands)
            << c.bands << " bands, " << c.slots << " slots, " << c.threads << " threads";
        for (int64_t k = 0; k < c.bands; ++k)
            ASSERT_EQ(outcome.written[static_cast<std::size_t>(k)], k);
    }
}

TEST(OrderedBands, FailedWriteStopsEveryThread) {
    for (unsigned seed = 0; seed < 5; ++seed) {
        const Outcome outcome = run_painters(60, 3, 3, 17, seed);
        EXPECT_TRUE(outcome.failed);
        ASSERT_EQ(outcome.written.size(), 17u);  // those before it, and no more
    }
}

}  // namespace
