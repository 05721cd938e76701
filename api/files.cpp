// Image files through the public API: the command line's readers and writers,
// with their failures as runlabel::error.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/sample_types.h"
#include "api/views.h"
#include "imagefiles/output_formats.h"
#include "support/output_file.h"
#include "support/raster_size.h"

namespace runlabel {
namespace {

constexpr std::size_t kBandBytes = std::size_t(4) << 20;

// A reader's or writer's failure as the caller sees it: the system's own
// reason for a file it refused, else the reader's message.
[[noreturn]] void rethrow(const ImageError& e, const std::string& path) {
    if (e.code() != 0) throw file_error(path + ": " + std::strerror(e.code()), e.code());
    throw error(e.what());
}

// The label widths format holds, as a message says them: "8- or 16-bit".
std::string widths_of(const OutputFormat& format) {
    std::vector<std::string> widths;
    for (int bits = 8; bits <= 64; bits *= 2)
        if (holds_label_bits(format, bits)) widths.push_back(std::to_string(bits) + "-");
    if (widths.empty()) return "no";
    widths.back() += "bit";
    return join_words(widths, "or");
}

// The largest label in a checked view, as its bits read unsigned.
uint64_t largest_in(const LabelView& view) {
    const std::size_t size = detail::label_size(view.type);
    uint64_t largest = 0;
    for (std::int64_t r = 0; r < view.height; ++r) {
        const auto* row = static_cast<const std::byte*>(view.data) + r * view.row_stride;
        for (std::int64_t c = 0; c < view.width; ++c) {
            uint64_t value = 0;
            std::memcpy(&value, row + c * view.column_stride, size);  // little-endian machine
            if (value > largest) largest = value;
        }
    }
    return largest;
}

}  // namespace

Image read_image(const std::string& path) {
    try {
        ReadOptions options;
        options.keep_alpha = true;  // the samples as stored
        const std::unique_ptr<RasterReader> reader = open_raster(path.c_str(), options);
        const RasterInfo& info = reader->info();
        Image image;
        image.width = info.width;
        image.height = info.height;
        image.channels = info.channels;
        // Bitmaps come packed; they are spread to a byte a pixel.
        const bool bitmap = info.sample == SampleType::kBit;
        image.type = bitmap ? PixelType::boolean : pixel_type_of_sample(info.sample);
        const int bits = bitmap ? 8 : sample_bits(info.sample);
        std::size_t total = 0, row = 0;
        if (!raster_bytes(info.width, info.height, info.channels, bits, &total) ||
            !raster_bytes(info.width, 1, info.channels, bits, &row))
            throw error("Input file is larger than memory can hold.");
        const std::size_t delivered = reader->row_bytes();
        const int64_t band_rows = std::max<int64_t>(
            1, static_cast<int64_t>(kBandBytes / std::max<std::size_t>(delivered, 1)));
        std::vector<uint8_t> band;
        // The image grows as its rows arrive, never ahead of them by more
        // than it holds already: a header's sizes alone take no memory.
        for (int64_t done = 0; done < info.height;) {
            const int64_t want = std::min(band_rows, info.height - done);
            const std::size_t at = image.data.size();
            const std::size_t needed = at + row * static_cast<std::size_t>(want);
            if (needed > image.data.capacity())
                image.data.reserve(std::min(total, std::max(needed, 2 * image.data.capacity())));
            int64_t got = 0;
            if (!bitmap) {
                image.data.resize(needed);
                got = reader->read_rows(image.data.data() + at, want);
            } else {
                band.resize(delivered * static_cast<std::size_t>(want));
                got = reader->read_rows(band.data(), want);
                image.data.resize(at + row * static_cast<std::size_t>(got));
                for (int64_t r = 0; r < got; ++r) {
                    unsigned char* out = image.data.data() + at + static_cast<std::size_t>(r) * row;
                    const uint8_t* packed = band.data() + static_cast<std::size_t>(r) * delivered;
                    for (int64_t c = 0; c < info.width; ++c)
                        out[c] = (packed[c >> 3] >> (7 - (c & 7))) & 1;
                }
            }
            if (got <= 0) throw error("Input file is truncated.");
            image.data.resize(at + row * static_cast<std::size_t>(got));
            done += got;
        }
        return image;
    } catch (const ImageError& e) {
        rethrow(e, path);
    }
}

void write_labels(const std::string& path, const LabelView& labels) {
    const LabelView view = detail::checked(labels);
    const std::string unwritten = path == "-" ? "" : unwritten_image_extension(path.c_str());
    if (!unwritten.empty()) {
        throw error(path + ": " + unwritten + " is not written; name it " +
                    suffixes_holding(Content::kLabels));
    }
    // A name of a format is that format, whatever it holds: a pixmap then
    // refuses the labels.
    const OutputFormat& format = format_for_name(path);
    const std::size_t size = detail::label_size(view.type);
    const int bits = bits_of_label_type(view.type);
    if (format.labels && format.otherwise && !holds_label_bits(format, bits)) {
        throw error(std::string("A ") + format.called + " holds " + widths_of(format) +
                    " labels; write these to " + formats_holding_label_bits(bits) + ".");
    }
    RasterLayout layout;
    layout.width = view.width;
    layout.height = view.height;
    layout.sample = sample_of_label_type(view.type);
    layout.comment = path;
    // Only a maxval of the largest label needs the labels scanned for it.
    const bool largest = format.maxval == Maxval::kLargestLabel;
    layout.maxval = label_maxval(format, largest ? largest_in(view) : 0, bits);
    try {
        std::unique_ptr<OutputFile> file;
        std::unique_ptr<RasterWriter> writer;
        if (path == "-") {
            writer = create_stream_writer(format, stdout, false, layout);
        } else {
            errno = 0;
            file = OutputFile::open(path.c_str());
            if (!file) {
                if (errno == 0) throw error("Output file open failed");
                throw file_error(path + ": " + std::strerror(errno), errno);
            }
            writer = create_writer(format, *file, layout);
        }
        // Rows go out one at a time, gathered when their labels are not packed.
        const bool packed = view.column_stride == static_cast<std::ptrdiff_t>(size);
        std::vector<unsigned char> row(packed ? 0 : static_cast<std::size_t>(view.width) * size);
        for (std::int64_t r = 0; r < view.height; ++r) {
            const auto* from = static_cast<const std::byte*>(view.data) + r * view.row_stride;
            if (!packed) {
                for (std::int64_t c = 0; c < view.width; ++c) {
                    std::memcpy(row.data() + c * size, from + c * view.column_stride, size);
                }
                from = reinterpret_cast<const std::byte*>(row.data());
            }
            writer->write_rows(reinterpret_cast<const uint8_t*>(from), 1);
        }
        writer->finish();
        writer.reset();
        if (file && !file->commit()) throw error("Output file write failed");
        if (!file && std::fflush(stdout) != 0) throw error("Output file write failed");
    } catch (const ImageError& e) {
        rethrow(e, path);
    }
}

}  // namespace runlabel
