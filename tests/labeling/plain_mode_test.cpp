// Every fast path against the plain rule it specialises: each image labelled
// by a store with its fast paths and by a plain one, whole and in bands,
// numbered in raster order or by area, painted at every label width with and
// without the image's pixels at hand, and both held to a flood fill. The
// images are the benchmark's families (noise of every density and grain,
// documents, blobs, checkerboards, spirals, empty and full) at sizes around
// the 64-column words, and random masks of many shapes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bench/images.h"
#include "labeling/engine.h"
#include "tests/reference/flood_fill.h"
#include "tests/reference/random_images.h"

namespace {

using runlabel::engine::Band;
using runlabel::engine::LabelKind;
using runlabel::engine::PixelKind;

struct Image {
    int rows = 0, cols = 0;
    std::vector<uint8_t> pixels;
};

// How one labeling is made.
struct Way {
    bool plain = false;
    int bands = 1;
    bool by_area = false;
};

struct Region {
    uint64_t label, area, sum_x, sum_y;
    int64_t left, top, right, bottom;
    bool operator==(const Region&) const = default;
};

// What a labeling gives: its count, its label image at every width (low
// bits), with and without the pixels at hand, and its regions' sums.
struct Result {
    uint64_t count = 0;
    std::vector<std::vector<uint64_t>> painted;
    std::vector<Region> regions;
};

template <typename T>
std::vector<uint64_t> paint(const std::vector<Band>& bands, const Image& image, LabelKind kind,
                            bool with_source) {
    std::vector<T> out(std::size_t(image.rows) * image.cols + 1, T{0x5a});
    for (const Band& band : bands) {
        // A store's rows are its own: its source starts at its first row.
        const runlabel::engine::SourceRows source{
            reinterpret_cast<const std::byte*>(image.pixels.data()) +
                std::size_t(band.first_row) * image.cols,
            image.cols, PixelKind::k8};
        runlabel::engine::paint_rows(band.store, 0, band.store.rows(), 0, kind,
                                     out.data() + std::size_t(band.first_row) * image.cols,
                                     static_cast<std::ptrdiff_t>(image.cols * sizeof(T)), sizeof(T),
                                     with_source ? &source : nullptr, band.first_row % 2 == 1);
    }
    EXPECT_EQ(out.back(), T{0x5a}) << "painted past the image";
    return {out.begin(), out.end() - 1};
}

// The facts of RowInfo the fast stores were seen to set, so that a test can
// tell its images reach every fast path.
struct FactsSeen {
    bool new_trees = false, stretches_alike = false, repeat = false, copies = false;
    bool kept_as_bits = false, single_pixels = false, one_region = false, shared_label = false;

    void add(const runlabel::engine::RunStore& store) {
        copies |= !store.copies.empty();
        for (const runlabel::engine::RowInfo& info : store.row_info) {
            using runlabel::engine::RowKind;
            new_trees |= info.kind == RowKind::kNewTrees;
            stretches_alike |= info.kind == RowKind::kStretchesAlike;
            repeat |= info.kind == RowKind::kRepeat;
            kept_as_bits |= info.kept_as_bits;
            single_pixels |= info.single_pixels;
            one_region |= info.one_region;
            shared_label |= info.shared_label;
        }
    }
    bool all() const {
        return new_trees && stretches_alike && repeat && copies && kept_as_bits && single_pixels &&
               one_region && shared_label;
    }
};
FactsSeen facts_seen;

Result label(const Image& image, int connectivity, const Way& way) {
    std::vector<Band> bands(static_cast<std::size_t>(way.bands));
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const int from = static_cast<int>(image.rows * b / bands.size());
        const int to = static_cast<int>(image.rows * (b + 1) / bands.size());
        bands[b].first_row = from;
        bands[b].store = runlabel::engine::RunStore(image.cols, way.plain);
        for (int r = from; r < to; ++r) {
            runlabel::engine::encode_row(
                bands[b].store, image.pixels.data() + std::size_t(r) * image.cols, PixelKind::k8);
            runlabel::engine::label_newest_row(bands[b].store, connectivity);
        }
    }
    if (!way.plain) {
        for (const Band& band : bands) facts_seen.add(band.store);
    }
    Result result;
    runlabel::engine::NumberingOptions options;
    options.by_area = way.by_area;
    options.min_area = way.by_area ? 3 : 0;
    result.count =
        runlabel::engine::number_bands(bands.data(), bands.size(), connectivity, options, 2);
    if (!way.plain) {
        for (const Band& band : bands) facts_seen.add(band.store);
    }
    for (bool with_source : {false, true}) {
        result.painted.push_back(paint<uint8_t>(bands, image, LabelKind::k8, with_source));
        result.painted.push_back(paint<uint16_t>(bands, image, LabelKind::k16, with_source));
        result.painted.push_back(paint<uint32_t>(bands, image, LabelKind::k32, with_source));
        result.painted.push_back(paint<uint64_t>(bands, image, LabelKind::k64, with_source));
    }
    const Region empty{0, 0, 0, 0, INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN};
    result.regions.assign(result.count, empty);
    for (const Band& band : bands) {
        runlabel::engine::sum_regions(band.store, band.first_row, result.regions.data(), 0);
    }
    return result;
}

