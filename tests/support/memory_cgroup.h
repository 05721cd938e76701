// A memory cgroup with a limit, made for one test and removed afterwards, for
// a child process to join before it starts. Where none can be made (no
// memory controller, no permission), why() says so and the test skips.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace runlabel_test {

class MemoryCgroup {
  public:
    explicit MemoryCgroup(unsigned long long limit_bytes) {
        namespace fs = std::filesystem;
        static std::atomic<int> made{0};
        const std::string name =
            "runlabel-test-" + std::to_string(getpid()) + "-" + std::to_string(made++);
        std::string limit_file;
        std::string v1;
        if (own_cgroup("memory", &v1) &&
            fs::exists("/sys/fs/cgroup/memory" + v1 + "/memory.limit_in_bytes")) {
            dir_ = "/sys/fs/cgroup/memory" + v1 + "/" + name;
            limit_file = "memory.limit_in_bytes";
        } else if (slurp("/sys/fs/cgroup/cgroup.subtree_control").find("memory") !=
                   std::string::npos) {
            // Version 2: a child of the root, the one cgroup exempt from the
            // rule that processes live only in leaves.
            dir_ = "/sys/fs/cgroup/" + name;
            limit_file = "memory.max";
        } else {
            why_ = "no memory cgroup controller found";
            dir_.clear();
            return;
        }
        if (mkdir(dir_.c_str(), 0755) != 0) {
            why_ = "cannot make " + dir_ + ": " + std::strerror(errno);
            dir_.clear();
            return;
        }
        if (!put(limit_file, std::to_string(limit_bytes))) {
            why_ = "cannot set " + dir_ + "/" + limit_file + ": " + std::strerror(errno);
            return;
        }
        put("memory.swap.max", "0");  // version 2: the limit holds without swap
        procs_ = dir_ + "/cgroup.procs";
    }

    ~MemoryCgroup() {
        if (dir_.empty()) return;
        // The last member has been reaped, but the kernel may lag a moment.
        for (int attempt = 0; attempt < 100 && rmdir(dir_.c_str()) != 0 && errno == EBUSY;
             ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    MemoryCgroup(const MemoryCgroup&) = delete;
    MemoryCgroup& operator=(const MemoryCgroup&) = delete;

    bool ok() const { return !procs_.empty(); }
    const std::string& why() const { return why_; }
    // The file a process writes "0" into to join.
    const std::string& procs() const { return procs_; }

  private:
    static std::string slurp(const std::string& path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // This process's cgroup path under the version 1 controller named, "" for
    // the root.
    static bool own_cgroup(const std::string& controller, std::string* path) {
        std::ifstream in("/proc/self/cgroup");
        for (std::string line; std::getline(in, line);) {
            const std::size_t first = line.find(':');
            const std::size_t second = line.find(':', first + 1);
            if (first == std::string::npos || second == std::string::npos) continue;
            const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
            if (controllers.find("," + controller + ",") != std::string::npos) {
                *path = line.substr(second + 1);
                if (*path == "/") path->clear();
                return true;
            }
        }
        return false;
    }

    bool put(const std::string& file, const std::string& value) const {
        const int fd = open((dir_ + "/" + file).c_str(), O_WRONLY);
        if (fd < 0) return false;
        const bool ok = write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
        close(fd);
        return ok;
    }

    std::string dir_;
    std::string procs_;
    std::string why_;
};

}  // namespace runlabel_test
