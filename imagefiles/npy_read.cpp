// NumPy's .npy, format versions 1.0 to 3.0: a 2-D (rows, columns) or 3-D
// (rows, columns, channels) array of booleans or integers of 1 to 8 bytes,
// signed ones delivered as their unsigned bits. C-order rows are read (or
// mapped) as they come; a Fortran-order array is gathered a column segment
// at a time from a seekable copy, so neither ever holds the whole array.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "imagefiles/formats.h"
#include "imagefiles/samples.h"
#include "support/raster_size.h"

namespace {

using Kind = ImageError::Kind;

// A header longer than this is no array this tool reads: the dict of a plain
// dtype and three dimensions takes well under a hundred bytes.
constexpr uint32_t kLongestHeader = uint32_t(1) << 20;
constexpr int64_t kMostChannels = 65535;

[[noreturn]] void invalid() {
    throw ImageError(Kind::kInvalid, "Input file has an invalid NPY header.");
}

[[noreturn]] void truncated() { throw ImageError(Kind::kTruncated, "Input file is truncated."); }

[[noreturn]] void unsupported(const std::string& what) {
    throw ImageError(Kind::kUnsupported, "Input file is not a supported NPY image: " + what + ".");
}

struct NpyHeader {
    std::string descr;
    bool fortran = false;
    std::vector<int64_t> shape;
};

// The header's Python dict literal, as numpy writes it:
//   {'descr': '<u2', 'fortran_order': False, 'shape': (480, 640), }
// Keys in any order, either quote, blanks anywhere; each key exactly once.
class DictParser {
  public:
    explicit DictParser(std::string_view text) : text_(text) {}

    NpyHeader parse() {
        NpyHeader header;
        bool descr = false, fortran = false, shape = false;
        expect('{');
        while (!take('}')) {
            const std::string key = string();
            expect(':');
            if (key == "descr" && !descr) {
                descr = true;
                skip_blanks();
                if (peek() == '[') unsupported("structured samples");
                header.descr = string();
            } else if (key == "fortran_order" && !fortran) {
                fortran = true;
                header.fortran = boolean();
            } else if (key == "shape" && !shape) {
                shape = true;
                header.shape = tuple();
            } else {
                invalid();
            }
            if (!take(',')) {
                expect('}');
                break;
            }
        }
        skip_blanks();
        if (at_ != text_.size() || !descr || !fortran || !shape) invalid();
        return header;
    }

  private:
    void skip_blanks() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool take(char ch) {
        skip_blanks();
        if (peek() != ch) return false;
        ++at_;
        return true;
    }
    void expect(char ch) {
        if (!take(ch)) invalid();
    }

    std::string string() {
        skip_blanks();
        const char quote = peek();
        if (quote != '\'' && quote != '"') invalid();
        const std::size_t end = text_.find(quote, at_ + 1);
        if (end == std::string_view::npos) invalid();
        std::string value(text_.substr(at_ + 1, end - at_ - 1));
        at_ = end + 1;
        return value;
    }

    bool boolean() {
        skip_blanks();
        for (const auto& [word, value] : {std::pair{"True", true}, std::pair{"False", false}}) {
            const std::string_view w(word);
            if (text_.substr(at_, w.size()) == w) {
                at_ += w.size();
                return value;
            }
        }
        invalid();
    }

