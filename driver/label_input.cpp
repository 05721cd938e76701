// The input, read and labelled a band of rows at a time. A band is about a
// few megabytes of samples, so memory holds the runs and little else; a pixel
// of several channels is foreground when any of them is non-zero, which the
// band's channels are folded into first.
#include "driver/label_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "api/sample_types.h"
#include "driver/band_buffer.h"
#include "driver/input_watch.h"
#include "support/workers.h"

namespace {

constexpr std::size_t kBandBytes = std::size_t(16) << 20;

// Folds the channels of each pixel into one sample, any bit set in any of
// them set in it, in place: rows of width pixels of `channels` samples become
// rows of width samples, packed one after another.
template <typename Sample>
void fold_channels(uint8_t* band, int64_t rows, int64_t width, int channels) {
    auto* samples = reinterpret_cast<Sample*>(band);
    const std::size_t pixels = static_cast<std::size_t>(rows * width);
    for (std::size_t p = 0; p < pixels; ++p) {
        Sample any = 0;
        for (int k = 0; k < channels; ++k) any |= samples[p * channels + k];
        samples[p] = any;
    }
}

void fold(uint8_t* band, int64_t rows, const RasterInfo& info) {
    switch (info.sample) {
        case SampleType::kU8:
            return fold_channels<uint8_t>(band, rows, info.width, info.channels);
        case SampleType::kU16:
            return fold_channels<uint16_t>(band, rows, info.width, info.channels);
        case SampleType::kU32:
            return fold_channels<uint32_t>(band, rows, info.width, info.channels);
        case SampleType::kU64:
            return fold_channels<uint64_t>(band, rows, info.width, info.channels);
        case SampleType::kBit:
            return;  // bitmaps have one channel
    }
}

// A band of rows: mapped from the file, or read into a buffer.
struct Band {
    MappedRows mapped;
    const uint8_t* data = nullptr;
    int64_t rows = 0;
};

}  // namespace

OpenedInput::OpenedInput() = default;
OpenedInput::OpenedInput(OpenedInput&&) noexcept = default;
OpenedInput& OpenedInput::operator=(OpenedInput&&) noexcept = default;
OpenedInput::~OpenedInput() = default;

OpenedInput open_labelled_input(const Options& options, bool* classic) {
    OpenedInput opened;
    opened.watch = std::make_unique<InputWatch>(options.input);
    *classic = options.plain && classic_output_name(options.output);
    try {
        if (*classic) {
            opened.reader = open_plain_raster(options.input.c_str(), classic);
        } else {
            opened.reader = open_raster(options.input.c_str());
        }
    } catch (const ImageError& e) {
        // A directory is no greymap, so its failure is told in the tool's voice.
        if (e.code() == EISDIR) *classic = false;
        throw;
    }
    return opened;
}

LabelledInput label_input(const Options& options, OpenedInput input,
                          void (*rows_read)(int64_t rows, int64_t of), std::time_t* read_done) {
    const InputWatch& watch = *input.watch;
    const std::unique_ptr<RasterReader> reader = std::move(input.reader);
    LabelledInput result;
    result.info = reader->info();
    const RasterInfo& info = result.info;

    runlabel::Options labeling;
    labeling.connectivity = options.connectivity;
    labeling.min_area = options.min_area;
    labeling.numbering =
        options.sort_by_area ? runlabel::Numbering::area : runlabel::Numbering::raster;
    labeling.threads = options.threads;
    labeling.wrap = true;  // the widths are checked where the labels are written
    runlabel::Labeler labeler(info.width, labeling);

    const std::size_t row_bytes = std::max<std::size_t>(reader->row_bytes(), 1);
    const int64_t band_rows = std::max<int64_t>(1, static_cast<int64_t>(kBandBytes / row_bytes));
    const auto band_size =
        static_cast<std::size_t>(std::min<int64_t>(band_rows, std::max<int64_t>(info.height, 1))) *
        row_bytes;
    const int64_t capacity = static_cast<int64_t>(band_size / row_bytes);
    // A band lies in place in the file where it can: page-cache pages cost
    // neither a copy nor fresh memory for the kernel to clear. Otherwise it is
    // read into one of two buffers, made when first needed.
    std::unique_ptr<BandBuffer> buffers[2];
    auto next_band = [&](int slot) {
        Band band;
        if (info.channels == 1) band.mapped = reader->map_rows(capacity);
        if (band.mapped.data() != nullptr) {
            band.rows = band.mapped.rows();
            band.data = band.mapped.data();
            return band;
        }
        if (!buffers[slot]) buffers[slot] = std::make_unique<BandBuffer>(band_size);
        band.data = buffers[slot]->data();
        band.rows = reader->read_rows(buffers[slot]->data(), capacity);
        return band;
    };
    // While one band is labelled, the next is read beside it, so that
    // reading the file costs little time of its own. A labelling failure is
    // the one told, as it comes first in the file.
    Band band = next_band(0);
    for (int current = 0; band.rows > 0; current ^= 1) {
        Band next;
        std::exception_ptr failure[2];
        const bool more = labeler.rows() + band.rows < info.height;
        run_on_workers(more ? 2 : 1, 2, [&](int task) {
            try {
                if (task == 1) {
                    next = next_band(current ^ 1);
                    return;
                }
                // Only bands read into a buffer have several channels (see next_band).
                if (info.channels > 1) fold(buffers[current]->data(), band.rows, info);
                // Rows as the reader delivers them, or folded, are packed either way.
                labeler.add_rows(
                    {band.data, pixel_type_of_sample(info.sample), info.width, band.rows, 0, 0});
                band.mapped.check_intact();
            } catch (...) {
                failure[task] = std::current_exception();
            }
        });
        for (const std::exception_ptr& f : failure) {
            if (f) std::rethrow_exception(f);
        }
        if (rows_read != nullptr) rows_read(labeler.rows(), info.height);
        band = std::move(next);
    }
    // Rows read in place from a file written meanwhile are of two images.
    if (watch.changed())
        throw ImageError(ImageError::Kind::kInvalid, "Input file has changed while it was read.");
    *read_done = std::time(nullptr);
    result.labeling = labeler.finish();
    return result;
}
