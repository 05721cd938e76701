// In-memory files for the fuzz targets. The readers open them by name through
// /proc/self/fd, so they see a regular file whose size is known, as on disk.
#include "fuzz/fuzz_input.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "imagefiles/netpbm_header.h"
#include "support/support.h"

namespace {

[[noreturn]] void throw_fatal(const char* message) { throw FatalStop{message}; }

struct MemoryFile {
    int fd = -1;
    std::string name;
};

MemoryFile make_memory_file(const char* label) {
    MemoryFile file;
    file.fd = memfd_create(label, 0);
    if (file.fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    file.name = "/proc/self/fd/" + std::to_string(file.fd);
    return file;
}

}  // namespace

void prepare_fuzz_process() {
    static const bool prepared = [] {
        set_fatal_handler(throw_fatal);
        if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
        return true;
    }();
    (void)prepared;
}

const char* fuzz_input_file(const uint8_t* data, std::size_t size) {
    static const MemoryFile input = make_memory_file("fuzz-input");
    if (ftruncate(input.fd, 0) != 0 ||
        (size > 0 && pwrite(input.fd, data, size, 0) != static_cast<ssize_t>(size))) {
        std::perror("fuzz input");
        std::abort();
    }
    return input.name.c_str();
}

void fuzz_failure(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

bool opens_with_magic(const uint8_t* data, std::size_t size, const char* magic) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t start = bytes.find_first_not_of(" \t\n\v\f\r");
    if (start == std::string_view::npos || bytes.substr(start, 2) != magic) return false;
    const std::string_view rest = bytes.substr(start + 2);
    return rest.empty() || std::string_view(" \t\n\v\f\r#").find(rest[0]) != std::string_view::npos;
}

const char* fuzz_output_file() {
    static const MemoryFile output = make_memory_file("fuzz-output");
    return output.name.c_str();
}

bool header_within_cap(const char* file_name, const NetpbmFormat& format) {
    NetpbmHeader header{};
    std::FILE* file = open_netpbm(file_name, format, &header);
    if (file == nullptr) return true;  // refused before any allocation
    std::fclose(file);
    return header.width <= kMaxSide && header.height <= kMaxSide &&
           uint64_t(header.width) * uint64_t(header.height) <= kMaxPixels;
}
