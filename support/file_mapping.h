// Read-only mappings of part of a regular file, so that a large input is read
// in place instead of copied into fresh memory. A file cut short by another
// process while mapped would end the process with SIGBUS at the first touch
// of a page past its new end; under the guard such pages read as zeros and
// the mapping records that it lost them, for the reader to report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class FileMapping {
  public:
    // Maps bytes [offset, offset + length) of the regular file open as fd.
    // populate asks for every page to be mapped now, in one call, rather than
    // fault by fault. Returns nullptr (callers read the bytes instead) when
    // the guard is not installed, when length is 0, when the file does not
    // hold the bytes now or may have holes (mapped, a hole in a file in
    // memory would take memory of its own), and when the kernel refuses.
    // Thread-safe.
    static std::unique_ptr<FileMapping> map(int fd, uint64_t offset, std::size_t length,
                                            bool populate);

    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    const uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

    // False once a page of the mapping was found gone from the file (cut
    // short, or unreadable): its bytes, and those after it, read as zeros.
    bool intact() const;

  private:
    FileMapping() = default;

    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    void* mapping_ = nullptr;
    std::size_t mapped_ = 0;
    int slot_ = -1;
};

// Installs the SIGBUS handler that turns the lost pages of FileMapping's
// mappings into zeros. A fault anywhere else goes to the handler that was
// there before, or ends the process as it would have. For programs, not
// libraries: until it is called, FileMapping::map maps nothing.
void guard_file_mappings();
