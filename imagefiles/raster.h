// Image files a band of rows at a time: one small reader interface that every
// input format sits behind (recognised by content, not by name), and one
// writer interface for every label and colour output. Neither holds a whole
// raster, so images larger than memory stream through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

class FileMapping;
class OutputFile;

// How a row's samples are laid out in the buffers these interfaces fill or take.
//   kBit: one bit per pixel, most significant bit first, rows padded to whole
//         bytes (PBM's own layout) with zero padding bits; the bit as stored,
//         so a set bit is foreground.
//   kU8, kU16, kU32, kU64: unsigned samples in the machine's byte order.
// A pixel has `channels` consecutive samples; alpha is among them only when
// kept (ReadOptions::keep_alpha), as the last.
enum class SampleType : uint8_t { kBit, kU8, kU16, kU32, kU64 };

// Bytes of one row of width pixels (raster_bytes's count); SIZE_MAX when no
// buffer could hold it.
std::size_t row_bytes(SampleType sample, int channels, int64_t width);

// Bytes of one sample (0 for kBit).
int sample_bytes(SampleType sample);

// Bits of one sample (1 for kBit).
int sample_bits(SampleType sample);

// The unsigned sample of bits (8, 16, 32 or 64; any other is 64 bits).
SampleType sample_of_bits(int bits);

struct RasterInfo {
    int64_t width = 0;
    int64_t height = 0;
    SampleType sample = SampleType::kU8;
    int channels = 1;
    // The header's maxval for a Netpbm input (a "P5" greymap's is carried into
    // the bare command line's output header; 1 for a bitmap); otherwise the
    // largest value a sample can hold (2^bits - 1).
    int64_t maxval = 255;
    const char* format = "";  // "PGM", "PBM", "PPM", "PAM", "PNG", "TIFF", "NPY"
    char netpbm_magic = 0;    // '1' .. '7' for a Netpbm input, else 0
    bool alpha = false;       // the last of the channels is alpha (only with keep_alpha)
};

// How open_raster reads what it recognises.
struct ReadOptions {
    // A P5 holds one byte per sample whatever its maxval, as the classic
    // command has always read it.
    bool classic_greymap = false;
    // Alpha samples are delivered too, as the last channel (RasterInfo::alpha).
    bool keep_alpha = false;
};

// Why an image cannot be read or written. The message is one line in the
// style of the readers' own ("Input file is truncated."), without a newline.
class ImageError : public std::runtime_error {
  public:
    enum class Kind {
        kNotFound,     // the input cannot be opened
        kNotImage,     // no format recognises it
        kInvalid,      // a recognised format, badly formed
        kTruncated,    // the raster ends early
        kUnsupported,  // well formed, but a variant not read (e.g. float TIFF)
        kOutput,       // an output could not be opened or written
    };
    ImageError(Kind kind, const std::string& message, int code = 0)
        : std::runtime_error(message), kind_(kind), code_(code) {}
    Kind kind() const { return kind_; }
    // The errno value when the system refused the file (kNotFound, kOutput), else 0.
    int code() const { return code_; }

  private:
    Kind kind_;
    int code_;
};

// Rows read in place from a mapping of the input file (see
// RasterReader::map_rows), valid while this lives. Move-only.
class MappedRows {
  public:
    MappedRows();
    MappedRows(std::unique_ptr<FileMapping> mapping, int64_t rows);
    MappedRows(MappedRows&& other) noexcept;
    MappedRows& operator=(MappedRows&& other) noexcept;
    ~MappedRows();

    // nullptr when nothing is mapped.
    const uint8_t* data() const;
    int64_t rows() const { return rows_; }

    // Throws ImageError(kTruncated, "Input file is truncated.") when the file
    // was cut short under the mapping, so that some rows read as zeros: for
    // once the rows have been used.
    void check_intact() const;

  private:
    std::unique_ptr<FileMapping> mapping_;
    int64_t rows_ = 0;
};

class RasterReader {
  public:
    virtual ~RasterReader() = default;
    const RasterInfo& info() const { return info_; }

    // Reads the next rows, at most max_rows, into out (row_bytes() each, one
    // after another) and returns how many were read: fewer than max_rows only
    // at the end of the image, 0 after it. Throws ImageError (kInvalid,
    // kTruncated) on a bad raster and std::bad_alloc when memory runs out;
    // never reads or writes past its buffers.
    virtual int64_t read_rows(uint8_t* out, int64_t max_rows) = 0;

    // The next rows as read_rows would deliver them, at most max_rows, where
    // they lie in the input file, mapped read-only: no copy and no fresh
    // memory. Nothing (data() nullptr, no rows taken) when they cannot be had
    // so: an input that is no regular file, rows that need converting, a
    // program without guard_file_mappings, a file shorter than its header
    // says, a refusal of the kernel's; read_rows then goes on. The two may be
    // mixed.
    virtual MappedRows map_rows(int64_t max_rows);

    std::size_t row_bytes() const { return ::row_bytes(info_.sample, info_.channels, info_.width); }

  protected:
    RasterInfo info_;
};

// Opens path ("-" is standard input) and reads its header. The format is
// recognised by its first bytes: Netpbm P1 to P7, PNG, TIFF, NumPy's .npy. A
// stream that cannot seek (a pipe) is read as it comes; a TIFF, or an .npy in
// Fortran order, on one is first copied to an anonymous temporary file. Throws ImageError
// (kNotFound, kNotImage, kInvalid, kTruncated, kUnsupported).
std::unique_ptr<RasterReader> open_raster(const char* path, const ReadOptions& options = {});

// The classic door: a raw greymap ("P5") alone, refused otherwise with the
// messages read_pgm gives ("Input file is not a PGM raw image.", "Input file
// has an invalid PGM header.", "Input file is truncated."), as ImageError
// (kNotImage, kInvalid, kTruncated; kNotFound when it cannot be opened).
std::unique_ptr<RasterReader> open_greymap_raster(const char* path);

// The door of the command given no option: an input whose first token is "P5"
// goes through open_greymap_raster's reading and messages, and *greymap is
// set; any other input through open_raster, *greymap cleared. Opened once, so
// standard input serves too. *greymap is left alone only when the input
// cannot be opened (kNotFound).
std::unique_ptr<RasterReader> open_plain_raster(const char* path, bool* greymap);

struct RasterLayout {
    int64_t width = 0;
    int64_t height = 0;
    SampleType sample = SampleType::kU8;  // kU8 .. kU64; kBit is not written
    int channels = 1;                     // 1 (labels) or 3 (a colour view)
    int32_t maxval = 255;                 // P5, P6, PAM headers
    std::string comment;                  // P5/P6: the "# " line (the output name)
};

// A writer of one output; output_formats.h makes them, a format's own for each.
class RasterWriter {
  public:
    virtual ~RasterWriter() = default;
    // Writes the next n rows (as RasterLayout says, row_bytes each, one after
    // another). Throws ImageError(kOutput) when the output cannot take them or
    // when more rows arrive than the layout's height.
    virtual void write_rows(const uint8_t* rows, int64_t n) = 0;
    // After the last row: trailers, directories, checksums. Throws
    // ImageError(kOutput) when rows are missing or a write failed. The caller
    // then commits the OutputFile.
    virtual void finish() = 0;
};
