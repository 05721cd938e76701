// Internal to imagefiles: the one header reader and writer shared by greymaps
// and pixmaps.
#pragma once

#include <cstdint>
#include <cstdio>

struct NetpbmHeader {
    int32_t width;
    int32_t height;
    int32_t maxval;
};

// What tells a greymap from a pixmap: its magic, the name its messages use
// ("PGM", "PPM") and its bytes per pixel.
struct NetpbmFormat {
    const char* magic;
    const char* name;
    int samples;
};
inline constexpr NetpbmFormat kGreymap{"P5", "PGM", 1};
inline constexpr NetpbmFormat kPixmap{"P6", "PPM", 3};

// Opens file_name and reads its header, leaving the stream at the raster.
// Stops with "Input file not found" when it cannot be opened. A wrong magic,
// an invalid header, or a raster longer than the rest of a regular file (so no
// raster memory is taken for it) is refused: one line on standard error, the
// file closed, nullptr returned.
std::FILE* open_netpbm(const char* file_name, const NetpbmFormat& format, NetpbmHeader* header);

// Closes the input and says "Input file is truncated."; for a raster that ran
// out while being read.
void refuse_truncated(std::FILE* file);

// Writes "%s\n# %s\n%d %d\n%d\n"; line breaks in the file name become blanks
// so that they cannot end the comment line early. Returns false on a failed write.
bool write_netpbm_header(std::FILE* file, const char* magic, const char* file_name, int width,
                         int height, int maxval);