// The flood fill's labels, at each width the painters write.
std::vector<std::vector<uint64_t>> flood_fill(const Image& image, int connectivity,
                                              uint64_t* count) {
    int regions = 0;
    const std::vector<int> labels =
        flood_fill_labels(image.pixels, image.rows, image.cols, connectivity == 8, 1, &regions);
    *count = static_cast<uint64_t>(regions);
    std::vector<std::vector<uint64_t>> painted;
    for (int bytes : {1, 2, 4, 8}) {
        const uint64_t mask = bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
        std::vector<uint64_t> at_width(labels.size());
        for (std::size_t i = 0; i < labels.size(); ++i) {
            at_width[i] = static_cast<uint64_t>(labels[i]) & mask;
        }
        painted.push_back(std::move(at_width));
    }
    return painted;
}

// Where two label images first differ, for the message.
std::string first_difference(const std::vector<uint64_t>& got, const std::vector<uint64_t>& want,
                             int cols) {
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
        if (got[i] != want[i]) {
            return "row " + std::to_string(i / cols) + " column " + std::to_string(i % cols) +
                   ": " + std::to_string(got[i]) + " where " + std::to_string(want[i]);
        }
    }
    return got.size() == want.size() ? "" : "sizes differ";
}

void expect_plain_rule(const Image& image, const std::string& what) {
    static const char* const kPainted[] = {"8-bit", "16-bit", "32-bit", "64-bit"};
    for (int connectivity : {4, 8}) {
        uint64_t regions = 0;
        const auto want = flood_fill(image, connectivity, &regions);
        for (int bands : {1, 3}) {
            for (bool by_area : {false, true}) {
                SCOPED_TRACE(what + ", " + std::to_string(image.rows) + "x" +
                             std::to_string(image.cols) + ", " + std::to_string(connectivity) +
                             "-connected, " + std::to_string(bands) + " band(s)" +
                             (by_area ? ", by area" : ""));
                const Result plain = label(image, connectivity, {true, bands, by_area});
                const Result fast = label(image, connectivity, {false, bands, by_area});
                if (!by_area) {
                    ASSERT_EQ(plain.count, regions);
                    for (std::size_t k = 0; k < plain.painted.size(); ++k) {
                        ASSERT_EQ(first_difference(plain.painted[k], want[k % 4], image.cols), "")
                            << "plain, " << kPainted[k % 4] << (k < 4 ? "" : ", from pixels");
                    }
                }
                ASSERT_EQ(fast.count, plain.count);
                for (std::size_t k = 0; k < plain.painted.size(); ++k) {
                    ASSERT_EQ(first_difference(fast.painted[k], plain.painted[k], image.cols), "")
                        << "fast, " << kPainted[k % 4] << (k < 4 ? "" : ", from pixels");
                }
                ASSERT_EQ(fast.regions, plain.regions);
            }
        }
    }
}

TEST(PlainMode, EveryBenchmarkFamilyLabelsAsThePlainRule) {
    for (const Family& family : all_families()) {
        for (int size : {1, 2, 63, 64, 65, 130, 200}) {
            Image image{size, size, std::vector<uint8_t>(std::size_t(size) * size)};
            std::vector<uint8_t*> rows(static_cast<std::size_t>(size));
            for (int r = 0; r < size; ++r) rows[r] = image.pixels.data() + std::size_t(r) * size;
            fill_image(family, rows.data(), size);
            expect_plain_rule(image, family.name);
            if (HasFatalFailure()) return;
        }
    }
    EXPECT_TRUE(facts_seen.all()) << "some fast path was never taken";
}

TEST(PlainMode, RandomMasksAndRepeatedStretchesLabelAsThePlainRule) {
    std::mt19937 rng(0x9a1a);
    for (int image_no = 0; image_no < 120; ++image_no) {
        Image image;
        std::vector<int> pixels;
        if (image_no % 2 == 0) {
            random_mask(rng, &image.rows, &image.cols, &pixels);
        } else {
            image.rows = 2 + static_cast<int>(rng() % 30);
            image.cols = 64 + static_cast<int>(rng() % 300);
            pixels.resize(std::size_t(image.rows) * image.cols);
            repeat_in_stretches(rng, image.rows, image.cols, 0.1 + 0.1 * (image_no % 9), &pixels);
        }
        image.pixels.assign(pixels.begin(), pixels.end());
        expect_plain_rule(image, "image " + std::to_string(image_no));
        if (HasFatalFailure()) return;
    }
}

}  // namespace
