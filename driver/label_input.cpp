// The input, read and labelled a band of rows at a time. A band is about a
// few megabytes of samples, so memory holds the runs and little else; a pixel
// of several channels is foreground when any of them is non-zero, which the
// band's channels are folded into first.
#include "driver/label_input.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "driver/band_buffer.h"

namespace {

constexpr std::size_t kBandBytes = std::size_t(16) << 20;

runlabel::PixelType pixel_type(SampleType sample) {
    switch (sample) {
        case SampleType::kBit:
            return runlabel::PixelType::bits;
        case SampleType::kU8:
            return runlabel::PixelType::u8;
        case SampleType::kU16:
            return runlabel::PixelType::u16;
        case SampleType::kU32:
            return runlabel::PixelType::u32;
        case SampleType::kU64:
            return runlabel::PixelType::u64;
    }
    return runlabel::PixelType::u8;
}

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

}  // namespace

LabelledInput label_input(const Options& options, void (*rows_read)(int64_t rows, int64_t of),
                          std::time_t* read_done) {
    // The classic form reads raw greymaps alone, as it always has; the other
    // formats come with the options.
    const std::unique_ptr<RasterReader> reader = options.plain
                                                     ? open_greymap_raster(options.input.c_str())
                                                     : open_raster(options.input.c_str());
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
    // Two bands: while one is labelled, the next is read, by a thread of its
    // own, so that reading the file costs little time of its own.
    const BandBuffer bands[2] = {BandBuffer(band_size),
                                 BandBuffer(info.height > capacity ? band_size : 0)};
    int64_t rows = reader->read_rows(bands[0].data(), capacity);
    for (int current = 0; rows > 0; current ^= 1) {
        int64_t next_rows = 0;
        std::exception_ptr failure;
        std::thread next;
        if (labeler.rows() + rows < info.height) {
            next = std::thread([&, into = bands[current ^ 1].data()] {
                try {
                    next_rows = reader->read_rows(into, capacity);
                } catch (...) {
                    failure = std::current_exception();
                }
            });
        }
        uint8_t* band = bands[current].data();
        try {
            if (info.channels > 1) fold(band, rows, info);
            // Rows as the reader delivers them, or folded, are packed either way.
            labeler.add_rows({band, pixel_type(info.sample), info.width, rows, 0, 0});
        } catch (...) {
            if (next.joinable()) next.join();
            throw;
        }
        if (next.joinable()) next.join();
        if (failure) std::rethrow_exception(failure);
        if (rows_read != nullptr) rows_read(labeler.rows(), info.height);
        rows = next_rows;
    }
    *read_done = std::time(nullptr);
    result.labeling = labeler.finish();
    return result;
}
