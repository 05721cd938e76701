// Internal to imagefiles: the one header reader and writer shared by greymaps
// and pixmaps, and the output-file discipline shared by every writer.
#pragma once

#include <cstdint>
#include <cstdio>

struct NetpbmHeader {
    int32_t width;
    int32_t height;
    int32_t maxval;
};

enum class HeaderStatus { kOk, kWrongMagic, kInvalid };

// Reads magic, width, height and maxval with any whitespace and "#" comments
// between them, then consumes the one whitespace byte that ends the header.
HeaderStatus read_netpbm_header(std::FILE* file, const char* magic, NetpbmHeader* header);

// Refuses a raster that the rest of a regular file cannot hold, before any
// raster memory is taken. Streams of unknown size always pass.
bool raster_fits_file(std::FILE* file, uint64_t raster_bytes);

// Writes "%s\n# %s\n%d %d\n%d\n"; line breaks in the file name become blanks
// so that they cannot end the comment line early. Returns false on a failed write.
bool write_netpbm_header(std::FILE* file, const char* magic, const char* file_name, int width,
                         int height, int maxval);

// Opens file_name for writing, or stops with "Output file open failed".
std::FILE* open_output(const char* file_name);

// Closes the output. When ok is false or the close fails, removes the file if
// it is a plain regular file (never a device, a pipe or a link's target) and
// returns false.
bool close_output(std::FILE* file, const char* file_name, bool ok);
