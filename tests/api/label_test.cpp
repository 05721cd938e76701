// The public API against a flood fill: random images stored as every pixel
// type in every memory layout, painted into every label type, under both
// connectivities and various first labels, label for label.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "tests/api/api_fixture.h"

namespace {

using api_test::Layout;
using api_test::Mask;

// Reads back label i of a painted buffer of the given type as a number.
uint64_t label_at(const std::vector<unsigned char>& buffer, runlabel::LabelType type,
                  std::size_t i) {
    auto read = [&](auto zero) {
        decltype(zero) value;
        std::memcpy(&value, buffer.data() + i * sizeof value, sizeof value);
        return static_cast<uint64_t>(value);
    };
    switch (type) {
        case runlabel::LabelType::u8:
            return read(uint8_t{});
        case runlabel::LabelType::i8:
            return read(uint8_t{});
        case runlabel::LabelType::u16:
        case runlabel::LabelType::i16:
            return read(uint16_t{});
        case runlabel::LabelType::u32:
        case runlabel::LabelType::i32:
            return read(uint32_t{});
        default:
            return read(uint64_t{});
    }
}

constexpr runlabel::LabelType kLabelTypes[] = {runlabel::LabelType::u8,  runlabel::LabelType::i8,
                                               runlabel::LabelType::u16, runlabel::LabelType::i16,
                                               runlabel::LabelType::u32, runlabel::LabelType::i32,
                                               runlabel::LabelType::u64, runlabel::LabelType::i64};

std::size_t bytes_of(runlabel::LabelType type) {
    switch (type) {
        case runlabel::LabelType::u8:
        case runlabel::LabelType::i8:
            return 1;
        case runlabel::LabelType::u16:
        case runlabel::LabelType::i16:
            return 2;
        case runlabel::LabelType::u32:
        case runlabel::LabelType::i32:
            return 4;
        default:
            return 8;
    }
}

// Labels one stored image and checks it against the reference; returns false
// on the first difference.
template <typename Pixel>
bool labels_match(const Mask& mask, Layout layout, runlabel::LabelType type, int connectivity,
                  uint64_t first, std::mt19937& rng) {
    std::vector<unsigned char> pixels;
    const runlabel::ImageView view = api_test::store_pixels<Pixel>(mask, layout, rng, &pixels);
    int count = 0;
    const std::vector<int> expected =
        api_test::reference_labels(mask, connectivity, static_cast<int>(first), &count);
    runlabel::Options options;
    options.connectivity = connectivity;
    options.first_label = first;
    // Narrow types wrap here; refusing them is tested on its own.
    options.wrap = true;
    std::vector<unsigned char> labels(expected.size() * bytes_of(type), 0xEE);
    const runlabel::LabelView out{labels.data(), type, mask.cols, mask.rows, 0, 0};
    const uint64_t got_count = runlabel::label(view, out, options);
    EXPECT_EQ(got_count, static_cast<uint64_t>(count));
    const uint64_t keep =
        bytes_of(type) == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes_of(type))) - 1;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const uint64_t want = static_cast<uint64_t>(expected[i]) & keep;
        if (label_at(labels, type, i) != want) {
            ADD_FAILURE() << "pixel " << i << ": " << label_at(labels, type, i) << ", expected "
                          << want;
            return false;
        }
    }
    return got_count == static_cast<uint64_t>(count);
}

bool labels_match_any(int pixel_type, const Mask& mask, Layout layout, runlabel::LabelType type,
                      int connectivity, uint64_t first, std::mt19937& rng) {
    switch (pixel_type) {
        case 0:
            return labels_match<bool>(mask, layout, type, connectivity, first, rng);
        case 1:
            return labels_match<uint8_t>(mask, layout, type, connectivity, first, rng);
        case 2:
            return labels_match<int8_t>(mask, layout, type, connectivity, first, rng);
        case 3:
            return labels_match<uint16_t>(mask, layout, type, connectivity, first, rng);
        case 4:
            return labels_match<int16_t>(mask, layout, type, connectivity, first, rng);
        case 5:
            return labels_match<uint32_t>(mask, layout, type, connectivity, first, rng);
        case 6:
            return labels_match<int32_t>(mask, layout, type, connectivity, first, rng);
        case 7:
            return labels_match<uint64_t>(mask, layout, type, connectivity, first, rng);
        default:
            return labels_match<int64_t>(mask, layout, type, connectivity, first, rng);
    }
}

TEST(Label, MatchesFloodFillForEveryPixelTypeLayoutAndLabelType) {
    std::mt19937 rng(0xa91);
    int failures = 0;
    for (int image_no = 0; image_no < 1800 && failures < 3; ++image_no) {
        const Mask mask = api_test::random_mask(rng);
        const int pixel_type = image_no % 9;
        const Layout layout = api_test::kLayouts[(image_no / 9) % 5];
        const runlabel::LabelType type = kLabelTypes[image_no % 8];
        const uint64_t first = 1 + image_no % 3;
        for (int connectivity : {4, 8}) {
            if (!labels_match_any(pixel_type, mask, layout, type, connectivity, first, rng)) {
                ++failures;
                ADD_FAILURE() << "image " << image_no << ", pixel type " << pixel_type
                              << ", layout " << static_cast<int>(layout) << ", " << connectivity
                              << "-connected\n"
                              << api_test::describe(mask);
            }
        }
    }
}