    // (), (n,), (a, b), (a, b, c, ): non-negative decimal integers, an old
    // writer's "L" suffix allowed.
    std::vector<int64_t> tuple() {
        std::vector<int64_t> values;
        expect('(');
        while (!take(')')) {
            skip_blanks();
            if (!std::isdigit(static_cast<unsigned char>(peek()))) invalid();
            int64_t value = 0;
            while (std::isdigit(static_cast<unsigned char>(peek()))) {
                if (__builtin_mul_overflow(value, 10, &value) ||
                    __builtin_add_overflow(value, peek() - '0', &value))
                    invalid();
                ++at_;
            }
            if (peek() == 'L') ++at_;
            values.push_back(value);
            if (values.size() > 32) invalid();  // numpy's own limit
            if (!take(',')) {
                expect(')');
                break;
            }
        }
        return values;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

uint32_t little_endian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

// Reads exactly size bytes, or reports the input cut short.
void read_exactly(std::FILE* file, void* out, std::size_t size) {
    if (size > 0 && std::fread(out, 1, size, file) != size) truncated();
}

NpyHeader read_header(std::FILE* file) {
    uint8_t start[12];  // magic, version, and a length of up to 4 bytes
    read_exactly(file, start, 8);
    if (std::memcmp(start, "\x93NUMPY", 6) != 0) invalid();
    const int major = start[6], minor = start[7];
    if (major < 1 || major > 3 || minor != 0)
        unsupported("format version " + std::to_string(major) + "." + std::to_string(minor));
    const int length_bytes = major == 1 ? 2 : 4;
    read_exactly(file, start + 8, std::size_t(length_bytes));
    const uint32_t length = little_endian(start + 8, length_bytes);
    if (length > kLongestHeader) invalid();
    std::string text(length, '\0');
    read_exactly(file, text.data(), length);
    // Version 3.0 allows UTF-8 in the header; a plain dtype never needs it.
    if (text.empty() || text.back() != '\n') invalid();
    return DictParser(text).parse();
}

struct Samples {
    SampleType type;
    bool swapped;  // stored in the other byte order than the machine's
};

// The dtype string ('<u2', '|b1', '>i4'): byte order, kind, size.
Samples samples_of(const std::string& descr) {
    if (descr.size() < 3 || std::string_view("<>|=").find(descr[0]) == std::string_view::npos)
        unsupported("samples of type '" + descr + "'");
    const char kind = descr[1];
    const std::string size = descr.substr(2);
    if (kind == 'f') unsupported("floating-point samples ('" + descr + "')");
    if (kind == 'c') unsupported("complex samples ('" + descr + "')");
    const bool integer = kind == 'u' || kind == 'i';
    Samples samples{SampleType::kU8, false};
    if (kind == 'b' && size == "1") return samples;
    if (!integer) unsupported("samples of type '" + descr + "'");
    if (size == "1") return samples;
    if (size == "2")
        samples.type = SampleType::kU16;
    else if (size == "4")
        samples.type = SampleType::kU32;
    else if (size == "8")
        samples.type = SampleType::kU64;
    else
        unsupported("samples of type '" + descr + "'");
    // A sample of several bytes has a byte order; '|' says it has none.
    if (descr[0] == '|') invalid();
    constexpr bool little = std::endian::native == std::endian::little;
    samples.swapped = (descr[0] == '<' && !little) || (descr[0] == '>' && little);
    return samples;
}

class NpyReader : public RasterReader {
  public:
    NpyReader(InputStream input, const NpyHeader& header) : input_(std::move(input)) {
        const std::size_t dims = header.shape.size();
        if (dims != 2 && dims != 3) unsupported("a " + std::to_string(dims) + "-dimensional array");
        const Samples samples = samples_of(header.descr);
        swapped_ = samples.swapped;
        fortran_ = header.fortran;
        info_.height = header.shape[0];
        info_.width = header.shape[1];
        const int64_t channels = dims == 3 ? header.shape[2] : 1;
        if (channels < 1 || channels > kMostChannels)
            unsupported(std::to_string(channels) + " channels");
        info_.channels = int(channels);
        info_.sample = samples.type;
        info_.maxval = header.descr[1] == 'b' ? 1
                       : samples.type == SampleType::kU64
                           ? INT64_MAX
                           : (int64_t(1) << sample_bits(samples.type)) - 1;
        info_.format = "NPY";
        check_labelable(info_);
        std::size_t data = 0;
        if (!raster_bytes(info_.width, info_.height, info_.channels, sample_bits(info_.sample),
                          &data) ||
            !raster_fits_file(input_.file(), data))
            truncated();
        // Gathered by columns, the samples must be reachable at any offset.
        if (fortran_) {
            if (!input_.seekable()) input_ = spool_to_temporary(std::move(input_));
            start_ = std::ftell(input_.file());
            if (start_ < 0) truncated();
        }
    }

    int64_t read_rows(uint8_t* out, int64_t max_rows) override {
        const int64_t n = std::min(max_rows, info_.height - done_);
        if (n <= 0) return 0;
        const std::size_t bytes = bytes_of_rows(info_, n);
        if (fortran_)
            gather_columns(out, n);
        else
            read_exactly(input_.file(), out, bytes);
        if (swapped_) {
            const int size = sample_bytes(info_.sample);
            swap_sample_bytes(out, size, bytes / std::size_t(size));
        }
        done_ += n;
        return n;
    }

    MappedRows map_rows(int64_t max_rows) override {
        const int64_t n = std::min(max_rows, info_.height - done_);
        if (n <= 0 || fortran_ || swapped_ || !input_.seekable()) return {};
        MappedRows rows = map_stored_rows(input_, info_, n);
        if (rows.data() != nullptr) done_ += n;
        return rows;
    }

  private:
    // Fortran order keeps sample (r, c, k) at r + rows * (c + columns * k):
    // rows done_ .. done_ + n of one column and channel lie side by side.
    void gather_columns(uint8_t* out, int64_t n) {
        const std::size_t size = std::size_t(sample_bytes(info_.sample));
        const std::size_t segment = size * std::size_t(n);
        column_.resize(segment);
        const int fd = fileno(input_.file());
        const auto rows = uint64_t(info_.height);
        const auto columns = uint64_t(info_.width);
        const auto channels = std::size_t(info_.channels);
        for (std::size_t k = 0; k < channels; ++k) {
            for (uint64_t c = 0; c < columns; ++c) {
                const uint64_t first = (k * columns + c) * rows + uint64_t(done_);
                const auto at = off_t(uint64_t(start_) + first * size);
                for (std::size_t got = 0; got < segment;) {
                    const ssize_t r =
                        pread(fd, column_.data() + got, segment - got, at + off_t(got));
                    if (r <= 0) truncated();
                    got += std::size_t(r);
                }
                for (int64_t r = 0; r < n; ++r)
                    std::memcpy(out + ((std::size_t(r) * columns + c) * channels + k) * size,
                                column_.data() + std::size_t(r) * size, size);
            }
        }
    }

    InputStream input_;
    bool swapped_ = false;
    bool fortran_ = false;
    long start_ = 0;  // where the samples begin
    int64_t done_ = 0;
    std::vector<uint8_t> column_;
};

}  // namespace

std::unique_ptr<RasterReader> open_npy_raster(InputStream input, const ReadOptions&) {
    const NpyHeader header = read_header(input.file());
    return std::make_unique<NpyReader>(std::move(input), header);
}
