// What a finished labeling offers: painting at any label width, statistics
// and the runs, all read from the numbered runs of its bands.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "api/state.h"
#include "api/views.h"
#include "support/support.h"
#include "support/workers.h"

namespace runlabel {

const engine::Band& Labeling::State::band_of(std::int64_t row) const {
    // Bands are few; the last whose first row is not below row.
    std::size_t b = bands.size() - 1;
    while (b > 0 && bands[b].first_row > row) --b;
    return bands[b];
}

Labeling::Labeling() = default;
Labeling::Labeling(std::shared_ptr<const State> state) : state_(std::move(state)) {}

std::int64_t Labeling::width() const { return state_ ? state_->width : 0; }
std::int64_t Labeling::height() const { return state_ ? state_->height : 0; }
std::uint64_t Labeling::count() const { return state_ ? state_->count : 0; }
std::uint64_t Labeling::first_label() const { return state_ ? state_->first_label : 1; }
std::uint64_t Labeling::last_label() const { return first_label() - 1 + count(); }

std::uint64_t Labeling::run_count() const {
    std::uint64_t runs = 0;
    if (state_) {
        for (const engine::Band& band : state_->bands) runs += band.store.runs();
    }
    return runs;
}

LabelType Labeling::narrowest_label_type() const {
    const std::uint64_t last = last_label();
    if (last <= UINT8_MAX) return LabelType::u8;
    if (last <= UINT16_MAX) return LabelType::u16;
    if (last <= UINT32_MAX) return LabelType::u32;
    return LabelType::u64;
}

void Labeling::paint(const LabelView& out) const {
    const LabelView view = detail::checked(out);
    detail::check_same_size(view, width(), height());
    paint_from(view, 0, nullptr, 0);
}

void Labeling::paint(const LabelView& out, const ImageView& image) const {
    const ImageView pixels = detail::checked(image);
    if (pixels.width != width() || pixels.height != height()) {
        throw error("the image is " + std::to_string(pixels.width) + " x " +
                    std::to_string(pixels.height) + ", the labelled image " +
                    std::to_string(width()) + " x " + std::to_string(height()));
    }
    const LabelView view = detail::checked(out);
    detail::check_same_size(view, width(), height());
    paint_from(view, 0, &pixels, 0);
}

void Labeling::paint_rows(const LabelView& out, std::int64_t first_row) const {
    paint_from(out, first_row, nullptr, 0);
}

void Labeling::paint_rows(const LabelView& out, std::int64_t first_row, int threads) const {
    if (threads < 0) throw error("the thread count must not be negative");
    paint_from(out, first_row, nullptr, threads);
}

void Labeling::paint_from(const LabelView& out, std::int64_t first_row, const ImageView* image,
                          int threads) const {
    const LabelView view = detail::checked(out);
    if (view.width != width()) {
        throw error("the label rows are " + std::to_string(view.width) + " wide, the image " +
                    std::to_string(width()));
    }
    if (first_row < 0 || view.height > height() - first_row) {
        throw error("rows " + std::to_string(first_row) + " to " +
                    std::to_string(first_row + view.height - 1) + " are not all in the image");
    }
    if (view.height == 0 || width() == 0) return;
    if (!state_->wrap && count() > 0 && last_label() > detail::largest_label(view.type)) {
        throw error(std::to_string(count()) + " regions labelled " + std::to_string(first_label()) +
                    " to " + std::to_string(last_label()) + " do not fit " +
                    detail::label_type_name(view.type) + " labels");
    }
    // The image's pixels serve when they are packed rows (a checked view).
    const bool from_image = image != nullptr && detail::is_packed(*image);
    const engine::LabelKind kind = detail::label_kind(view.type);
    // Labels of more than the caches hold are streamed past them: written
    // through the caches, every line is first read in, to be written over.
    constexpr std::uint64_t kLargerThanCaches = std::uint64_t(32) << 20;
    const bool stream = static_cast<std::uint64_t>(view.height) *
                            static_cast<std::uint64_t>(width()) * detail::label_size(view.type) >=
                        kLargerThanCaches;
    // Band by band, each painting the rows it holds; rows enough for several
    // threads are cut into parts painted at once.
    auto paint_part = [&](std::int64_t from, std::int64_t to) {
        for (std::int64_t row = from; row < to;) {
            const engine::Band& band = state_->band_of(row);
            const std::int64_t local = row - band.first_row;
            const std::int64_t rows = std::min(band.store.rows() - local, to - row);
            auto* into = static_cast<std::byte*>(view.data) + (row - first_row) * view.row_stride;
            engine::SourceRows source{};
            if (from_image) {
                source = {
                    static_cast<const std::byte*>(image->data) + band.first_row * image->row_stride,
                    image->row_stride, detail::pixel_kind(image->type)};
            }
            engine::paint_rows(band.store, local, rows, first_label() - 1, kind, into,
                               view.row_stride, view.column_stride, from_image ? &source : nullptr,
                               stream);
            row += rows;
        }
    };
    const int parts = static_cast<int>(
        detail::threads_for(threads != 0 ? threads : state_->threads, view.height, width()));
    if (parts < 2) return paint_part(first_row, first_row + view.height);
    run_on_workers(parts, parts, [&](int k) {
        paint_part(first_row + view.height * k / parts, first_row + view.height * (k + 1) / parts);
    });
}

std::vector<Region> Labeling::regions() const {
    std::vector<Region> regions;
    fill_regions(regions);
    return regions;
}

void Labeling::fill_regions(std::vector<Region>& regions) const {
    const std::size_t n = count();
    if (regions.capacity() < n) {
        // Millions of regions are hundreds of megabytes touched once: in
        // huge pages, a fault per 2 MiB.
        std::vector<Region>().swap(regions);
        regions.reserve(n);
        advise_huge_pages(regions.data(), n * sizeof(Region));
    }
    regions.resize(n);
    this->regions(regions.data());
}

void Labeling::regions(Region* into) const {
    const std::size_t n = count();
    if (n == 0) return;
    std::uint64_t seen = 0;
    // In raster order each record is set whole by its region's first run.
    if (!state_->raster) {
        Region empty;
        engine::RegionStatistics::clear(empty);
        for (std::size_t k = 0; k < n; ++k) {
            into[k] = empty;
            into[k].label = first_label() + k;
        }
    }
    for (const engine::Band& band : state_->bands) {
        engine::sum_regions(band.store, band.first_row, into, first_label() - 1,
                            state_->raster ? &seen : nullptr);
    }
}

std::vector<Run> Labeling::runs() const {
    std::vector<Run> runs;
    if (!state_) return runs;
    runs.reserve(run_count());
    const std::uint64_t base = first_label() - 1;
    for (const engine::Band& band : state_->bands) {
        const engine::RunStore& store = band.store;
        engine::Buffer<std::int32_t> scratch;
        for (std::int64_t r = 0; r < store.rows(); ++r) {
            engine::RowView(store, r).for_each_run(
                scratch, [&](std::int32_t from, std::int32_t to, std::uint32_t k) {
                    runs.push_back({band.first_row + r, from, to - 1, k == 0 ? 0 : base + k});
                });
        }
    }
    return runs;
}

// Region is written out by hand for the public header's readers; a field it
// gains needs a statistic that keeps it, or sums, merges and tables miss it.
static_assert(engine::RegionStatistics::member_bytes<Region>() == sizeof(Region),
              "every field of Region belongs to a statistic in labeling/region_fields.h");

void merge(Region& into, const Region& part) {
    if (part.area == 0) return;
    if (into.area == 0) {
        const std::uint64_t label = into.label != 0 ? into.label : part.label;
        into = part;
        into.label = label;
        return;
    }
    engine::RegionStatistics::merge(into, part);
}

}  // namespace runlabel
