// The report stream: standard output, unless the image itself goes there.
// Bytes that do not reach standard output make the run a failure.
#include "driver/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// A closed descriptor is the lowest free one, so the output or its directory
// would be opened on it and the report (or a fatal message) written into
// that file. A read-only /dev/null holds the place and refuses every write.
void hold_closed_descriptor(int fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) return;
    const int held = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (held < 0 || held == fd) return;
    dup2(held, fd);  // without O_CLOEXEC: a child keeps the place held too
    close(held);
}

}  // namespace

std::FILE* choose_report_stream(const std::vector<std::string>& outputs) {
    hold_closed_descriptor(STDOUT_FILENO);
    hold_closed_descriptor(STDERR_FILENO);
    struct stat standard_output {};
    const bool known = fstat(STDOUT_FILENO, &standard_output) == 0;
    for (const std::string& name : outputs) {
        if (name == "-") return stderr;
        struct stat output {};
        // A device keeps nothing and takes bytes in the order written, so
        // /dev/null (or a terminal) as both is no reason to move the report.
        if (known && stat(name.c_str(), &output) == 0 && output.st_dev == standard_output.st_dev &&
            output.st_ino == standard_output.st_ino && !S_ISCHR(output.st_mode))
            return stderr;
    }
    return stdout;
}

bool report_complete(std::FILE* report, bool classic) {
    if (report != stdout) std::fflush(report);
    errno = 0;
    const bool ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    if (ok) return true;
    if (classic) {
        std::fprintf(stderr, "Standard output write failed\n");
    } else {
        std::fprintf(stderr, "runlabel: standard output: %s\n",
                     errno != 0 ? std::strerror(errno) : "write failed");
    }
    return false;
}

StdoutRoutedTo::StdoutRoutedTo(std::FILE* report) {
    if (report == stdout) return;
    std::fflush(stdout);
    std::fflush(report);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ >= 0 && dup2(fileno(report), STDOUT_FILENO) < 0) {
        close(saved_);
        saved_ = -1;
    }
}

StdoutRoutedTo::~StdoutRoutedTo() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    // Standard output itself was not written: a failure here was the report's.
    std::clearerr(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
}
