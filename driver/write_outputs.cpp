// The outputs, painted from the runs and written a band of rows at a time.
// Every file is a temporary until all of them are complete; then they are
// put in place together, so a failure in any leaves all as they were.
#include "driver/write_outputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "api/sample_types.h"
#include "driver/band_buffer.h"
#include "driver/color_view.h"
#include "driver/ordered_bands.h"
#include "driver/region_table.h"
#include "imagefiles/output_formats.h"
#include "support/output_file.h"
#include "support/support.h"
#include "support/workers.h"

namespace {

// Small enough that the painters' buffers stay in cache and the last band,
// written alone, is short.
constexpr std::size_t kBandBytes = std::size_t(1) << 20;

// One file to write: where it goes, and how its rows are made.
struct Output {
    std::string name;  // "-": standard output
    const OutputFormat* format = nullptr;
    RasterLayout layout;
    enum class Kind { kLabels, kColor } kind;
    runlabel::LabelType labels = runlabel::LabelType::u8;
    std::unique_ptr<OutputFile> file;
    std::unique_ptr<RasterWriter> writer;
};

constexpr const char* kOpenFailed = "Output file open failed";
constexpr const char* kWriteFailed = "Output file write failed";

// A failed open or write of name, with the system's reason when it gave one.
OutputFailure failed(const std::string& name, const char* classic, int code) {
    return {name, classic, code, classic == kOpenFailed ? "cannot be opened" : "write failed"};
}

// A writer's failure: a refused layout, or a write that did not get out.
OutputFailure failed(const std::string& name, const ImageError& e) {
    if (e.kind() == ImageError::Kind::kOutput) return failed(name, kWriteFailed, e.code());
    return {name, nullptr, 0, e.what()};
}

// A file that would have to be overwritten where it is, a failed write
// losing it: refused unless asked for, with what to ask.
OutputFailure refused_in_place(const std::string& name, int code) {
    std::string reason = "no temporary file can be made beside it";
    if (code != 0) reason += std::string(" (") + std::strerror(code) + ")";
    return {name, kOpenFailed, 0,
            reason +
                "; give --in-place to overwrite it directly, knowing that a failed write "
                "then loses it"};
}

// Opens an output file, in place only when allowed.
std::unique_ptr<OutputFile> open_file(const std::string& name, InPlace in_place) {
    errno = 0;
    bool refused = false;
    std::unique_ptr<OutputFile> file = OutputFile::open(name.c_str(), in_place, &refused);
    if (refused) throw refused_in_place(name, errno);
    if (!file) throw failed(name, kOpenFailed, errno);
    return file;
}

// Opens the output and its writer.
void open_output(Output& out, InPlace in_place) {
    try {
        if (out.name != "-") {
            out.file = open_file(out.name, in_place);
            out.writer = create_writer(*out.format, *out.file, out.layout);
        } else {
            out.writer = create_stream_writer(*out.format, stdout, false, out.layout);
        }
    } catch (const ImageError& e) {
        throw failed(out.name, e);
    }
}

Output label_output(const Options& options, bool classic, const runlabel::Labeling& labeling,
                    const RasterInfo& input) {
    Output out;
    out.name = options.output;
    out.kind = Output::Kind::kLabels;
    // The classic form writes a greymap whatever the name, as it always has,
    // and so does any name of no label format of its own (a pixmap's too).
    out.format =
        classic ? &format_otherwise(Content::kLabels) : &format_for(out.name, Content::kLabels);
    out.layout.width = labeling.width();
    out.layout.height = labeling.height();
    out.layout.comment = out.name;
    const uint64_t last = labeling.last_label();
    if (classic) {
        // The classic greymap holds each label's low 8 bits, by design, and
        // keeps the input's maxval.
        out.layout.sample = SampleType::kU8;
        out.layout.maxval = static_cast<int32_t>(std::min<int64_t>(input.maxval, 65535));
        out.labels = runlabel::LabelType::u8;
        return out;
    }
    // Any other greymap is one that other programs read: maxval 255 and a
    // byte a label, or 65535 and two, and never a label cut short.
    const int needed = bits_of_label_type(labeling.narrowest_label_type());
    if (out.format->otherwise && !holds_label_bits(*out.format, needed)) {
        throw ImageError(ImageError::Kind::kUnsupported,
                         "Labels up to " + std::to_string(last) + " do not fit a " +
                             out.format->called + "'s " +
                             std::to_string(widest_label_bits(*out.format)) +
                             " bits; name the output " + formats_holding_label_bits(needed) + ".");
    }
    const int bits = options.depth != 0 ? options.depth : needed;
    if (bits < needed) {
        throw ImageError(ImageError::Kind::kUnsupported, "Labels up to " + std::to_string(last) +
                                                             " do not fit " + std::to_string(bits) +
                                                             " bits; give --depth " +
                                                             std::to_string(needed) + " or more.");
    }
    out.layout.sample = sample_of_bits(bits);
    out.layout.maxval = label_maxval(*out.format, last, bits);
    out.labels = label_type_of_bits(bits);
    return out;
}

Output color_output(const Options& options, const runlabel::Labeling& labeling) {
    Output out;
    out.name = options.color;
    out.kind = Output::Kind::kColor;
    // A name of a format with colours is that format; any other, a pixmap.
    out.format = &format_for(out.name, Content::kColour);
    out.layout.width = labeling.width();
    out.layout.height = labeling.height();
    out.layout.sample = SampleType::kU8;
    out.layout.channels = 3;
    out.layout.maxval = 255;
    out.layout.comment = out.name;
    return out;
}

// Paints rows [row, row + rows) of the output into band, on this thread;
// colours go through labels first.
void paint_band(const Output& out, const runlabel::Labeling& labeling, int64_t row, int64_t rows,
                uint8_t* band, uint32_t* labels) {
    const int64_t width = labeling.width();
    if (out.kind == Output::Kind::kLabels) {
        labeling.paint_rows({band, out.labels, width, rows, 0, 0}, row, 1);
    } else {
        labeling.paint_rows(runlabel::label_view(labels, width, rows), row, 1);
        color_row(labels, static_cast<std::size_t>(width * rows), band);
    }
}

}  // namespace

