// What a finished labeling offers: painting at any label width, statistics
// and the runs, all read from the numbered run store.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "api/state.h"
#include "api/views.h"

namespace runlabel {
namespace {

const Labeling::State& empty_state() {
    static const Labeling::State state;
    return state;
}

}  // namespace

Labeling::Labeling() = default;
Labeling::Labeling(std::shared_ptr<const State> state) : state_(std::move(state)) {}

std::int64_t Labeling::width() const { return state_ ? state_->store.cols : 0; }
std::int64_t Labeling::height() const { return state_ ? state_->store.rows() : 0; }
std::uint64_t Labeling::count() const { return state_ ? state_->count : 0; }
std::uint64_t Labeling::first_label() const { return state_ ? state_->first_label : 1; }
std::uint64_t Labeling::last_label() const { return first_label() - 1 + count(); }
std::uint64_t Labeling::run_count() const { return state_ ? state_->store.runs() : 0; }

LabelType Labeling::narrowest_label_type() const {
    const std::uint64_t last = last_label();
    if (last <= UINT8_MAX) return LabelType::u8;
    if (last <= UINT16_MAX) return LabelType::u16;
    if (last <= UINT32_MAX) return LabelType::u32;
    return LabelType::u64;
}

void Labeling::paint(const LabelView& out) const {
    const LabelView view = detail::checked(out);
    if (view.width != width() || view.height != height()) {
        throw error("the label buffer is " + std::to_string(view.width) + " x " +
                    std::to_string(view.height) + ", the image " + std::to_string(width()) + " x " +
                    std::to_string(height()));
    }
    paint_rows(view, 0);
}

void Labeling::paint_rows(const LabelView& out, std::int64_t first_row) const {
    paint_rows(out, first_row, nullptr);
}

void Labeling::paint(const LabelView& out, const ImageView& image) const {
    const ImageView view = detail::checked(image);
    if (view.width != width() || view.height != height()) {
        throw error("the image is " + std::to_string(view.width) + " x " +
                    std::to_string(view.height) + ", the labelled image " +
                    std::to_string(width()) + " x " + std::to_string(height()));
    }
    const LabelView into = detail::checked(out);
    if (into.width != width() || into.height != height()) {
        throw error("the label buffer is " + std::to_string(into.width) + " x " +
                    std::to_string(into.height) + ", the image " + std::to_string(width()) + " x " +
                    std::to_string(height()));
    }
    paint_rows(into, 0, &view);
}

void Labeling::paint_rows(const LabelView& out, std::int64_t first_row,
                          const ImageView* image) const {
    const LabelView view = detail::checked(out);
    if (view.width != width()) {
        throw error("the label rows are " + std::to_string(view.width) + " wide, the image " +
                    std::to_string(width()));
    }
    if (first_row < 0 || view.height > height() - first_row) {
        throw error("rows " + std::to_string(first_row) + " to " +
                    std::to_string(first_row + view.height - 1) + " are not all in the image");
    }
    const State& state = state_ ? *state_ : empty_state();
    if (!state.wrap && count() > 0 && last_label() > detail::largest_label(view.type)) {
        throw error(std::to_string(count()) + " regions labelled " + std::to_string(first_label()) +
                    " to " + std::to_string(last_label()) + " do not fit " +
                    detail::label_type_name(view.type) + " labels");
    }
    // The image's pixels serve when they are packed rows (a checked view).
    engine::SourceRows source{};
    const bool from_image =
        image != nullptr &&
        image->column_stride == static_cast<std::ptrdiff_t>(detail::pixel_size(image->type));
    if (from_image) {
        source = {static_cast<const std::byte*>(image->data), image->row_stride,
                  detail::pixel_kind(image->type)};
    }
    engine::paint_rows(state.store, first_row, view.height, first_label() - 1,
                       detail::label_kind(view.type), view.data, view.row_stride,
                       view.column_stride, from_image ? &source : nullptr);
}

std::vector<Region> Labeling::regions() const {
    std::vector<Region> regions;
    fill_regions(regions);
    return regions;
}

void Labeling::fill_regions(std::vector<Region>& regions) const {
    Region empty;
    empty.left = empty.top = INT64_MAX;
    empty.right = empty.bottom = INT64_MIN;
    regions.assign(count(), empty);
    if (count() == 0) return;
    engine::sum_regions(state_->store, 0, regions.data());
    for (std::size_t k = 0; k < regions.size(); ++k) regions[k].label = first_label() + k;
}

std::vector<Run> Labeling::runs() const {
    std::vector<Run> runs;
    if (!state_) return runs;
    const engine::RunStore& store = state_->store;
    runs.reserve(store.runs());
    const std::uint64_t base = first_label() - 1;
    for (std::int64_t r = 0; r < store.rows(); ++r) {
        for (std::uint32_t i = store.first_run(r); i < store.end_run(r); ++i) {
            const std::uint32_t k = store.labels[i];
            runs.push_back(
                {r, store.bounds[2 * i], store.bounds[2 * i + 1] - 1, k == 0 ? 0 : base + k});
        }
    }
    return runs;
}

void merge(Region& into, const Region& part) {
    if (part.area == 0) return;
    if (into.area == 0) {
        const std::uint64_t label = into.label != 0 ? into.label : part.label;
        into = part;
        into.label = label;
        return;
    }
    into.area += part.area;
    into.sum_x += part.sum_x;
    into.sum_y += part.sum_y;
    into.left = std::min(into.left, part.left);
    into.top = std::min(into.top, part.top);
    into.right = std::max(into.right, part.right);
    into.bottom = std::max(into.bottom, part.bottom);
}

}  // namespace runlabel
