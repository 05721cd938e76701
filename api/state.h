// Internal to the library: what a Labeler and a Labeling hold.
#pragma once

#include <cstdint>
#include <vector>

#include "labeling/engine.h"
#include "runlabel/runlabel.h"

namespace runlabel {

// The image's runs, in bands of rows top to bottom (one band unless labelled
// by several threads).
struct Labeling::State {
    std::vector<engine::Band> bands;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint64_t count = 0;
    std::uint64_t first_label = 1;
    bool wrap = false;
    bool raster = true;  // numbered in raster order (regions appear in number order)
    int threads = 1;     // as the options asked

    // The band that holds image row `row` (which must be in the image).
    const engine::Band& band_of(std::int64_t row) const;
};

struct Labeler::State {
    Options options;
    std::vector<engine::Band> bands;  // the last one takes the rows added
    std::int64_t rows = 0;
};

}  // namespace runlabel
