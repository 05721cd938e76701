// Inputs by name or standard input. A pipe cannot be rewound after its
// signature has been read, so its first bytes are kept and handed out again by
// a cookie stream ahead of the rest; every reader then sees the whole input.
#include "imagefiles/input_stream.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "imagefiles/raster.h"

namespace {

struct Replay {
    std::FILE* source;
    bool close_source;
    uint8_t bytes[kSignatureBytes];
    std::size_t size;
    std::size_t next = 0;
};

ssize_t replay_read(void* cookie, char* buffer, std::size_t size) {
    auto* replay = static_cast<Replay*>(cookie);
    std::size_t given = 0;
    if (replay->next < replay->size) {
        given = std::min(size, replay->size - replay->next);
        std::memcpy(buffer, replay->bytes + replay->next, given);
        replay->next += given;
        if (given == size) return static_cast<ssize_t>(given);
    }
    const std::size_t got = std::fread(buffer + given, 1, size - given, replay->source);
    if (got == 0 && given == 0 && std::ferror(replay->source)) return -1;
    return static_cast<ssize_t>(given + got);
}

int replay_close(void* cookie) {
    auto* replay = static_cast<Replay*>(cookie);
    int status = replay->close_source ? std::fclose(replay->source) : 0;
    delete replay;
    return status;
}

bool is_regular(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

InputStream::InputStream(InputStream&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), seekable_(other.seekable_) {}

InputStream& InputStream::operator=(InputStream&& other) noexcept {
    if (this != &other) {
        if (file_ != nullptr) std::fclose(file_);
        file_ = std::exchange(other.file_, nullptr);
        seekable_ = other.seekable_;
    }
    return *this;
}

InputStream::~InputStream() {
    if (file_ != nullptr) std::fclose(file_);
}

InputStream open_input(const char* path, uint8_t* signature, std::size_t* peeked) {
    const bool standard_input = std::strcmp(path, "-") == 0;
    std::FILE* file = standard_input ? stdin : std::fopen(path, "rb");
    if (file == nullptr)
        throw ImageError(ImageError::Kind::kNotFound, "Input file not found", errno);
    // fopen takes a directory, whose first read then fails: no image at all.
    struct stat opened {};
    if (fstat(fileno(file), &opened) == 0 && S_ISDIR(opened.st_mode)) {
        if (!standard_input) std::fclose(file);
        throw ImageError(ImageError::Kind::kNotFound, "Input file not found", EISDIR);
    }
    if (!standard_input && is_regular(file)) {
        *peeked = std::fread(signature, 1, kSignatureBytes, file);
        std::rewind(file);
        return InputStream(file, true);
    }
    auto* replay = new Replay{file, !standard_input, {}, 0};
    replay->size = std::fread(replay->bytes, 1, kSignatureBytes, file);
    std::memcpy(signature, replay->bytes, replay->size);
    *peeked = replay->size;
    std::FILE* stream = fopencookie(replay, "rb", {replay_read, nullptr, nullptr, replay_close});
    if (stream == nullptr) {
        replay_close(replay);
        throw std::bad_alloc();
    }
    return InputStream(stream, false);
}

InputStream spool_to_temporary(InputStream input) {
    std::FILE* spool = std::tmpfile();
    if (spool == nullptr)
        throw ImageError(ImageError::Kind::kInvalid,
                         "Input file could not be copied to a temporary file.");
    InputStream result(spool, true);
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, input.file())) > 0)
        if (std::fwrite(buffer, 1, got, spool) != got) break;
    if (std::ferror(input.file()) || std::ferror(spool) || std::fflush(spool) != 0)
        throw ImageError(ImageError::Kind::kInvalid,
                         "Input file could not be copied to a temporary file.");
    std::rewind(spool);
    return result;
}
