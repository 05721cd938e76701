// The table of output formats and what is read from it. A format's row is
// defined in its own file, beside its writer; here it only takes its place in
// the order that lists name formats in.
#include "imagefiles/output_formats.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/output_file.h"

extern const OutputFormat kPngOutput;
extern const OutputFormat kTiffOutput;
extern const OutputFormat kNpyOutput;
extern const OutputFormat kPamOutput;
extern const OutputFormat kPgmOutput;
extern const OutputFormat kPpmOutput;

namespace {

// The order of every list of formats: help's, and the messages'.
const OutputFormat* const kFormats[] = {
    &kPngOutput, &kTiffOutput, &kNpyOutput, &kPamOutput, &kPgmOutput, &kPpmOutput,
};

bool ends_with_ignoring_case(std::string_view name, std::string_view suffix) {
    return name.size() >= suffix.size() && strncasecmp(name.data() + name.size() - suffix.size(),
                                                       suffix.data(), suffix.size()) == 0;
}

bool holds(const OutputFormat& format, Content content) {
    return content == Content::kLabels ? format.labels : format.colour;
}

uint8_t bit_of(int bits) {
    switch (bits) {
        case 8:
            return kLabels8;
        case 16:
            return kLabels16;
        case 32:
            return kLabels32;
        case 64:
            return kLabels64;
    }
    return 0;
}

// A failure of the writer marks the output failed, so that its commit
// discards the partial file instead of putting it in place.
class OutputFileWriter : public RasterWriter {
  public:
    OutputFileWriter(std::unique_ptr<RasterWriter> writer, OutputFile& out)
        : writer_(std::move(writer)), out_(out) {}

    void write_rows(const uint8_t* rows, int64_t n) override {
        try {
            writer_->write_rows(rows, n);
        } catch (...) {
            out_.fail();
            throw;
        }
    }

    void finish() override {
        try {
            writer_->finish();
        } catch (...) {
            out_.fail();
            throw;
        }
    }

  private:
    std::unique_ptr<RasterWriter> writer_;
    OutputFile& out_;
};

}  // namespace

std::span<const OutputFormat* const> output_formats() { return kFormats; }

const OutputFormat* format_named(std::string_view name) {
    for (const OutputFormat* format : kFormats) {
        for (std::string_view suffix : format->suffixes)
            if (ends_with_ignoring_case(name, suffix)) return format;
    }
    return nullptr;
}

const OutputFormat& format_otherwise(Content content) {
    for (const OutputFormat* format : kFormats) {
        if (format->otherwise && holds(*format, content)) return *format;
    }
    // Not reached: the table has one for each content.
    return *kFormats[0];
}

const OutputFormat& format_for(std::string_view name, Content content) {
    const OutputFormat* named = format_named(name);
    return named != nullptr && holds(*named, content) ? *named : format_otherwise(content);
}

const OutputFormat& format_for_name(std::string_view name) {
    const OutputFormat* named = format_named(name);
    return named != nullptr ? *named : format_otherwise(Content::kLabels);
}

bool holds_label_bits(const OutputFormat& format, int bits) {
    return (format.label_bits & bit_of(bits)) != 0;
}

int widest_label_bits(const OutputFormat& format) {
    int widest = 0;
    for (int bits = 8; bits <= 64; bits *= 2)
        if (holds_label_bits(format, bits)) widest = bits;
    return widest;
}

std::string join_words(std::span<const std::string> words, const char* conjunction) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) text += i + 1 == words.size() ? std::string(" ") + conjunction + " " : ", ";
        text += words[i];
    }
    return text;
}

std::string suffixes_holding(Content content) {
    std::vector<std::string> suffixes;
    for (const OutputFormat* format : kFormats) {
        if (!holds(*format, content)) continue;
        for (std::string_view suffix : format->suffixes) suffixes.emplace_back(suffix);
    }
    return join_words(suffixes, "or");
}

std::string formats_holding_label_bits(int bits) {
    std::vector<std::string> names;
    for (const OutputFormat* format : kFormats) {
        if (format->labels && holds_label_bits(*format, bits))
            names.emplace_back(format->suffixes.front());
    }
    return join_words(names, "or");
}

std::string label_bits_text(const OutputFormat& format) {
    std::vector<std::string> widths;
    for (int bits = 8; bits <= 64; bits *= 2)
        if (holds_label_bits(format, bits)) widths.push_back(std::to_string(bits));
    // Three or more in a row read as a range.
    if (widths.size() > 2) return widths.front() + " to " + widths.back();
    return join_words(widths, "or");
}

std::string unwritten_image_extension(const char* name) {
    // Formats a user may well ask for by name; a name of none of them (out.lab,
    // out.raw) is a greymap as it always was.
    static constexpr const char* kUnwritten[] = {
        ".jpg", ".jpeg", ".jpe",  ".jfif", ".jp2",  ".j2k",  ".jpf", ".jpx", ".jxl", ".gif",
        ".bmp", ".dib",  ".webp", ".heic", ".heif", ".avif", ".ico", ".cur", ".tga", ".psd",
        ".xcf", ".exr",  ".hdr",  ".pcx",  ".xpm",  ".xbm",  ".xwd", ".sgi", ".ras", ".dds",
        ".svg", ".eps",  ".pdf",  ".fits", ".fts",  ".dcm",  ".pbm", ".pfm", ".qoi", ".mng",
    };
    const std::string_view n(name);
    for (const char* extension : kUnwritten) {
        if (ends_with_ignoring_case(n, extension))
            return std::string(n.substr(n.size() - std::strlen(extension)));
    }
    return "";
}

int32_t label_maxval(const OutputFormat& format, uint64_t largest, int bits) {
    switch (format.maxval) {
        case Maxval::kNone:
            return 255;
        case Maxval::kSampleWidth:
            return bits > 8 ? 65535 : 255;
        case Maxval::kLargestLabel:
            if (bits <= 8) return static_cast<int32_t>(std::clamp<uint64_t>(largest, 1, 255));
            return largest < 256 ? 65535 : static_cast<int32_t>(std::min<uint64_t>(largest, 65535));
    }
    return 255;
}

std::unique_ptr<RasterWriter> create_stream_writer(const OutputFormat& format, std::FILE* out,
                                                   bool seekable, const RasterLayout& layout) {
    return format.make_writer(out, seekable, layout);
}

std::unique_ptr<RasterWriter> create_writer(const OutputFormat& format, OutputFile& out,
                                            const RasterLayout& layout) {
    return std::make_unique<OutputFileWriter>(
        create_stream_writer(format, out.stream(), out.seekable(), layout), out);
}
