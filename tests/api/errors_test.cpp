// Failures reach the caller as exceptions and leave the caller's buffers as
// they were: bad arguments, a label type too narrow for the regions, memory
// that runs out at any allocation. The asan preset's leak checker runs these.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "labeling/buffer.h"
#include "runlabel/runlabel.h"

namespace {

// 300 single-pixel regions on one row, every other pixel.
std::vector<uint8_t> dots(int count) {
    std::vector<uint8_t> row(2 * count, 0);
    for (int i = 0; i < count; ++i) row[2 * i] = 1;
    return row;
}

template <typename F>
std::string error_of(F&& call) {
    try {
        call();
    } catch (const runlabel::error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(ApiErrors, TooNarrowLabelTypeIsRefusedBeforeAnythingIsWritten) {
    const std::vector<uint8_t> mask = dots(300);
    const runlabel::ImageView image = runlabel::image_view(mask.data(), 600, 1);
    std::vector<uint8_t> small(600, 7);
    EXPECT_EQ(error_of([&] { runlabel::label(image, runlabel::label_view(small.data(), 600, 1)); }),
              "300 regions labelled 1 to 300 do not fit 8-bit unsigned labels");
    EXPECT_EQ(small, std::vector<uint8_t>(600, 7));
    // The first label counts: 255 regions from 2 end at 256.
    std::vector<int16_t> narrow(600, 7);
    runlabel::Options options;
    options.first_label = 32600;
    EXPECT_EQ(error_of([&] {
                  runlabel::label(image, runlabel::label_view(narrow.data(), 600, 1), options);
              }),
              "300 regions labelled 32600 to 32899 do not fit 16-bit signed labels");
    EXPECT_EQ(narrow, std::vector<int16_t>(600, 7));
    // Asked for, the low bits are painted instead: region 256 is 0, 257 is 1.
    options = {};
    options.wrap = true;
    EXPECT_EQ(runlabel::label(image, runlabel::label_view(small.data(), 600, 1), options), 300u);
    EXPECT_EQ(small[2 * 255], 0);
    EXPECT_EQ(small[2 * 256], 1);
    EXPECT_EQ(small[2 * 299], 44);
}

TEST(ApiErrors, BadArgumentsAreRefusedWithTheirReason) {
    const std::vector<uint8_t> mask(12, 1);
    const runlabel::ImageView image = runlabel::image_view(mask.data(), 4, 3);
    std::vector<uint32_t> labels(12, 0);
    runlabel::Options bad_connectivity;
    bad_connectivity.connectivity = 6;
    runlabel::Options zero_first;
    zero_first.first_label = 0;
    runlabel::Options no_threads;
    no_threads.threads = -1;
    const struct {
        std::string expected;
        std::function<void()> call;
    } cases[] = {
        {"connectivity must be 4 or 8, not 6", [&] { runlabel::label(image, bad_connectivity); }},
        {"the first label must be at least 1", [&] { runlabel::label(image, zero_first); }},
        {"the thread count must not be negative", [&] { runlabel::label(image, no_threads); }},
        {"image width and height must not be negative",
         [&] { runlabel::label(runlabel::image_view(mask.data(), -1, 3)); }},
        {"image data is null",
         [&] { runlabel::label(runlabel::image_view(static_cast<uint8_t*>(nullptr), 4, 3)); }},
        {"image is wider than 2147483645 pixels",
         [&] { runlabel::label(runlabel::image_view(mask.data(), int64_t{1} << 31, 1)); }},
        {"the label buffer is 3 x 4, the image 4 x 3",
         [&] { runlabel::label(image, runlabel::label_view(labels.data(), 3, 4)); }},
        {"rows 2 to 3 are not all in the image",
         [&] { runlabel::label(image).paint_rows(runlabel::label_view(labels.data(), 4, 2), 2); }},
        {"rows of width 3 given to a labeler of width 4",
         [&] {
             runlabel::Labeler labeler(4);
             labeler.add_rows(runlabel::image_view(mask.data(), 3, 1));
         }},
        {"the labeler has finished",
         [&] {
             runlabel::Labeler labeler(4);
             labeler.finish();
             labeler.add_rows(image);
         }},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.call), c.expected);
    EXPECT_EQ(labels, std::vector<uint32_t>(12, 0));
}

// Every allocation of a labeling in turn fails: each failure is a bad_alloc
// for the caller, after which the same call succeeds, and nothing leaks.
TEST(ApiErrors, MemoryThatRunsOutAtAnyAllocationIsABadAlloc) {
    std::vector<uint8_t> mask(64 * 80);
    for (std::size_t i = 0; i < mask.size(); ++i) mask[i] = (i * 7919 % 13) < 6;
    const runlabel::ImageView image = runlabel::image_view(mask.data(), 64, 80);
    runlabel::Options options;
    options.min_area = 2;
    options.numbering = runlabel::Numbering::area;
    const auto expected = runlabel::label_image<uint32_t>(image, options);
    int failed = 0;
    for (int n = 1; n < 200; ++n) {
        runlabel::engine::fail_allocation_after(n);
        try {
            const runlabel::Labeling labeling = runlabel::label(image, options);
            labeling.regions();
            runlabel::engine::fail_allocation_after(0);
            break;  // n is past the last allocation
        } catch (const std::bad_alloc&) {
            ++failed;
        }
    }
    runlabel::engine::fail_allocation_after(0);
    EXPECT_GT(failed, 5);
    EXPECT_EQ(runlabel::label_image<uint32_t>(image, options).labels, expected.labels);
}

}  // namespace
