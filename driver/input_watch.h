// Whether the input file changed while it was read. A file read in place (it
// is mapped) and written meanwhile would give labels of two images mixed, so
// the run compares the file before and after, as archivers do.
#pragma once

#include <sys/stat.h>

#include <string>

class InputWatch {
  public:
    // Notes the state of path ("-": standard input) now. Anything that is not
    // a regular file (a pipe, a terminal) is read once as it comes and is
    // never reported changed.
    explicit InputWatch(const std::string& path);
    InputWatch(const InputWatch&) = delete;
    InputWatch& operator=(const InputWatch&) = delete;
    ~InputWatch();

    // True when the file noted is now of another size or modification time.
    bool changed() const;

  private:
    int fd_ = -1;  // the file noted, kept open so that a rename cannot swap it
    bool owned_ = false;
    struct stat noted_ {};
};
