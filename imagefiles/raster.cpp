// The reading door of raster.h: open_raster recognises an input by its first
// bytes and hands it to that format's reader.
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "imagefiles/formats.h"
#include "support/file_mapping.h"
#include "support/raster_size.h"

namespace {

bool starts_with(const uint8_t* bytes, std::size_t size, std::string_view signature) {
    return size >= signature.size() && std::memcmp(bytes, signature.data(), signature.size()) == 0;
}

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
