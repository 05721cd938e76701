// Image files, the classic record functions: raw greymaps ("P5") and raw
// pixmaps ("P6") as whole images in memory, and the headerless 16-bit matrix
// dump. They are thin wrappers over the readers and writers every format
// shares: raster.h (reading and writing any format a band at a time) and
// output_formats.h (what each output format holds). Readers take a raw
// header as the classic program did, one byte a sample whatever the maxval,
// and refuse anything else with one line on standard error; writers either
// leave a complete file or none.
#pragma once

#include <cstdint>

struct GreyImage {
    char magic[4];  // "P5"
    int32_t width;
    int32_t height;
    int32_t maxval;    // carried through unchanged; every sample is one byte
    uint8_t** pixels;  // height x width
};

struct ColorImage {
    char magic[4];  // "P6"
    int32_t width;
    int32_t height;
    int32_t maxval;
    uint8_t** red;  // height x width each
    uint8_t** green;
    uint8_t** blue;
};

// Loads a raw greymap. Returns nullptr after one line on standard error when
// the file is not one ("Input file is not a PGM raw image.", "Input file has
// an invalid PGM header.", "Input file is truncated."). An input that cannot
// be opened stops through fatal_error("Input file not found"). The caller owns
// the record and releases it with free_pgm.
GreyImage* read_pgm(const char* file_name);

// Writes the image with a one-comment header naming file_name and returns 1.
// The pixels are reached through the row pointers, wherever the rows lie. The
// file goes through OutputFile: complete, or the old file left as it was. An
// output that cannot be opened stops with "Output file open failed"; a write,
// close or rename that fails stops with "Output file write failed".
int write_pgm(const char* file_name, const GreyImage* image);

// Releases the pixel matrix, then the record. nullptr is ignored.
void free_pgm(GreyImage* image);

// The pixmap counterparts: same header rules and failures, messages naming PPM;
// the raster holds red, green, blue per pixel.
ColorImage* read_ppm(const char* file_name);
int write_ppm(const char* file_name, const ColorImage* image);
void free_ppm(ColorImage* image);

// Dumps rows x cols 16-bit values, least significant byte first, no header,
// row by row through the row pointers. Returns 0 on success and non-zero when
// a write, the close or the rename failed (the old file, if any, is left as it
// was); stops with "Output file open failed" when the file cannot be opened.
int write_raw_matrix16(const char* file_name, int16_t** matrix, int rows, int cols);
