// Header parsing for the Netpbm formats, plain and raw, PAM included. Tokens
// may be separated by any whitespace and "#" comments; numbers are checked for
// overflow as they are read, so no size that does not fit the record ever
// leaves this file.
#include "imagefiles/netpbm_header.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "support/raster_size.h"
#include "support/support.h"

namespace {

constexpr int kTokenBuffer = 256;

bool is_space(int ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// Skips whitespace and comments; a comment runs to the end of its line. Returns
// the first byte after them (left unread), or EOF.
int skip_separators(std::FILE* file) {
    for (;;) {
        int ch = std::getc(file);
        if (ch == '#') {
            do ch = std::getc(file);
            while (ch != '\n' && ch != '\r' && ch != EOF);
            if (ch == EOF) return EOF;  // a header cannot end inside a comment
            continue;
        }
        if (is_space(ch)) continue;
        if (ch != EOF) std::ungetc(ch, file);
        return ch;
    }
}

// Reads the digits of a decimal number whose first byte, a sign or a digit,
// has been taken already. Fails on a sign without a digit and on a number
// that does not fit an int; the byte after the number is left unread.
bool parse_number(std::FILE* file, int first, int32_t* value) {
    int ch = first;
    bool negative = false;
    if (ch == '+' || ch == '-') {
        negative = ch == '-';
        ch = std::getc(file);
    }
    if (ch < '0' || ch > '9') return false;
    long long number = 0;
    while (ch >= '0' && ch <= '9') {
        number = number * 10 + (ch - '0');
        if (number > INT_MAX) return false;
        ch = std::getc(file);
    }
    if (ch != EOF) std::ungetc(ch, file);
    *value = static_cast<int32_t>(negative ? -number : number);
    return true;
}

// Reads one decimal number, optionally signed, after any separators.
bool read_number(std::FILE* file, int32_t* value) {
    if (skip_separators(file) == EOF) return false;
    return parse_number(file, std::getc(file), value);
}

// After the height, the size line may go on. A number there is maxval, as
// the Netpbm layout allows; anything else (text, even glued to the height, as
// "%d %d" would leave it) is ignored up to the end of the line, and maxval is
// read after it.
bool read_maxval_after_size(std::FILE* file, int32_t* maxval) {
    int ch;
    do ch = std::getc(file);
    while (ch == ' ' || ch == '\t' || ch == '\v' || ch == '\f');
    if (ch >= '0' && ch <= '9') return parse_number(file, ch, maxval);
    if (ch == '+' || ch == '-') {
        const int next = std::getc(file);
        if (next >= '0' && next <= '9') {
            std::ungetc(next, file);
            return parse_number(file, ch, maxval);
        }
        ch = next;
    }
    if (ch == '#') {
        std::ungetc(ch, file);  // a comment, skipped with the separators
    } else {
        while (ch != '\n' && ch != '\r' && ch != EOF) ch = std::getc(file);
    }
    return read_number(file, maxval);
}

// A width must be followed by whitespace or a comment, left unread; so must a
// PAM keyword.
bool separator_follows(std::FILE* file) {
    int ch = std::getc(file);
    if (ch == EOF) return false;
    std::ungetc(ch, file);
    return is_space(ch) || ch == '#';
}

// Exactly one whitespace byte ends a header; a whitespace-valued first pixel
// after it is a pixel.
void consume_end_byte(std::FILE* file) {
    int ch = std::getc(file);
    if (ch != EOF && !is_space(ch)) std::ungetc(ch, file);
}

// Reads the first token and checks it against magic, or against P1..P7 when
// magic is nullptr. Stores the digit.
bool read_magic(std::FILE* file, const char* magic, char* digit) {
    char token[kTokenBuffer];
    int length = 0;
    int ch;
    do ch = std::getc(file);
    while (is_space(ch));
    // A token longer than the buffer cannot be the magic; stop reading it there.
    while (ch != EOF && !is_space(ch) && ch != '#' && length < kTokenBuffer - 1) {
        token[length++] = static_cast<char>(ch);
        ch = std::getc(file);
    }
    if (ch != EOF && !is_space(ch) && ch != '#') return false;
    if (ch != EOF) std::ungetc(ch, file);
    // Compared by length too: a NUL byte inside the token must not end it early.
    const std::string_view read(token, length);
    if (magic != nullptr) {
        if (read != magic) return false;
    } else if (read.size() != 2 || read[0] != 'P' || read[1] < '1' || read[1] > '7') {
        return false;
    }
    *digit = read[1];
    return true;
}

// Reads a keyword of letters (PAM's header lines), at most max_length of them.
bool read_keyword(std::FILE* file, std::string_view* keyword, char* buffer, int max_length) {
    if (skip_separators(file) == EOF) return false;
    int length = 0;
    int ch = std::getc(file);
    while ((ch >= 'A' && ch <= 'Z') || ch == '_') {
        if (length == max_length) return false;
        buffer[length++] = static_cast<char>(ch);
        ch = std::getc(file);
    }
    if (ch != EOF) std::ungetc(ch, file);
    *keyword = std::string_view(buffer, length);
    return length > 0;
}

// The rest of a TUPLTYPE line; only whether it ends in "_ALPHA" matters.
bool read_tuple_type_ends_in_alpha(std::FILE* file) {
    constexpr std::string_view kAlpha = "_ALPHA";
    char tail[8] = {};
    int kept = 0;
    int ch = std::getc(file);
    while (ch == ' ' || ch == '\t') ch = std::getc(file);
    for (; ch != EOF && ch != '\n' && ch != '\r'; ch = std::getc(file)) {
        if (kept == int(kAlpha.size())) {
            std::memmove(tail, tail + 1, kAlpha.size() - 1);
            --kept;
        }
        tail[kept++] = static_cast<char>(ch);
    }
    // Trailing blanks are not part of the type.
    while (kept > 0 && (tail[kept - 1] == ' ' || tail[kept - 1] == '\t')) --kept;
    if (ch != EOF) std::ungetc(ch, file);
    return std::string_view(tail, kept) == kAlpha;
}

// PAM: keyword lines in any order up to ENDHDR. Width, height, depth and
// maxval must each appear.
HeaderStatus read_pam_fields(std::FILE* file, NetpbmHeader* header) {
    constexpr int kKeywordBuffer = 16;
    char buffer[kKeywordBuffer];
    bool width = false, height = false, depth = false, maxval = false;
    for (;;) {
        std::string_view keyword;
        if (!read_keyword(file, &keyword, buffer, kKeywordBuffer)) return HeaderStatus::kInvalid;
        if (keyword == "ENDHDR") break;
        if (keyword == "TUPLTYPE") {
            header->alpha = read_tuple_type_ends_in_alpha(file);
            continue;
        }
        int32_t* field = keyword == "WIDTH"    ? (width = true, &header->width)
                         : keyword == "HEIGHT" ? (height = true, &header->height)
                         : keyword == "DEPTH"  ? (depth = true, &header->depth)
                         : keyword == "MAXVAL" ? (maxval = true, &header->maxval)
                                               : nullptr;
        if (field == nullptr || !separator_follows(file) || !read_number(file, field))
            return HeaderStatus::kInvalid;
    }
    if (!width || !height || !depth || !maxval) return HeaderStatus::kInvalid;
    if (header->depth < 1 || header->depth > 65535) return HeaderStatus::kInvalid;
    return HeaderStatus::kOk;
}

std::nullptr_t refuse(std::FILE* file, const char* message, const char* name) {
    std::fclose(file);
    std::fprintf(stderr, message, name);
    return nullptr;
}

}  // namespace

HeaderStatus read_netpbm_header(std::FILE* file, const char* magic, NetpbmHeader* header) {
    *header = NetpbmHeader{0, 0, 1, 0, 1, false};
    if (!read_magic(file, magic, &header->magic)) return HeaderStatus::kWrongMagic;
    const char kind = header->magic;
    if (kind == '7') {
        const HeaderStatus status = read_pam_fields(file, header);
        if (status != HeaderStatus::kOk) return status;
    } else {
        if (!read_number(file, &header->width) || !separator_follows(file))
            return HeaderStatus::kInvalid;
        const bool bitmap = kind == '1' || kind == '4';
        if (!read_number(file, &header->height)) return HeaderStatus::kInvalid;
        // A bitmap's raster follows its height; elsewhere text after the
        // height is ignored to the end of its line.
        if (!bitmap && !read_maxval_after_size(file, &header->maxval))
            return HeaderStatus::kInvalid;
        header->depth = kind == '3' || kind == '6' ? 3 : 1;
    }
    if (header->width < 0 || header->height < 0) return HeaderStatus::kInvalid;
    if (header->maxval < 1 || header->maxval > 65535) return HeaderStatus::kInvalid;
    consume_end_byte(file);
    return HeaderStatus::kOk;
}

const char* netpbm_name(char magic) {
    switch (magic) {
        case '1':
        case '4':
            return "PBM";
        case '3':
        case '6':
            return "PPM";
        case '7':
            return "PAM";
        default:
            return "PGM";
    }
}

int netpbm_sample_bits(const NetpbmHeader& header, bool classic) {
    if (header.magic == '1' || header.magic == '4') return 1;
    const bool one_byte = classic && (header.magic == '5' || header.magic == '6');
    return header.maxval > 255 && !one_byte ? 16 : 8;
}

uint64_t netpbm_raster_bytes(const NetpbmHeader& header, bool classic) {
    if (header.magic < '4') return 0;
    std::size_t bytes = 0;
    if (!raster_bytes(header.width, header.height, header.depth,
                      netpbm_sample_bits(header, classic), &bytes))
        return UINT64_MAX;
    return bytes;
}

bool raster_fits_file(std::FILE* file, uint64_t raster_bytes) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return true;
    long position = std::ftell(file);
    if (position < 0) return true;
    auto remaining = static_cast<uint64_t>(info.st_size > position ? info.st_size - position : 0);
    return raster_bytes <= remaining;
}

