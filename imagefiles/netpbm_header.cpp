// Header parsing for the raw Netpbm formats. Tokens may be separated by any
// whitespace and "#" comments; numbers are checked for overflow as they are
// read, so no size that does not fit the record ever leaves this file.
#include "imagefiles/netpbm_header.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <string_view>

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

// A width must be followed by whitespace or a comment, left unread.
bool separator_follows(std::FILE* file) {
    int ch = std::getc(file);
    if (ch == EOF) return false;
    std::ungetc(ch, file);
    return is_space(ch) || ch == '#';
}

enum class HeaderStatus { kOk, kWrongMagic, kInvalid };

// Reads magic, width, height and maxval with any whitespace and "#" comments
// between them (and text after the height ignored to the end of its line),
// then consumes the one whitespace byte that ends the header.
HeaderStatus read_netpbm_header(std::FILE* file, const char* magic, NetpbmHeader* header) {
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
    // Compared by length too: a NUL byte inside the token must not end it early.
    if (std::string_view(token, length) != magic || (ch != EOF && !is_space(ch) && ch != '#'))
        return HeaderStatus::kWrongMagic;
    if (ch != EOF) std::ungetc(ch, file);

    if (!read_number(file, &header->width) || !separator_follows(file))
        return HeaderStatus::kInvalid;
    if (!read_number(file, &header->height)) return HeaderStatus::kInvalid;
    if (!read_maxval_after_size(file, &header->maxval)) return HeaderStatus::kInvalid;
    if (header->width < 0 || header->height < 0) return HeaderStatus::kInvalid;
    if (header->maxval < 1 || header->maxval > 65535) return HeaderStatus::kInvalid;
    // Exactly one whitespace byte ends the header; a whitespace-valued first
    // pixel after it is a pixel.
    ch = std::getc(file);
    if (ch != EOF && !is_space(ch)) std::ungetc(ch, file);
    return HeaderStatus::kOk;
}

// Streams of unknown size always pass; their shortfall shows when read.
bool raster_fits_file(std::FILE* file, uint64_t raster_bytes) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return true;
    long position = std::ftell(file);
    if (position < 0) return true;
    auto remaining = static_cast<uint64_t>(info.st_size > position ? info.st_size - position : 0);
    return raster_bytes <= remaining;
}

std::nullptr_t refuse(std::FILE* file, const char* message, const char* name) {
    std::fclose(file);
    std::fprintf(stderr, message, name);
    return nullptr;
}

}  // namespace

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
    const uint64_t raster = uint64_t(header->width) * uint64_t(header->height) * format.samples;
    if (!raster_fits_file(file, raster)) return refuse(file, "%s\n", "Input file is truncated.");
    return file;
}

void refuse_truncated(std::FILE* file) { refuse(file, "%s\n", "Input file is truncated."); }

bool write_netpbm_header(std::FILE* file, const char* magic, const char* file_name, int width,
                         int height, int maxval) {
    bool ok = std::fprintf(file, "%s\n# ", magic) >= 0;
    for (const char* p = file_name; *p != '\0' && ok; ++p) {
        char ch = (*p == '\n' || *p == '\r') ? ' ' : *p;
        ok = std::fputc(ch, file) != EOF;
    }
    return ok && std::fprintf(file, "\n%d %d\n%d\n", width, height, maxval) >= 0;
}
