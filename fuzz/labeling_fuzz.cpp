// Fuzz target: the library's labeling of an image decoded straight from the
// bytes (byte 0 the width, byte 1 the options, the rest the pixels, non-zero =
// foreground). For either connectivity and one to three threads (bands joined
// at their borders), the labels painted at every width, with and without the
// pixels at hand, must be a flood fill's numbered from the first label, and
// the regions' statistics and the runs must agree with them.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "runlabel/runlabel.h"
#include "tests/reference/flood_fill.h"

namespace {

const runlabel::LabelType kTypes[] = {runlabel::LabelType::u8, runlabel::LabelType::u16,
                                      runlabel::LabelType::u32, runlabel::LabelType::u64};

uint64_t read_label(const std::vector<unsigned char>& buffer, std::size_t i, int bytes) {
    uint64_t value = 0;
    std::memcpy(&value, buffer.data() + i * bytes, static_cast<std::size_t>(bytes));
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    prepare_fuzz_process();
    if (size < 3 || size - 2 > kMaxPixels) return 0;
    const int cols = data[0] == 0 ? 1 : data[0];
    const int rows = static_cast<int>((size - 2) / cols);
    if (rows == 0) return 0;
    std::vector<uint8_t> pixels(data + 2, data + 2 + std::size_t(rows) * cols);
    runlabel::Options options;
    options.connectivity = data[1] & 1 ? 8 : 4;
    options.threads = 1 + (data[1] >> 1) % 3;
    options.first_label = 1 + (data[1] >> 3) % 4;
    options.wrap = true;

    int count = 0;
    const std::vector<int> expected =
        flood_fill_labels(pixels, rows, cols, options.connectivity == 8,
                          static_cast<int>(options.first_label), &count);
    const runlabel::ImageView image = runlabel::image_view(pixels.data(), cols, rows);
    const runlabel::Labeling labeling = runlabel::label(image, options);
    FUZZ_CHECK(labeling.count() == static_cast<uint64_t>(count));

    for (const runlabel::LabelType type : kTypes) {
        const int bytes = type == runlabel::LabelType::u8    ? 1
                          : type == runlabel::LabelType::u16 ? 2
                          : type == runlabel::LabelType::u32 ? 4
                                                             : 8;
        const uint64_t mask = bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
        for (const bool with_pixels : {false, true}) {
            std::vector<unsigned char> out(pixels.size() * bytes, 0xA5);
            const runlabel::LabelView view{out.data(), type, cols, rows, 0, 0};
            if (with_pixels) {
                labeling.paint(view, image);
            } else {
                labeling.paint(view);
            }
            for (std::size_t i = 0; i < pixels.size(); ++i)
                FUZZ_CHECK(read_label(out, i, bytes) == (uint64_t(expected[i]) & mask));
        }
    }

    // Areas and boxes of the regions, and the runs, from the labels.
    std::vector<uint64_t> area(static_cast<std::size_t>(count), 0);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (expected[i] != 0) ++area[std::size_t(expected[i]) - options.first_label];
    }
    const std::vector<runlabel::Region> regions = labeling.regions();
    FUZZ_CHECK(regions.size() == area.size());
    for (std::size_t k = 0; k < regions.size(); ++k) {
        const runlabel::Region& g = regions[k];
        FUZZ_CHECK(g.label == options.first_label + k && g.area == area[k]);
        FUZZ_CHECK(g.left >= 0 && g.left <= g.right && g.right < cols);
        FUZZ_CHECK(g.top >= 0 && g.top <= g.bottom && g.bottom < rows);
        const auto at = [&](int64_t r, int64_t c) {
            return expected[std::size_t(r) * cols + c] == static_cast<int>(g.label);
        };
        bool top = false, bottom = false, left = false, right = false;
        for (int64_t c = g.left; c <= g.right; ++c) top |= at(g.top, c), bottom |= at(g.bottom, c);
        for (int64_t r = g.top; r <= g.bottom; ++r) left |= at(r, g.left), right |= at(r, g.right);
        FUZZ_CHECK(top && bottom && left && right);
    }
    uint64_t covered = 0;
    for (const runlabel::Run& run : labeling.runs()) {
        FUZZ_CHECK(run.row >= 0 && run.row < rows && run.first >= 0 && run.first <= run.last &&
                   run.last < cols);
        for (int64_t c = run.first; c <= run.last; ++c)
            FUZZ_CHECK(expected[std::size_t(run.row) * cols + c] == static_cast<int>(run.label));
        covered += static_cast<uint64_t>(run.last - run.first + 1);
    }
    uint64_t foreground = 0;
    for (const uint8_t p : pixels) foreground += p != 0;
    FUZZ_CHECK(covered == foreground);
    return 0;
}
