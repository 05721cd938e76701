// The command's texts. The usage text is the classic one, byte for byte;
// --help lists every option, as the man page does at more length.
#include "driver/help.h"

#ifndef RUNLABEL_VERSION
#define RUNLABEL_VERSION "unknown"
#endif

void print_usage(std::FILE* out, const char* program) {
    std::fprintf(out, "Connected component labeling for binary images.\n");
    std::fprintf(out, "Pixels with non-zero value are labeled starting from 1.\n");
    std::fprintf(out, "Usage : %s <Input PGM File> <Output File Name>\n\n", program);
}

void print_help(std::FILE* out, const char* program) {
    std::fprintf(out,
                 "Usage: %s [OPTION]... INPUT OUTPUT\n"
                 "Label the connected regions of a binary image: every non-zero pixel is\n"
                 "foreground, and regions are numbered 1, 2, 3, ... in the order a raster scan\n"
                 "first meets them. INPUT or OUTPUT '-' is standard input or output.\n"
                 "\n"
                 "  -c, --connectivity=4|8  neighbours that join pixels: 4 (edges, the default)\n"
                 "                          or 8 (corners too)\n"
                 "  -s, --stats=FILE        write a table of the regions: label, area, left, top,\n"
                 "                          width, height, centroid x and y; CSV, or a JSON array\n"
                 "                          when FILE ends in .json; '-' for standard output\n"
                 "      --color=FILE        write a colour view of the regions (.png, .tif, .npy\n"
                 "                          or .pam by name, else a PPM pixmap)\n"
                 "      --min-area=N        regions of fewer than N pixels become background\n"
                 "      --sort=area|raster  number regions by decreasing area (ties in raster\n"
                 "                          order), or in raster order (the default)\n"
                 "  -d, --depth=8|16|32|64  label bits of OUTPUT: 8 or 16 for .png, .pam and a\n"
                 "                          greymap, any for .tif and .npy (default: the fewest\n"
                 "                          that hold every label)\n"
                 "  -j, --threads=N         threads to label with (default: every core the\n"
                 "                          process may use)\n"
                 "  -q, --quiet             do not report the region count and times\n"
                 "      --in-place          overwrite an output whose directory takes no\n"
                 "                          temporary file where it is (a failed write loses it)\n"
                 "  -h, --help              show this help and exit\n"
                 "      --version           show the version and exit\n"
                 "\n"
                 "Inputs are recognised by their content: PBM, PGM, PPM and PAM (P1 to P7), PNG\n"
                 "and TIFF masks; a pixel is foreground when any of its samples is non-zero.\n"
                 "OUTPUT is chosen by its name: .png (8 or 16 bits), .tif or .tiff (8 to 64\n"
                 "bits), .npy (NumPy, 8 to 64 bits), .pam (8 or 16 bits); any other name is a\n"
                 "PGM greymap, maxval 255 while labels fit 8 bits, else 65535 (two bytes a\n"
                 "label). Names of other image formats (.jpg, .gif, ...) are refused.\n"
                 "With no option, a raw PGM (P5) in and an OUTPUT of no such name is the classic\n"
                 "form: a raw PGM out, the input's maxval over each label modulo 256.\n"
                 "\n"
                 "The region count and times go to standard output, or to standard error when\n"
                 "an image, the table or the colour view goes there. Exit status: 0 on success;\n"
                 "1 when fewer than two file names are given, the input cannot be read, an\n"
                 "output cannot be written or memory runs out; 2 for a bad option or value, or\n"
                 "an output name refused before any work.\n",
                 program);
}

void print_version(std::FILE* out) { std::fprintf(out, "runlabel %s\n", RUNLABEL_VERSION); }