// Labels painted into a strided buffer (every other element of padded rows)
// land there and nowhere else.
TEST(Label, PaintsIntoStridedLabelBuffers) {
    const std::vector<uint8_t> mask = {1, 1, 0, 1, 0, 0, 1, 0, 1};
    const runlabel::Labeling labeling = runlabel::label(runlabel::image_view(mask.data(), 3, 3));
    std::vector<uint16_t> out(3 * 7, 0xBEEF);
    labeling.paint({out.data(), runlabel::LabelType::u16, 3, 3, 7 * 2, 2 * 2});
    const std::vector<uint16_t> expected = {1, 0xBEEF, 1, 0xBEEF, 0, 0xBEEF, 0xBEEF,
                                            1, 0xBEEF, 0, 0xBEEF, 0, 0xBEEF, 0xBEEF,
                                            1, 0xBEEF, 0, 0xBEEF, 2, 0xBEEF, 0xBEEF};
    EXPECT_EQ(out, expected);
}

// An image fed in bands of any height gives what the whole image gives.
TEST(Labeler, BandsOfAnyHeightGiveTheWholeImagesLabels) {
    std::mt19937 rng(0xba0d);
    for (int image_no = 0; image_no < 300; ++image_no) {
        const Mask mask = api_test::random_mask(rng);
        std::vector<uint8_t> pixels(mask.pixels.begin(), mask.pixels.end());
        const int connectivity = image_no % 2 ? 8 : 4;
        runlabel::Options options;
        options.connectivity = connectivity;
        const auto whole = runlabel::label_image<uint32_t>(
            runlabel::image_view(pixels.data(), mask.cols, mask.rows), options);
        runlabel::Labeler labeler(mask.cols, options);
        for (int row = 0; row < mask.rows;) {
            const int band = std::min<int>(mask.rows - row, 1 + static_cast<int>(rng() % 7));
            labeler.add_rows(runlabel::image_view(pixels.data() + std::size_t(row) * mask.cols,
                                                  mask.cols, band));
            row += band;
        }
        const runlabel::Labeling banded = labeler.finish();
        std::vector<uint32_t> labels(pixels.size());
        banded.paint(runlabel::label_view(labels.data(), mask.cols, mask.rows));
        ASSERT_EQ(labels, whole.labels) << "image " << image_no << "\n" << api_test::describe(mask);
        ASSERT_EQ(banded.count(), whole.count);
    }
}

// Runs come back in raster order, each with its region's label, covering
// exactly the foreground.
TEST(Labeling, RunsCoverTheForegroundWithTheirLabels) {
    std::mt19937 rng(0x4a7);
    for (int image_no = 0; image_no < 200; ++image_no) {
        const Mask mask = api_test::random_mask(rng);
        std::vector<uint8_t> pixels(mask.pixels.begin(), mask.pixels.end());
        const runlabel::ImageView view = runlabel::image_view(pixels.data(), mask.cols, mask.rows);
        const auto painted = runlabel::label_image<uint32_t>(view);
        std::vector<uint32_t> from_runs(pixels.size(), 0);
        int64_t last_row = -1, last_end = -1;
        for (const runlabel::Run& run : runlabel::label(view).runs()) {
            ASSERT_TRUE(run.row > last_row || (run.row == last_row && run.first > last_end + 1));
            last_row = run.row;
            last_end = run.last;
            for (int64_t c = run.first; c <= run.last; ++c) {
                from_runs[std::size_t(run.row) * mask.cols + c] = static_cast<uint32_t>(run.label);
            }
        }
        ASSERT_EQ(from_runs, painted.labels) << api_test::describe(mask);
    }
}

}  // namespace

namespace {

// Packed bits (PBM's layout) label as the same mask in bytes does, padding
// bits ignored, and paint from their bits.
TEST(Label, PackedBitsLabelAsTheirMaskInBytes) {
    std::mt19937 rng(0xb175);
    for (int image_no = 0; image_no < 300; ++image_no) {
        const api_test::Mask mask = api_test::random_mask(rng);
        const std::size_t stride = (mask.cols + 7) / 8 + image_no % 3;
        // Set padding bits: they are past the row's last pixel and must not count.
        std::vector<uint8_t> bits(stride * mask.rows + 1, 0xFF);
        for (int r = 0; r < mask.rows; ++r) {
            for (int c = 0; c < mask.cols; ++c) {
                uint8_t& byte = bits[r * stride + c / 8];
                const uint8_t bit = uint8_t(0x80 >> (c % 8));
                byte = mask.at(r, c) ? (byte | bit) : (byte & ~bit);
            }
        }
        std::vector<uint8_t> bytes(mask.pixels.begin(), mask.pixels.end());
        const runlabel::ImageView packed{
            bits.data(), runlabel::PixelType::bits,           mask.cols,
            mask.rows,   static_cast<std::ptrdiff_t>(stride), 0};
        runlabel::Options options;
        options.connectivity = image_no % 2 ? 8 : 4;
        const auto expected = runlabel::label_image<uint32_t>(
            runlabel::image_view(bytes.data(), mask.cols, mask.rows), options);
        std::vector<uint32_t> got(bytes.size());
        ASSERT_EQ(runlabel::label(packed, runlabel::label_view(got.data(), mask.cols, mask.rows),
                                  options),
                  expected.count);
        ASSERT_EQ(got, expected.labels) << api_test::describe(mask);
    }
}

}  // namespace
