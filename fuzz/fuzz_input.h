// Shared plumbing of the fuzz targets: the readers take a file name, fatal
// paths must not end a fuzzing run, and the labeling chatter on standard
// output must not drown the fuzzer's own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imagefiles/netpbm_header.h"

// Thrown by the fatal handler that prepare_fuzz_process installs; a target
// catches it as an expected outcome.
struct FatalStop {
    const char* message;
};

// Once per process: routes fatal_error to a FatalStop throw and sends standard
// output to /dev/null. Cheap to call on every input.
void prepare_fuzz_process();

// Holds the bytes in an in-memory file and returns a name that opens it
// ("/proc/self/fd/N"). The name stays valid until the next call.
const char* fuzz_input_file(const uint8_t* data, std::size_t size);

// Caps the images a target decodes so that one input stays fast: false when
// the named file has a valid header of that format but declares more than
// kMaxSide rows or columns or more than kMaxPixels pixels.
constexpr int kMaxSide = 1 << 16;
constexpr uint64_t kMaxPixels = 1 << 16;
bool header_within_cap(const char* file_name, const NetpbmFormat& format);

// Ends the process with a report the fuzzer records as a crash.
[[noreturn]] void fuzz_failure(const char* condition, const char* file, int line);
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzz_failure(#condition, __FILE__, __LINE__))

// True when the bytes open with the magic token standing alone: optional
// whitespace, the magic, then whitespace, "#" or the end.
bool opens_with_magic(const uint8_t* data, std::size_t size, const char* magic);

// A scratch output name (another in-memory file) for round trips.
const char* fuzz_output_file();
