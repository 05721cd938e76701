// Internal to the library: what a Labeler and a Labeling hold.
#pragma once

#include <cstdint>

#include "labeling/engine.h"
#include "runlabel/runlabel.h"

namespace runlabel {

struct Labeling::State {
    engine::RunStore store;
    std::uint64_t count = 0;
    std::uint64_t first_label = 1;
    bool wrap = false;
};

struct Labeler::State {
    Options options;
    engine::RunStore store;
};

}  // namespace runlabel
