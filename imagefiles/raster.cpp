// The two doors of raster.h: open_raster recognises an input by its first
// bytes and hands it to that format's reader; create_writer picks the writer
// of an output format and ties its failures to the output file.
#include <strings.h>

#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "imagefiles/formats.h"
#include "support/file_mapping.h"
#include "support/output_file.h"
#include "support/raster_size.h"

namespace {

bool starts_with(const uint8_t* bytes, std::size_t size, std::string_view signature) {
    return size >= signature.size() && std::memcmp(bytes, signature.data(), signature.size()) == 0;
}

bool ends_with_ignoring_case(std::string_view name, std::string_view suffix) {
    return name.size() >= suffix.size() && strncasecmp(name.data() + name.size() - suffix.size(),
                                                       suffix.data(), suffix.size()) == 0;
}

// A failure of the writer marks the output failed, so that its commit
// discards the partial file instead of putting it in place.
class OutputFileWriter : public RasterWriter {
  public:
    OutputFileWriter(std::unique_ptr<RasterWriter> writer, OutputFile& out)
        : writer_(std::move(writer)), out_(out) {}

    void write_rows(const uint8_t* rows, int64_t n) override {
        try {
            writer_->write_rows(rows, n);
        } catch (...) {
            out_.fail();
            throw;
        }
    }

    void finish() override {
        try {
            writer_->finish();
        } catch (...) {
            out_.fail();
            throw;
        }
    }

  private:
    std::unique_ptr<RasterWriter> writer_;
    OutputFile& out_;
};

// Whether the first token is "P5", as the classic reader takes it: after any
// whitespace, and ended by whitespace, a comment or the end of what was peeked.
bool is_raw_greymap(const uint8_t* bytes, std::size_t size) {
    const auto space = [](uint8_t ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); };
    std::size_t at = 0;
    while (at < size && space(bytes[at])) ++at;
    if (size - at < 2 || bytes[at] != 'P' || bytes[at + 1] != '5') return false;
    return at + 2 == size || space(bytes[at + 2]) || bytes[at + 2] == '#';
}

}  // namespace

MappedRows::MappedRows() = default;
MappedRows::MappedRows(std::unique_ptr<FileMapping> mapping, int64_t rows)
    : mapping_(std::move(mapping)), rows_(rows) {}
MappedRows::MappedRows(MappedRows&& other) noexcept = default;
MappedRows& MappedRows::operator=(MappedRows&& other) noexcept = default;
MappedRows::~MappedRows() = default;

const uint8_t* MappedRows::data() const { return mapping_ ? mapping_->data() : nullptr; }

void MappedRows::check_intact() const {
    if (mapping_ && !mapping_->intact())
        throw ImageError(ImageError::Kind::kTruncated, "Input file is truncated.");
}

MappedRows RasterReader::map_rows(int64_t) { return {}; }

void check_labelable(const RasterInfo& info) {
    if (info.width > kMostColumns)
        throw ImageError(ImageError::Kind::kUnsupported, "Input file is wider than " +
                                                             std::to_string(kMostColumns) +
                                                             " pixels, more than can be labelled.");
    if (info.height > kMostRows)
        throw ImageError(ImageError::Kind::kUnsupported, "Input file is taller than " +
                                                             std::to_string(kMostRows) +
                                                             " rows, more than can be labelled.");
}

std::size_t bytes_of_rows(const RasterInfo& info, int64_t rows) {
    std::size_t bytes = 0;
    if (!raster_bytes(info.width, rows, info.channels, sample_bits(info.sample), &bytes))
        throw std::bad_alloc();
    return bytes;
}

MappedRows map_stored_rows(const InputStream& input, const RasterInfo& info, int64_t n) {
    std::FILE* file = input.file();
    const long at = std::ftell(file);
    const std::size_t bytes = bytes_of_rows(info, n);
    if (at < 0 || bytes > static_cast<std::size_t>(LONG_MAX)) return {};
    std::unique_ptr<FileMapping> mapping =
        FileMapping::map(fileno(file), static_cast<uint64_t>(at), bytes, true);
    // The stream goes on after these rows, for a read_rows that follows.
    if (!mapping || std::fseek(file, static_cast<long>(bytes), SEEK_CUR) != 0) return {};
    return MappedRows(std::move(mapping), n);
}

std::unique_ptr<RasterReader> open_raster(const char* path, const ReadOptions& options) {
    uint8_t signature[kSignatureBytes];
    std::size_t size = 0;
    InputStream input = open_input(path, signature, &size);
    return open_peeked_raster(std::move(input), signature, size, options);
}