std::FILE* open_netpbm(const char* file_name, const NetpbmFormat& format, NetpbmHeader* header) {
    std::FILE* file = std::fopen(file_name, "rb");
    if (file == nullptr) fatal_error("Input file not found");
    switch (read_netpbm_header(file, format.magic, header)) {
        case HeaderStatus::kWrongMagic:
            return refuse(file, "Input file is not a %s raw image.\n", format.name);
        case HeaderStatus::kInvalid:
            return refuse(file, "Input file has an invalid %s header.\n", format.name);
        case HeaderStatus::kOk:
            break;
    }
    if (!raster_fits_file(file, netpbm_raster_bytes(*header, true)))
        return refuse(file, "%s\n", "Input file is truncated.");
    return file;
}

bool write_netpbm_header(std::FILE* file, const char* magic, const char* comment, int64_t width,
                         int64_t height, int maxval) {
    bool ok = std::fprintf(file, "%s\n# ", magic) >= 0;
    for (const char* p = comment; *p != '\0' && ok; ++p) {
        char ch = (*p == '\n' || *p == '\r') ? ' ' : *p;
        ok = std::fputc(ch, file) != EOF;
    }
    return ok && std::fprintf(file, "\n%lld %lld\n%d\n", static_cast<long long>(width),
                              static_cast<long long>(height), maxval) >= 0;
}
