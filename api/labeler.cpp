// Labeling through the public API: rows are encoded and labelled as they
// arrive, and numbering them ends the labeling. Rows enough for several
// threads are cut into bands, each labelled by a thread of its own and joined
// at the end; the numbering, and so every result, is the same for any number
// of threads. Every engine failure becomes an exception of the API's own
// (memory stays std::bad_alloc).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "api/state.h"
#include "api/views.h"
#include "support/support.h"
#include "support/workers.h"

namespace runlabel {
namespace {

// Rows [first, first + count) of a checked view.
ImageView rows_of(const ImageView& view, std::int64_t first, std::int64_t count) {
    ImageView part = view;
    part.data = static_cast<const std::byte*>(view.data) + first * view.row_stride;
    part.height = count;
    return part;
}

void label_into(engine::RunStore& store, const ImageView& rows, int connectivity) {
    detail::RowSource source(rows);
    const engine::PixelKind kind = detail::pixel_kind(rows.type);
    for (std::int64_t r = 0; r < rows.height; ++r) {
        engine::encode_row(store, source.row(r), kind);
        engine::label_newest_row(store, connectivity);
    }
}

}  // namespace

Labeler::Labeler(std::int64_t width, const Options& options) {
    detail::check_options(options);
    detail::checked(ImageView{nullptr, PixelType::u8, width, 0, 0, 0});
    state_ = std::make_unique<State>();
    state_->options = options;
    state_->bands.emplace_back();
    state_->bands.back().store.cols = width;
}

Labeler::~Labeler() = default;
Labeler::Labeler(Labeler&&) noexcept = default;
Labeler& Labeler::operator=(Labeler&&) noexcept = default;

std::int64_t Labeler::rows() const { return state_ ? state_->rows : 0; }

void Labeler::add_rows(const ImageView& rows) {
    if (!state_) throw error("the labeler has finished");
    State& state = *state_;
    const std::int64_t width = state.bands.back().store.cols;
    const ImageView view = detail::checked(rows);
    if (view.width != width) {
        throw error("rows of width " + std::to_string(view.width) +
                    " given to a labeler of width " + std::to_string(width));
    }
    if (view.height > INT32_MAX - state.rows) throw error("too many rows");
    // Rows without pixels hold no runs: only their count is kept.
    if (width == 0) {
        state.rows += view.height;
        return;
    }
    const int connectivity = state.options.connectivity;
    // Cut into as many bands as there are threads, the first going on with
    // the band that takes rows now.
    const std::int64_t bands = detail::threads_for(state.options.threads, view.height, width);
    try {
        if (bands < 2) {
            label_into(state.bands.back().store, view, connectivity);
        } else {
            const std::size_t first = state.bands.size() - 1;
            for (std::int64_t b = 1; b < bands; ++b) {
                state.bands.emplace_back();
                state.bands.back().store.cols = width;
                state.bands.back().first_row = state.rows + view.height * b / bands;
            }
            run_on_workers(static_cast<int>(bands), static_cast<int>(bands), [&](int b) {
                const std::int64_t from = view.height * b / bands;
                const std::int64_t to = view.height * (b + 1) / bands;
                engine::RunStore& store = state.bands[first + b].store;
                label_into(store, rows_of(view, from, to - from), connectivity);
                // Only the last band takes the rows added next.
                if (b + 1 < bands) engine::end_labeling(store);
            });
        }
    } catch (const std::length_error& e) {
        throw error(e.what());
    }
    state.rows += view.height;
}

Labeling Labeler::finish() {
    if (!state_) throw error("the labeler has finished");
    const std::unique_ptr<State> state = std::move(state_);
    auto result = std::make_shared<Labeling::State>();
    engine::NumberingOptions numbering;
    numbering.min_area = state->options.min_area;
    numbering.by_area = state->options.numbering == Numbering::area;
    try {
        const std::int64_t width = state->bands.front().store.cols;
        result->count = engine::number_bands(
            state->bands.data(), state->bands.size(), state->options.connectivity, numbering,
            static_cast<int>(detail::threads_for(state->options.threads, state->rows, width)));
    } catch (const std::length_error& e) {
        throw error(e.what());
    }
    result->first_label = state->options.first_label;
    result->wrap = state->options.wrap;
    result->raster = !numbering.by_area;
    result->threads = state->options.threads;
    if (result->count > 0 && result->first_label - 1 > UINT64_MAX - result->count) {
        throw error("labels from " + std::to_string(result->first_label) + " for " +
                    std::to_string(result->count) + " regions pass 2^64");
    }
    result->width = state->bands.front().store.cols;
    result->height = state->rows;
    result->bands = std::move(state->bands);
    return Labeling(std::move(result));
}

Labeling label(const ImageView& image, const Options& options) {
    const ImageView view = detail::checked(image);
    Labeler labeler(view.width, options);
    labeler.add_rows(view);
    return labeler.finish();
}

std::uint64_t label(const ImageView& image, const LabelView& out, const Options& options,
                    std::vector<Region>* regions) {
    const ImageView view = detail::checked(image);
    const LabelView into = detail::checked(out);
    detail::check_same_size(into, view.width, view.height);
    const Labeling labeling = label(view, options);
    // Filled in place: a vector the caller keeps for image after image is
    // written warm.
    if (regions != nullptr) labeling.fill_regions(*regions);
    labeling.paint_from(into, 0, &view, 0);
    return labeling.count();
}

}  // namespace runlabel
