// Threads labeling different images at once get exactly what they get one
// after the other: the engine shares nothing between labelings. The tsan
// preset runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "runlabel/runlabel.h"

namespace {

struct Job {
    std::vector<uint8_t> pixels;
    int size = 0;
    int connectivity = 4;
    std::vector<uint32_t> labels;
    std::vector<runlabel::Region> regions;
};

void run(Job& job) {
    runlabel::Options options;
    options.connectivity = job.connectivity;
    const runlabel::Labeling labeling =
        runlabel::label(runlabel::image_view(job.pixels.data(), job.size, job.size), options);
    job.labels.assign(job.pixels.size(), 0);
    labeling.paint(runlabel::label_view(job.labels.data(), job.size, job.size));
    job.regions = labeling.regions();
}

TEST(Threads, LabelingAtOnceMatchesLabelingInTurn) {
    std::mt19937 rng(0x7ead);
    std::vector<Job> jobs(6);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        Job& job = jobs[i];
        job.size = 150 + 40 * static_cast<int>(i);
        job.connectivity = i % 2 ? 8 : 4;
        job.pixels.resize(std::size_t(job.size) * job.size);
        for (auto& p : job.pixels) p = rng() % 100 < 45 ? 1 : 0;
    }
    std::vector<Job> in_turn = jobs;
    for (Job& job : in_turn) run(job);
    std::vector<std::thread> threads;
    for (Job& job : jobs) threads.emplace_back([&job] { run(job); });
    for (std::thread& t : threads) t.join();
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_EQ(jobs[i].labels, in_turn[i].labels) << "job " << i;
        EXPECT_EQ(jobs[i].regions.size(), in_turn[i].regions.size()) << "job " << i;
    }
}

// One Labeling read from several threads at once: painting and statistics
// only read the runs.
TEST(Threads, OneLabelingPaintedFromSeveralThreads) {
    std::vector<uint8_t> pixels(300 * 300);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = (i * 2654435761u >> 7) % 3 == 0;
    const runlabel::Labeling labeling =
        runlabel::label(runlabel::image_view(pixels.data(), 300, 300));
    std::vector<uint32_t> expected(pixels.size());
    labeling.paint(runlabel::label_view(expected.data(), 300, 300));
    std::vector<std::vector<uint32_t>> outs(4, std::vector<uint32_t>(pixels.size()));
    std::vector<std::thread> threads;
    for (auto& out : outs) {
        threads.emplace_back([&labeling, &out] {
            labeling.paint(runlabel::label_view(out.data(), 300, 300));
            labeling.regions();
        });
    }
    for (std::thread& t : threads) t.join();
    for (const auto& out : outs) EXPECT_EQ(out, expected);
}

// Bands of rows painted by the caller's own threads, each asking for one
// thread or for some: the bands, crossing the labeling's own bands, add up to
// the whole painting.
TEST(Threads, BandsPaintedFromThreadsOfTheCallersOwn) {
    std::vector<uint8_t> pixels(200 * 301);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = (i * 2654435761u >> 9) % 3 == 0;
    runlabel::Options options;
    options.threads = 3;
    const runlabel::Labeling labeling =
        runlabel::label(runlabel::image_view(pixels.data(), 200, 301), options);
    std::vector<uint16_t> expected(pixels.size());
    labeling.paint(runlabel::label_view(expected.data(), 200, 301));
    for (int threads : {0, 1, 2}) {
        std::vector<uint16_t> out(pixels.size());
        std::vector<std::thread> painters;
        for (int first = 0; first < 301; first += 37) {
            painters.emplace_back([&, first] {
                const int rows = std::min(37, 301 - first);
                labeling.paint_rows(runlabel::label_view(out.data() + first * 200, 200, rows),
                                    first, threads);
            });
        }
        for (std::thread& t : painters) t.join();
        EXPECT_EQ(out, expected) << threads << " threads";
    }
    EXPECT_THROW(labeling.paint_rows(runlabel::label_view(expected.data(), 200, 301), 0, -1),
                 runlabel::error);
}

}  // namespace

namespace {

// Labels, statistics and counts are the same whatever the number of threads
// (each labelling a band of its own), on images of many heights, so that band
// borders fall at many rows.
TEST(Threads, AnyThreadCountGivesTheSameLabels) {
    std::mt19937 rng(0x7c0);
    for (int image_no = 0; image_no < 60; ++image_no) {
        const int rows = 2 + static_cast<int>(rng() % 90);
        const int cols = 1 + static_cast<int>(rng() % 120);
        std::vector<uint8_t> pixels(std::size_t(rows) * cols);
        const unsigned density = 20 + rng() % 60;
        for (auto& p : pixels) p = rng() % 100 < density ? 1 : 0;
        runlabel::Options options;
        options.connectivity = image_no % 2 ? 8 : 4;
        options.min_area = image_no % 3;
        const runlabel::ImageView view = runlabel::image_view(pixels.data(), cols, rows);
        const auto one = runlabel::label_image<uint32_t>(view, options);
        const auto regions = runlabel::label(view, options).regions();
        for (int threads : {2, 3, 7}) {
            options.threads = threads;
            const auto many = runlabel::label_image<uint32_t>(view, options);
            ASSERT_EQ(many.labels, one.labels) << threads << " threads, image " << image_no;
            ASSERT_EQ(many.count, one.count);
            const auto many_regions = runlabel::label(view, options).regions();
            ASSERT_EQ(many_regions.size(), regions.size());
            for (std::size_t k = 0; k < regions.size(); ++k) {
                ASSERT_EQ(many_regions[k].area, regions[k].area);
                ASSERT_EQ(many_regions[k].sum_y, regions[k].sum_y);
                ASSERT_EQ(many_regions[k].top, regions[k].top);
            }
        }
    }
}

}  // namespace
