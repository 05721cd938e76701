// Internal to imagefiles: an opened input with its first bytes peeked, so that
// a format can be recognised by content on a pipe as well as on a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Owns its stream (standard input is wrapped, never closed). Move-only.
class InputStream {
  public:
    InputStream() = default;
    InputStream(std::FILE* file, bool seekable) : file_(file), seekable_(seekable) {}
    InputStream(InputStream&& other) noexcept;
    InputStream& operator=(InputStream&& other) noexcept;
    ~InputStream();

    std::FILE* file() const { return file_; }
    // A regular file at a known position: readers may seek and stat it.
    bool seekable() const { return seekable_; }

  private:
    std::FILE* file_ = nullptr;
    bool seekable_ = false;
};

// The longest signature open_input peeks at.
inline constexpr std::size_t kSignatureBytes = 8;

// Opens path ("-" is standard input) and copies its first bytes (up to
// kSignatureBytes; *peeked tells how many) into signature, leaving the stream at
// its first byte: a regular file is rewound, anything else is wrapped in a
// stream that replays those bytes before the rest. Throws ImageError(kNotFound,
// "Input file not found") when the path cannot be opened.
InputStream open_input(const char* path, uint8_t* signature, std::size_t* peeked);

// Copies the rest of a non-seekable input into an anonymous temporary file and
// returns that, positioned at its start. Throws ImageError(kInvalid) when the
// copy fails.
InputStream spool_to_temporary(InputStream input);