std::unique_ptr<RasterReader> open_plain_raster(const char* path, bool* greymap) {
    uint8_t signature[kSignatureBytes];
    std::size_t size = 0;
    InputStream input = open_input(path, signature, &size);
    *greymap = is_raw_greymap(signature, size);
    if (*greymap) return open_greymap_stream(std::move(input));
    return open_peeked_raster(std::move(input), signature, size, ReadOptions{});
}

std::unique_ptr<RasterReader> open_peeked_raster(InputStream input, const uint8_t* signature,
                                                 std::size_t size, const ReadOptions& options) {
    if (starts_with(signature, size, "\x89PNG\r\n\x1a\n"))
        return open_png_raster(std::move(input), options);
    // Classic TIFF and BigTIFF, either byte order.
    if (starts_with(signature, size, std::string_view("II*\0", 4)) ||
        starts_with(signature, size, std::string_view("MM\0*", 4)) ||
        starts_with(signature, size, std::string_view("II+\0", 4)) ||
        starts_with(signature, size, std::string_view("MM\0+", 4))) {
        if (!input.seekable()) input = spool_to_temporary(std::move(input));
        return open_tiff_raster(std::move(input), options);
    }
    if (starts_with(signature, size, "\x93NUMPY"))
        return open_npy_raster(std::move(input), options);
    return open_netpbm_raster(std::move(input), options);
}

OutputFormat format_for_name(const char* name) {
    const std::string_view n(name);
    if (ends_with_ignoring_case(n, ".png")) return OutputFormat::kPng;
    if (ends_with_ignoring_case(n, ".tif") || ends_with_ignoring_case(n, ".tiff"))
        return OutputFormat::kTiff;
    if (ends_with_ignoring_case(n, ".npy")) return OutputFormat::kNpy;
    if (ends_with_ignoring_case(n, ".pam")) return OutputFormat::kPam;
    if (ends_with_ignoring_case(n, ".ppm")) return OutputFormat::kPpm;
    return OutputFormat::kPgm;
}

std::string unwritten_image_extension(const char* name) {
    // Formats a user may well ask for by name; a name of none of them (out.lab,
    // out.raw) is a greymap as it always was.
    static constexpr const char* kUnwritten[] = {
        ".jpg", ".jpeg", ".jpe",  ".jfif", ".jp2",  ".j2k",  ".jpf", ".jpx", ".jxl", ".gif",
        ".bmp", ".dib",  ".webp", ".heic", ".heif", ".avif", ".ico", ".cur", ".tga", ".psd",
        ".xcf", ".exr",  ".hdr",  ".pcx",  ".xpm",  ".xbm",  ".xwd", ".sgi", ".ras", ".dds",
        ".svg", ".eps",  ".pdf",  ".fits", ".fts",  ".dcm",  ".pbm", ".pfm", ".qoi", ".mng",
    };
    const std::string_view n(name);
    for (const char* extension : kUnwritten) {
        if (ends_with_ignoring_case(n, extension))
            return std::string(n.substr(n.size() - std::strlen(extension)));
    }
    return "";
}

std::unique_ptr<RasterWriter> create_stream_writer(OutputFormat format, std::FILE* out,
                                                   bool seekable, const RasterLayout& layout) {
    switch (format) {
        case OutputFormat::kPgm:
            if (layout.channels == 3)
                throw ImageError(
                    ImageError::Kind::kUnsupported,
                    "A greymap holds one channel; name the output .ppm, .png or .tif.");
            return make_netpbm_writer(out, "P5", layout);
        case OutputFormat::kPpm:
            if (layout.channels != 3)
                throw ImageError(ImageError::Kind::kUnsupported,
                                 "A pixmap holds three channels; name the output .pgm or .pam.");
            return make_netpbm_writer(out, "P6", layout);
        case OutputFormat::kPam:
            return make_pam_writer(out, layout);
        case OutputFormat::kPng:
            return make_png_writer(out, layout);
        case OutputFormat::kTiff:
            return make_tiff_writer(out, seekable, layout);
        case OutputFormat::kNpy:
            return make_npy_writer(out, layout);
    }
    throw ImageError(ImageError::Kind::kUnsupported, "Output format is not known.");
}

std::unique_ptr<RasterWriter> create_writer(OutputFormat format, OutputFile& out,
                                            const RasterLayout& layout) {
    return std::make_unique<OutputFileWriter>(
        create_stream_writer(format, out.stream(), out.seekable(), layout), out);
}
