// An ostream on a raw file descriptor, so that the report can go to the real
// standard output while descriptor 1 points at /dev/null.
#include "bench/quiet_stdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <streambuf>

namespace {

class FdBuf : public std::streambuf {
  public:
    explicit FdBuf(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }

  protected:
    int_type overflow(int_type ch) override {
        if (drain() != 0) return traits_type::eof();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }
    int sync() override { return drain(); }

  private:
    int drain() {
        const char* p = pbase();
        while (p < pptr()) {
            const ssize_t n = ::write(fd_, p, static_cast<std::size_t>(pptr() - p));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return -1;
            p += n;
        }
        setp(buffer_, buffer_ + sizeof buffer_);
        return 0;
    }

    int fd_;
    char buffer_[8192];
};

int report_fd = -1;

[[noreturn]] void give_up(const char* what) {
    std::perror(what);
    std::exit(2);
}

}  // namespace

std::ostream& silence_stdout() {
    std::fflush(stdout);
    report_fd = ::dup(STDOUT_FILENO);
    if (report_fd < 0) give_up("runlabel_bench: dup(stdout)");
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd < 0 || ::dup2(null_fd, STDOUT_FILENO) < 0) give_up("runlabel_bench: /dev/null");
    ::close(null_fd);
    static FdBuf buffer(report_fd);
    static std::ostream stream(&buffer);
    stream.setf(std::ios::unitbuf);  // progress shows while a long case runs
    return stream;
}

bool report_is_terminal() { return report_fd >= 0 && ::isatty(report_fd) != 0; }
