// The command's texts. The usage text is the classic one, byte for byte;
// --help lists every option, as the man page does at more length, and the
// output formats as their table declares them.
#include "driver/help.h"

#include <algorithm>
#include <string>
#include <vector>

#include "imagefiles/output_formats.h"

#ifndef RUNLABEL_VERSION
#define RUNLABEL_VERSION "unknown"
#endif

void print_usage(std::FILE* out, const char* program) {
    std::fprintf(out, "Connected component labeling for binary images.\n");
    std::fprintf(out, "Pixels with non-zero value are labeled starting from 1.\n");
    std::fprintf(out, "Usage : %s <Input PGM File> <Output File Name>\n\n", program);
}

namespace {

// Help's lines end by column 78.
constexpr std::size_t kColumns = 78;
// Where an option's description starts.
constexpr std::size_t kDescription = 26;

// Prints text's words after lead, broken before the word that would pass
// kColumns; lines after the first start with indent blanks.
void print_wrapped(std::FILE* out, const std::string& lead, const std::string& text,
                   std::size_t indent) {
    std::string line = lead;
    bool first = true;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        at = end + 1;
        if (!first && line.size() + 1 + word.size() > kColumns) {
            std::fprintf(out, "%s\n", line.c_str());
            line = std::string(indent, ' ');
            first = true;
        }
        if (!first) line += ' ';
        line += word;
        first = false;
    }
    std::fprintf(out, "%s\n", line.c_str());
}

// An option line: its names, then its description from column kDescription.
void print_option(std::FILE* out, const char* names, const std::string& description) {
    std::string lead = names;
    lead.resize(kDescription, ' ');
    print_wrapped(out, lead, description, kDescription);
}

// "a greymap", the way help names the format written otherwise.
std::string called(const OutputFormat& format) { return std::string("a ") + format.called; }

// --color's formats: those named for a colour view, then the one otherwise.
std::string color_description() {
    std::vector<std::string> named;
    for (const OutputFormat* format : output_formats()) {
        if (format->colour && !format->otherwise) named.emplace_back(format->suffixes.front());
    }
    const OutputFormat& otherwise = format_otherwise(Content::kColour);
    return "write a colour view of the regions (" + join_words(named, "or") + " by name, else a " +
           otherwise.name + " " + otherwise.called + ")";
}

// --depth's widths: the label formats grouped by the widths they hold, in
// the order the first of each group comes.
std::string depth_description() {
    std::vector<uint8_t> groups;
    for (const OutputFormat* format : output_formats()) {
        if (format->labels &&
            std::find(groups.begin(), groups.end(), format->label_bits) == groups.end())
            groups.push_back(format->label_bits);
    }
    std::vector<std::string> parts;
    for (const uint8_t bits : groups) {
        std::vector<std::string> names;
        std::string widths;
        for (const OutputFormat* format : output_formats()) {
            if (!format->labels || format->label_bits != bits) continue;
            names.push_back(format->otherwise ? called(*format)
                                              : std::string(format->suffixes.front()));
            widths = bits == kLabelsTo64 ? "any" : label_bits_text(*format);
        }
        parts.push_back(widths + " for " + join_words(names, "and"));
    }
    std::string text = "label bits of OUTPUT:";
    for (std::size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? " " : ", ") + parts[i];
    return text + " (default: the fewest that hold every label)";
}

// What OUTPUT's name chooses: each label format by its names and widths,
// then the one written for any other name.
std::string output_paragraph() {
    std::vector<std::string> named;
    for (const OutputFormat* format : output_formats()) {
        if (!format->labels || format->otherwise) continue;
        const std::vector<std::string> suffixes(format->suffixes.begin(), format->suffixes.end());
        const std::string about = format->about != nullptr ? std::string(format->about) + ", " : "";
        named.push_back(join_words(suffixes, "or") + " (" + about + label_bits_text(*format) +
                        " bits)");
    }
    const OutputFormat& otherwise = format_otherwise(Content::kLabels);
    std::string text = "OUTPUT is chosen by its name:";
    for (std::size_t i = 0; i < named.size(); ++i) text += (i == 0 ? " " : ", ") + named[i];
    return text + "; any other name is a " + otherwise.name + " " + otherwise.called +
           ", maxval 255 while labels fit 8 bits, else 65535 (two bytes a label). Names of other "
           "image formats (.jpg, .gif, ...) are refused.";
}

}  // namespace

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
                 "                          when FILE ends in .json; '-' for standard output\n",
                 program);
    print_option(out, "      --color=FILE", color_description());
    std::fprintf(out,
                 "      --min-area=N        regions of fewer than N pixels become background\n"
                 "      --sort=area|raster  number regions by decreasing area (ties in raster\n"
                 "                          order), or in raster order (the default)\n");
    print_option(out, "  -d, --depth=8|16|32|64", depth_description());
    std::fprintf(out,
                 "  -j, --threads=N         threads to label with (default: every core the\n"
                 "                          process may use)\n"
                 "  -q, --quiet             do not report the region count and times\n"
                 "      --in-place          overwrite an output whose directory takes no\n"
                 "                          temporary file where it is (a failed write loses it)\n"
                 "  -h, --help              show this help and exit\n"
                 "      --version           show the version and exit\n"
                 "\n"
                 "Inputs are recognised by their content: PBM, PGM, PPM and PAM (P1 to P7), PNG,\n"
                 "TIFF and NumPy (.npy) masks; a pixel is foreground when any of its samples is\n"
                 "non-zero.\n");
    print_wrapped(out, "", output_paragraph(), 0);
    std::fprintf(out,
                 "With no option, a raw PGM (P5) in and an OUTPUT of no such name is the classic\n"
                 "form: a raw PGM out, the input's maxval over each label modulo 256.\n"
                 "\n"
                 "The region count and times go to standard output, or to standard error when\n"
                 "an image, the table or the colour view goes there. Exit status: 0 on success;\n"
                 "1 when fewer than two file names are given, the input cannot be read, an\n"
                 "output cannot be written or memory runs out; 2 for a bad option or value, or\n"
                 "an output name refused before any work.\n");
}

void print_version(std::FILE* out) { std::fprintf(out, "runlabel %s\n", RUNLABEL_VERSION); }
