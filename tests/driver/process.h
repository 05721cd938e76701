// The built runlabel run as a separate process inside a scratch directory:
// exit status, standard output and standard error collected for the tests.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define RUNLABEL_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RUNLABEL_TEST_UNDER_ASAN 1
#endif
#endif

namespace runlabel_test {

namespace fs = std::filesystem;

struct Outcome {
    int status;  // exit status, or -signal when the process was killed
    std::string out;
    std::string err;
    long peak_rss_kb = 0;  // the child's largest resident set
};

inline std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The three-line report of fatal_error.
inline std::string fatal_report(const std::string& message) {
    return "Program encounters run-time error...\n" + message + "\n...now exiting to system...\n";
}

// The heap a memory-limited child may use: enough for the program itself,
// far too little for the images the limit is meant to refuse.
constexpr int kMemoryLimitMb = 512;

// How the child's standard output is set up; out collects what reached it.
enum class StdoutKind {
    kFile,    // a file beside the sandbox
    kPipe,    // a pipe drained as the child writes
    kClosed,  // no descriptor 1 at all
    kPath,    // stdout_path, opened for writing (e.g. /dev/full or a file in the sandbox)
};

struct RunOptions {
    std::string program_name = "runlabel";  // argv[0]
    std::optional<std::string> input;       // fed through a pipe; otherwise stdin is /dev/null
    std::size_t input_piece = 0;            // when set, input goes in pieces of this size, paused
    bool limit_memory = false;              // cap the child's memory at kMemoryLimitMb
    StdoutKind stdout_kind = StdoutKind::kFile;
    std::string stdout_path;                    // for kPath, relative to the sandbox
    std::optional<rlim_t> file_size_limit;      // RLIMIT_FSIZE, bytes
    std::optional<rlim_t> address_space_limit;  // RLIMIT_AS, bytes
    std::optional<rlim_t> data_limit;           // RLIMIT_DATA, bytes
    std::vector<int> ignored_signals;  // SIG_IGN in the child; every other signal at its default
    std::string cgroup_procs;          // a cgroup.procs file the child joins before it starts
    std::optional<uid_t> user;         // run as this user and group (needs root)
    std::string binary = RUNLABEL_BINARY;  // the program run
    // Called in the test once the child has started, before it is waited for.
    std::function<void(pid_t)> while_running;
};

// A scratch directory per test, removed afterwards; runlabel runs inside it so
// that file names (and the output's comment line) are short and fixed.
class Sandbox {
  public:
    // In base: the temporary directory, or /dev/shm for large files that
    // need not touch a disk.
    explicit Sandbox(const fs::path& base = fs::temp_directory_path()) {
        std::string pattern = (base / "runlabel-cli-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        dir_ = pattern;
    }
    ~Sandbox() {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir_, ignored);
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    fs::path operator/(const std::string& name) const { return dir_ / name; }
    const fs::path& dir() const { return dir_; }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Runs the program with argv[0] = program_name and the given arguments.
    Outcome run(const std::vector<std::string>& args,
                const std::string& program_name = "runlabel") const {
        RunOptions options;
        options.program_name = program_name;
        return run(args, options);
    }

    Outcome run(const std::vector<std::string>& args, const RunOptions& options) const {
        const std::string out_path = (dir_.parent_path() / (dir_.filename().string() + ".out"));
        const std::string err_path = (dir_.parent_path() / (dir_.filename().string() + ".err"));
        std::vector<std::string> words = {options.program_name};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        argv.reserve(words.size() + 1);
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        const std::string dir = dir_.string();
        // Under the address sanitizer an address-space limit would break its
        // shadow memory, so the limit is its own allocator's instead.
        std::string asan_options = "ASAN_OPTIONS=";
        if (const char* inherited = std::getenv("ASAN_OPTIONS")) asan_options += inherited;
        asan_options +=
            ":allocator_may_return_null=1:max_allocation_size_mb=" + std::to_string(kMemoryLimitMb);
        // Inside a memory cgroup the sanitizer's quarantine of freed blocks
        // would count against the limit the program is weighed by.
        std::string asan_in_cgroup = "ASAN_OPTIONS=";
        if (const char* inherited = std::getenv("ASAN_OPTIONS")) asan_in_cgroup += inherited;
        asan_in_cgroup += ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
        int pipe_fds[2] = {-1, -1};
        if (options.input && pipe(pipe_fds) != 0) ADD_FAILURE() << "pipe failed";
        int out_pipe[2] = {-1, -1};
        const bool out_is_pipe = options.stdout_kind == StdoutKind::kPipe;
        if (out_is_pipe && pipe(out_pipe) != 0) ADD_FAILURE() << "pipe failed";
        const std::string stdout_path = (dir_ / options.stdout_path).string();
        const std::string pid_line = "0\n";

        const pid_t pid = fork();
        if (pid == 0) {
            const int in = options.input ? pipe_fds[0] : open("/dev/null", O_RDONLY);
            int out = -1;
            switch (options.stdout_kind) {
                case StdoutKind::kFile:
                case StdoutKind::kClosed:
                    out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                    break;
                case StdoutKind::kPipe:
                    out = out_pipe[1];
                    break;
                case StdoutKind::kPath:
                    out = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                    break;
            }
            const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
                dup2(err, 2) < 0 || chdir(dir.c_str()) != 0)
                _exit(127);
            if (options.input) close(pipe_fds[1]);
            if (out_is_pipe) close(out_pipe[0]);
            if (options.stdout_kind == StdoutKind::kClosed) close(1);
            // Whatever the test process had: default dispositions, nothing
            // blocked, no core files left in the sandbox.
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
            for (int sig : options.ignored_signals) signal(sig, SIG_IGN);
            const rlimit no_core{0, 0};
            setrlimit(RLIMIT_CORE, &no_core);
            const auto limit = [](int resource, const std::optional<rlim_t>& bytes) {
                if (!bytes) return true;
                const rlimit value{*bytes, *bytes};
                return setrlimit(resource, &value) == 0;
            };
            if (!limit(RLIMIT_FSIZE, options.file_size_limit) ||
                !limit(RLIMIT_AS, options.address_space_limit) ||
                !limit(RLIMIT_DATA, options.data_limit))
                _exit(127);
            if (!options.cgroup_procs.empty()) {
                // "0" is the writing process itself.
                const int procs = open(options.cgroup_procs.c_str(), O_WRONLY);
                if (procs < 0 || write(procs, pid_line.data(), pid_line.size()) < 0) _exit(127);
                close(procs);
#ifdef RUNLABEL_TEST_UNDER_ASAN
                putenv(asan_in_cgroup.data());
#endif
            }
            if (options.user && (setgroups(0, nullptr) != 0 || setgid(*options.user) != 0 ||
                                 setuid(*options.user) != 0))
                _exit(127);
            if (options.limit_memory) {
#ifdef RUNLABEL_TEST_UNDER_ASAN
                putenv(asan_options.data());
#else
                const rlim_t bytes = rlim_t(kMemoryLimitMb) << 20;
                const rlimit limit{bytes, bytes};
                if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
#endif
            }
            execv(options.binary.c_str(), argv.data());
            _exit(127);
        }
        std::string piped_out;
        std::thread drain;
        if (out_is_pipe) {
            close(out_pipe[1]);
            drain = std::thread([&piped_out, fd = out_pipe[0]] {
                char buffer[65536];
                for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
                    piped_out.append(buffer, static_cast<std::size_t>(n));
                close(fd);
            });
        }
        if (options.input) {
            close(pipe_fds[0]);
            // The child may stop reading early; that is its answer, not an error here.
            signal(SIGPIPE, SIG_IGN);
            const std::string& bytes = *options.input;
            for (std::size_t done = 0; done < bytes.size();) {
                std::size_t piece = bytes.size() - done;
                if (options.input_piece != 0) {
                    piece = std::min(piece, options.input_piece);
                    usleep(200);  // so that the reader meets the pipe empty
                }
                const ssize_t n = write(pipe_fds[1], bytes.data() + done, piece);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            close(pipe_fds[1]);
        }
        if (options.while_running && pid > 0) options.while_running(pid);
        Outcome outcome{-1000, "", "", 0};
        int wait_status = 0;
        rusage usage{};
        const bool waited = pid > 0 && wait4(pid, &wait_status, 0, &usage) == pid;
        outcome.peak_rss_kb = usage.ru_maxrss;
        if (drain.joinable()) drain.join();
        if (!waited) {
            ADD_FAILURE() << "could not run " << options.binary;
            return outcome;
        }
        if (WIFEXITED(wait_status)) outcome.status = WEXITSTATUS(wait_status);
        if (WIFSIGNALED(wait_status)) outcome.status = -WTERMSIG(wait_status);
        outcome.out = out_is_pipe ? piped_out : read_file(out_path).value_or("");
        if (options.stdout_kind == StdoutKind::kPath) outcome.out = "";
        outcome.err = read_file(err_path).value_or("");
#ifdef RUNLABEL_TEST_UNDER_ASAN
        if (options.limit_memory) drop_refusal_notices(outcome.err);
#endif
        fs::remove(out_path);
        fs::remove(err_path);
        return outcome;
    }

  private:
    // The sanitizer's allocator announces each request the limit refuses
    // ("==PID==WARNING: AddressSanitizer failed to allocate 0x... bytes"); that
    // line belongs to the limit, not to the program.
    static void drop_refusal_notices(std::string& err) {
        const std::string notice = "WARNING: AddressSanitizer failed to allocate 0x";
        for (std::size_t at = err.find(notice); at != std::string::npos; at = err.find(notice)) {
            const std::size_t start = err.rfind('\n', at);
            const std::size_t begin = start == std::string::npos ? 0 : start + 1;
            const std::size_t end = err.find('\n', at);
            err.erase(begin, end == std::string::npos ? std::string::npos : end + 1 - begin);
        }
    }

    fs::path dir_;
};

}  // namespace runlabel_test