void write_outputs(const Options& options, bool classic, const runlabel::Labeling& labeling,
                   const RasterInfo& input, void (*rows_written)(int64_t rows, int64_t of)) {
    std::vector<Output> outputs;
    try {
        outputs.push_back(label_output(options, classic, labeling, input));
    } catch (const ImageError& e) {
        throw failed(options.output, e);
    }
    if (!options.color.empty()) outputs.push_back(color_output(options, labeling));
    // Every writer checks its layout before anything is written; opening them
    // all first also makes sure no file is begun unless all can be.
    // The classic form has always written in place where it had to.
    const InPlace in_place = options.in_place || classic ? InPlace::kAllowed : InPlace::kRefused;
    for (Output& out : outputs) open_output(out, in_place);
    // A file in memory takes memory: one that would not fit is refused now,
    // with the memory message, rather than the process killed as it grows.
    uint64_t in_memory = 0;
    std::string in_memory_name;
    for (const Output& out : outputs) {
        if (out.file && out.file->in_memory()) {
            in_memory += row_bytes(out.layout.sample, out.layout.channels, out.layout.width) *
                         static_cast<uint64_t>(out.layout.height);
            if (in_memory_name.empty()) in_memory_name = out.name;
        }
    }
    if (in_memory > 0 && in_memory > page_headroom()) {
        throw OutputFailure{in_memory_name, "Memory allocation failure", ENOMEM, ""};
    }
    std::vector<runlabel::Region> regions;
    if (!options.stats.empty()) regions = labeling.regions();

    const int64_t width = labeling.width();
    const int64_t height = labeling.height();
    std::size_t widest = 1;
    for (const Output& out : outputs) {
        widest = std::max(widest, row_bytes(out.layout.sample, out.layout.channels, width));
    }
    const int64_t band_rows = std::max<int64_t>(1, static_cast<int64_t>(kBandBytes / widest));
    const std::size_t rows_at_once =
        static_cast<std::size_t>(std::min(band_rows, std::max<int64_t>(height, 1)));
    const int64_t bands = (height + band_rows - 1) / band_rows;
    // Several painters at once, so that one writes while the others paint:
    // the kernel's copy of a band into the file, which takes the file's
    // lock, costs no painting time. A slot to spare lets a painter go on
    // while the band before its own is still being painted.
    const int64_t painters =
        std::min<int64_t>(options.threads > 0 ? options.threads : usable_cores(), bands);
    const int slots = static_cast<int>(painters) + (painters > 1 ? 1 : 0);
    OrderedBands order(bands, std::max(slots, 1));
    // Per slot, a band buffer for each output, made by the first painter
    // to take the slot, whose first touch it gets.
    std::vector<std::vector<std::unique_ptr<BandBuffer>>> slot_bands(
        static_cast<std::size_t>(std::max(slots, 1)));
    auto write_band = [&](int64_t k, int slot) {
        const int64_t row = k * band_rows;
        const int64_t rows = std::min(band_rows, height - row);
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            try {
                outputs[i].writer->write_rows(slot_bands[static_cast<std::size_t>(slot)][i]->data(),
                                              rows);
            } catch (const ImageError& e) {
                throw failed(outputs[i].name, e);
            }
        }
        if (rows_written != nullptr) rows_written(row + rows, height);
    };
    auto paint = [&] {
        try {
            // The colour view's labels, before they become colours.
            const BandBuffer labels(options.color.empty()
                                        ? 0
                                        : rows_at_once * static_cast<std::size_t>(width) *
                                              sizeof(uint32_t));
            int slot = 0;
            int64_t k = 0;
            while (order.take(&slot, &k)) {
                auto& band = slot_bands[static_cast<std::size_t>(slot)];
                while (band.size() < outputs.size())
                    band.push_back(std::make_unique<BandBuffer>(rows_at_once * widest));
                const int64_t row = k * band_rows;
                const int64_t rows = std::min(band_rows, height - row);
                for (std::size_t i = 0; i < outputs.size(); ++i) {
                    paint_band(outputs[i], labeling, row, rows, band[i]->data(),
                               reinterpret_cast<uint32_t*>(labels.data()));
                }
                order.hand_in(k, slot, write_band);
            }
        } catch (...) {
            order.fail(std::current_exception());
        }
    };
    run_on_workers(static_cast<int>(painters), static_cast<int>(painters), [&](int) { paint(); });
    order.rethrow();
    for (Output& out : outputs) {
        try {
            out.writer->finish();
        } catch (const ImageError& e) {
            throw failed(out.name, e);
        }
    }
    std::unique_ptr<OutputFile> table;
    if (!options.stats.empty()) {
        std::FILE* stream = stdout;
        if (options.stats != "-") {
            table = open_file(options.stats, in_place);
            stream = table->stream();
        }
        errno = 0;
        if (!write_region_table(stream, regions, wants_json(options.stats))) {
            const int code = errno;
            if (table) table->fail();
            throw failed(options.stats, kWriteFailed, code);
        }
    }
    // All complete: the writers done, every byte out of its buffer, then all
    // put in place.
    for (Output& out : outputs) out.writer.reset();
    if (table && !table->flush()) throw failed(options.stats, kWriteFailed, table->error());
    for (Output& out : outputs) {
        if (out.file && !out.file->flush()) throw failed(out.name, kWriteFailed, out.file->error());
    }
    for (Output& out : outputs) {
        if (out.file && !out.file->commit())
            throw failed(out.name, kWriteFailed, out.file->error());
        if (!out.file && std::fflush(stdout) != 0) throw failed(out.name, kWriteFailed, errno);
    }
    if (table && !table->commit()) throw failed(options.stats, kWriteFailed, table->error());
}
