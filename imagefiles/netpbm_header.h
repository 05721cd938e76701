// Internal to imagefiles: the one Netpbm header reader and writer shared by
// every Netpbm format (plain and raw bitmaps, greymaps and pixmaps, and PAM),
// and the output-file discipline of the record writers.
#pragma once

#include <cstdint>
#include <cstdio>

struct NetpbmHeader {
    int32_t width;
    int32_t height;
    int32_t maxval;  // 1 for a bitmap
    char magic;      // the digit of "P1" .. "P7"
    int32_t depth;   // samples per pixel in the file
    bool alpha;      // PAM whose TUPLTYPE ends in _ALPHA: the last sample is alpha
};

// What tells a greymap from a pixmap: its magic and the name its messages use.
struct NetpbmFormat {
    const char* magic;
    const char* name;
};
inline constexpr NetpbmFormat kGreymap{"P5", "PGM"};
inline constexpr NetpbmFormat kPixmap{"P6", "PPM"};

enum class HeaderStatus { kOk, kWrongMagic, kInvalid };

// Reads a header from the start of file, leaving the stream at the raster.
// magic names the one format accepted ("P5"), or is nullptr for any of P1 to
// P7. Tokens may be separated by any whitespace and "#" comments; numbers are
// checked for overflow as they are read and sizes for range.
HeaderStatus read_netpbm_header(std::FILE* file, const char* magic, NetpbmHeader* header);

// The name a format's messages use: "PBM", "PGM", "PPM" or "PAM".
const char* netpbm_name(char magic);

// Bits of one sample in the file: 1 for a bitmap; 16 above maxval 255, as
// Netpbm defines it, unless classic asks for the one byte per sample whatever
// maxval that the record readers always read a P5 or P6 raster with.
int netpbm_sample_bits(const NetpbmHeader& header, bool classic);

// Bytes of a raw raster as the header describes it in the file (0 for the
// plain formats, whose length is not fixed); UINT64_MAX when that overflows.
uint64_t netpbm_raster_bytes(const NetpbmHeader& header, bool classic);

// False when file is a regular file with fewer than raster_bytes left; streams
// of unknown size always pass, their shortfall shows when read.
bool raster_fits_file(std::FILE* file, uint64_t raster_bytes);

// Opens file_name and reads its header, leaving the stream at the raster.
// Stops with "Input file not found" when it cannot be opened. A wrong magic,
// an invalid header, or a raster longer than the rest of a regular file (so no
// raster memory is taken for it) is refused: one line on standard error, the
// file closed, nullptr returned.
std::FILE* open_netpbm(const char* file_name, const NetpbmFormat& format, NetpbmHeader* header);

// Writes "%s\n# %s\n%lld %lld\n%d\n"; line breaks in the comment become blanks
// so that they cannot end the comment line early. Returns false on a failed write.
bool write_netpbm_header(std::FILE* file, const char* magic, const char* comment, int64_t width,
                         int64_t height, int maxval);
