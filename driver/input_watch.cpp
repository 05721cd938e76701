// The input's size and modification time, before and after it is read.
#include "driver/input_watch.h"

#include <fcntl.h>
#include <unistd.h>

InputWatch::InputWatch(const std::string& path) {
    if (path == "-") {
        fd_ = STDIN_FILENO;
    } else {
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        owned_ = fd_ >= 0;
    }
    if (fd_ >= 0 && (fstat(fd_, &noted_) != 0 || !S_ISREG(noted_.st_mode))) {
        if (owned_) close(fd_);
        fd_ = -1;
        owned_ = false;
    }
}

InputWatch::~InputWatch() {
    if (owned_) close(fd_);
}

bool InputWatch::changed() const {
    struct stat now {};
    if (fd_ < 0) return false;
    if (fstat(fd_, &now) != 0) return true;
    return now.st_size != noted_.st_size || now.st_mtim.tv_sec != noted_.st_mtim.tv_sec ||
           now.st_mtim.tv_nsec != noted_.st_mtim.tv_nsec;
}
