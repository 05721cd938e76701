// Internal to imagefiles: the readers of each format, which raster.cpp picks
// between, and what the writers share; each writer's file defines its row of
// the output format table.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "imagefiles/input_stream.h"
#include "imagefiles/netpbm_header.h"
#include "imagefiles/output_formats.h"
#include "imagefiles/raster.h"

// Readers of an input positioned at its first byte, reading as options say.
// Each throws ImageError with its own format's messages.
std::unique_ptr<RasterReader> open_netpbm_raster(InputStream input, const ReadOptions& options);
std::unique_ptr<RasterReader> open_png_raster(InputStream input, const ReadOptions& options);
std::unique_ptr<RasterReader> open_tiff_raster(InputStream input, const ReadOptions& options);
std::unique_ptr<RasterReader> open_npy_raster(InputStream input, const ReadOptions& options);

// Refuses from its header a raster that can never be labelled, wider than
// kMostColumns or taller than kMostRows, as ImageError(kUnsupported). Every
// reader behind open_raster asks before it takes memory for rows.
void check_labelable(const RasterInfo& info);

// Bytes of `rows` rows of the raster info describes, through raster_bytes;
// throws std::bad_alloc when no buffer could hold them.
std::size_t bytes_of_rows(const RasterInfo& info, int64_t rows);

// The next n rows of a raster stored as read_rows delivers it, mapped from a
// seekable input at its position, which moves past them; nothing (and the
// position kept) when they cannot be mapped.
MappedRows map_stored_rows(const InputStream& input, const RasterInfo& info, int64_t n);
// open_raster's reader of an input whose first bytes open_input peeked.
std::unique_ptr<RasterReader> open_peeked_raster(InputStream input, const uint8_t* signature,
                                                 std::size_t size, const ReadOptions& options);
// The classic door's reader (see open_greymap_raster) of an opened input.
std::unique_ptr<RasterReader> open_greymap_stream(InputStream input);

// The raster of a Netpbm file whose header has been read; input is left at
// the first raster byte. classic: a P5 or P6 holds one byte per sample
// whatever its maxval (see netpbm_sample_bits); keep_alpha: ReadOptions's.
std::unique_ptr<RasterReader> make_netpbm_reader(InputStream input, const NetpbmHeader& header,
                                                 bool classic, bool keep_alpha = false);

// The raw greymap's or pixmap's writer (magic "P5" or "P6") on a stream the
// caller owns, for the record functions of imagefiles.h too. Checks the
// layout first and throws ImageError(kUnsupported) before writing anything
// when the format cannot hold it. The other writers are reached through their
// rows of the output format table (output_formats.h).
std::unique_ptr<RasterWriter> make_netpbm_writer(std::FILE* out, const char* magic,
                                                 const RasterLayout& layout);

// The one message of a failed write; a writer throws it as ImageError(kOutput).
inline constexpr const char* kWriteFailed = "Output file write failed";
[[noreturn]] void throw_write_failed();

// Row counting shared by the writers: more rows than the layout, or fewer at
// the end, is a failed write rather than a file whose header lies.
class CountedWriter : public RasterWriter {
  protected:
    explicit CountedWriter(int64_t height) : height_(height) {}
    void count(int64_t n) {
        if (n < 0 || n > height_ - written_) throw_write_failed();
        written_ += n;
    }
    void check_complete() const {
        if (written_ != height_) throw_write_failed();
    }

  private:
    int64_t height_;
    int64_t written_ = 0;
};

// A header, then raw rows: the header goes out with the first rows (or at
// finish, for an image of none), so that a layout refused before then has
// written nothing.
class HeaderedWriter : public CountedWriter {
  public:
    void finish() override {
        start();
        check_complete();
        if (std::ferror(out_)) throw_write_failed();
    }

  protected:
    HeaderedWriter(std::FILE* out, int64_t height, std::string header)
        : CountedWriter(height), out_(out), header_(std::move(header)) {}

    // Starts the file, then counts n rows in.
    void begin_rows(int64_t n) {
        start();
        count(n);
    }

    // Writes bytes, or throws the failed write.
    void put(const void* bytes, std::size_t size) {
        if (size > 0 && std::fwrite(bytes, 1, size, out_) != size) throw_write_failed();
    }

  private:
    void start() {
        if (started_) return;
        started_ = true;
        put(header_.data(), header_.size());
    }

    std::FILE* out_;
    std::string header_;
    bool started_ = false;
};
