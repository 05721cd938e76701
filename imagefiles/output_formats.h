// The output formats, as data: each format's file declares beside its writer
// what it writes (its names, the label widths and contents it holds, its
// maxval rule), and one table gathers those rows. Choosing a format by name,
// checking a width against it and every list of formats in a message or in
// --help are read from the table, so none of them knows a format by itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "imagefiles/raster.h"

// What an output holds: a label image (one channel, 8 to 64 bits) or a colour
// view (three channels of 8 bits).
enum class Content : uint8_t { kLabels, kColour };

// What a header's MAXVAL says of labels: nothing (no such header), how wide
// the samples are (255 or 65535: a greymap), or the largest label, within
// the samples' width, so that viewers scale to it (PAM).
enum class Maxval : uint8_t { kNone, kSampleWidth, kLargestLabel };

// The widths of labels a format holds, a bit for each.
enum LabelBits : uint8_t { kLabels8 = 1, kLabels16 = 2, kLabels32 = 4, kLabels64 = 8 };
inline constexpr uint8_t kLabelsTo16 = kLabels8 | kLabels16;
inline constexpr uint8_t kLabelsTo64 = kLabelsTo16 | kLabels32 | kLabels64;

struct OutputFormat {
    // As help names the format ("PGM"), and what messages call a file of it
    // when it is the one written otherwise ("greymap"; nullptr for the rest).
    const char* name;
    const char* called;
    // Lower-case suffixes that ask for it, matched ignoring case; messages
    // name the first, lists name them all.
    std::span<const std::string_view> suffixes;
    // What help says of it beside its widths ("NumPy"), or nullptr.
    const char* about;
    bool labels;     // holds a label image
    bool colour;     // holds a colour view
    bool otherwise;  // written for its contents when the name asks for no format that holds them
    uint8_t label_bits;  // LabelBits: the label widths it holds
    Maxval maxval;       // what its header's MAXVAL says of labels
    // A writer into out (seekable: whether it can seek). Checks the layout
    // first and throws ImageError(kUnsupported), with a message naming a
    // format that would hold it, before writing anything.
    std::unique_ptr<RasterWriter> (*make_writer)(std::FILE* out, bool seekable,
                                                 const RasterLayout& layout);
};

// Every format written, in the order lists of them name them.
std::span<const OutputFormat* const> output_formats();

// The format a suffix of name asks for (".png", ".TIFF", ...), or nullptr.
const OutputFormat* format_named(std::string_view name);

// The format an output of content named name is written in: the one the name
// asks for when it holds content, else the one written otherwise ("-" too).
const OutputFormat& format_for(std::string_view name, Content content);

// The format written for content when its name asks for none that holds it.
const OutputFormat& format_otherwise(Content content);

// The format a suffix of name asks for, whatever it holds (a writer then
// refuses what it cannot hold), else the one written otherwise for labels.
const OutputFormat& format_for_name(std::string_view name);

// Whether format holds labels of bits (8, 16, 32 or 64).
bool holds_label_bits(const OutputFormat& format, int bits);

// The widest labels format holds, in bits (0 for none).
int widest_label_bits(const OutputFormat& format);

// Every suffix of the formats that hold content, as a message lists them
// (".png, .tif, .tiff, .npy, .pam or .pgm").
std::string suffixes_holding(Content content);

// The first suffix of each format named for labels of bits, as a message
// suggests them (".tif or .npy").
std::string formats_holding_label_bits(int bits);

// The widths of format's labels as help says them: "8 or 16", "8 to 64".
std::string label_bits_text(const OutputFormat& format);

// Words joined as prose: "a", "a or b", "a, b or c" (conjunction "or", "and").
std::string join_words(std::span<const std::string> words, const char* conjunction);

// The extension of name, as given (".jpg"), when it is one of an image format
// that is not written here (JPEG, GIF, BMP, WebP, PBM, ...); "" for the names
// of the formats written and for names of no image format at all.
std::string unwritten_image_extension(const char* name);

// MAXVAL of labels of `bits` up to `largest` written as format, by its Maxval
// rule: 255 or 65535 by the bits; the largest label, but never below 256 for
// samples wider than a byte (a MAXVAL below 256 would make 16-bit labels one
// byte wide) nor past what the samples hold; 255 for a header that has none.
int32_t label_maxval(const OutputFormat& format, uint64_t largest, int bits);

// A writer of format into out: the format's writer (see make_writer), tied to
// the file so that a writer that fails marks out failed and its commit
// discards the file. out must outlive the writer.
std::unique_ptr<RasterWriter> create_writer(const OutputFormat& format, OutputFile& out,
                                            const RasterLayout& layout);

// The same on a plain stream (seekable tells whether it can seek; a TIFF on
// one that cannot is built in an anonymous temporary and copied at finish).
// The caller owns the stream and decides what becomes of it on failure.
std::unique_ptr<RasterWriter> create_stream_writer(const OutputFormat& format, std::FILE* out,
                                                   bool seekable, const RasterLayout& layout);
