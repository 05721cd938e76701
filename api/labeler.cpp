// Labeling through the public API: rows are encoded and labelled as they
// arrive, and numbering them ends the labeling. Every engine failure becomes
// an exception of the API's own (memory stays std::bad_alloc).
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "api/state.h"
#include "api/views.h"

namespace runlabel {

Labeler::Labeler(std::int64_t width, const Options& options) {
    detail::check_options(options);
    detail::checked(ImageView{nullptr, PixelType::u8, width, 0, 0, 0});
    state_ = std::make_unique<State>();
    state_->options = options;
    state_->store.cols = width;
}

Labeler::~Labeler() = default;
Labeler::Labeler(Labeler&&) noexcept = default;
Labeler& Labeler::operator=(Labeler&&) noexcept = default;

std::int64_t Labeler::rows() const { return state_ ? state_->store.rows() : 0; }

void Labeler::add_rows(const ImageView& rows) {
    if (!state_) throw error("the labeler has finished");
    const ImageView view = detail::checked(rows);
    if (view.width != state_->store.cols) {
        throw error("rows of width " + std::to_string(view.width) +
                    " given to a labeler of width " + std::to_string(state_->store.cols));
    }
    if (view.height > INT32_MAX - state_->store.rows()) throw error("too many rows");
    detail::RowSource source(view);
    const engine::PixelKind kind = detail::pixel_kind(view.type);
    try {
        for (std::int64_t r = 0; r < view.height; ++r) {
            engine::encode_row(state_->store, source.row(r), kind);
            engine::label_newest_row(state_->store, state_->options.connectivity);
        }
    } catch (const std::length_error& e) {
        throw error(e.what());
    }
}

Labeling Labeler::finish() {
    if (!state_) throw error("the labeler has finished");
    const std::unique_ptr<State> state = std::move(state_);
    auto result = std::make_shared<Labeling::State>();
    engine::NumberingOptions numbering;
    numbering.min_area = state->options.min_area;
    numbering.by_area = state->options.numbering == Numbering::area;
    result->count = engine::number_regions(state->store, numbering);
    result->first_label = state->options.first_label;
    result->wrap = state->options.wrap;
    if (result->count > 0 && result->first_label - 1 > UINT64_MAX - result->count) {
        throw error("labels from " + std::to_string(result->first_label) + " for " +
                    std::to_string(result->count) + " regions pass 2^64");
    }
    result->store = std::move(state->store);
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
    if (into.width != view.width || into.height != view.height) {
        throw error("the label buffer is " + std::to_string(into.width) + " x " +
                    std::to_string(into.height) + ", the image " + std::to_string(view.width) +
                    " x " + std::to_string(view.height));
    }
    const Labeling labeling = label(view, options);
    // Filled in place: a vector the caller keeps for image after image is
    // written warm.
    if (regions != nullptr) labeling.fill_regions(*regions);
    labeling.paint_rows(into, 0, &view);
    return labeling.count();
}

}  // namespace runlabel
