// The built runlabel run as a separate process inside a scratch directory:
// exit status, standard output and standard error collected for the tests.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
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

struct RunOptions {
    std::string program_name = "runlabel";  // argv[0]
    std::optional<std::string> input;       // fed through a pipe; otherwise stdin is /dev/null
    bool limit_memory = false;              // cap the child's memory at kMemoryLimitMb
};

// A scratch directory per test, removed afterwards; runlabel runs inside it so
// that file names (and the output's comment line) are short and fixed.
class Sandbox {
  public:
    Sandbox() {
        std::string pattern = (fs::temp_directory_path() / "runlabel-cli-XXXXXX").string();
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
        int pipe_fds[2] = {-1, -1};
        if (options.input && pipe(pipe_fds) != 0) ADD_FAILURE() << "pipe failed";

        const pid_t pid = fork();
        if (pid == 0) {
            const int in = options.input ? pipe_fds[0] : open("/dev/null", O_RDONLY);
            const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
                dup2(err, 2) < 0 || chdir(dir.c_str()) != 0)
                _exit(127);
            if (options.input) close(pipe_fds[1]);
            if (options.limit_memory) {
#ifdef RUNLABEL_TEST_UNDER_ASAN
                putenv(asan_options.data());
#else
                const rlim_t bytes = rlim_t(kMemoryLimitMb) << 20;
                const rlimit limit{bytes, bytes};
                if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
#endif
            }
            execv(RUNLABEL_BINARY, argv.data());
            _exit(127);
        }
        if (options.input) {
            close(pipe_fds[0]);
            // The child may stop reading early; that is its answer, not an error here.
            signal(SIGPIPE, SIG_IGN);
            const std::string& bytes = *options.input;
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t n = write(pipe_fds[1], bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            close(pipe_fds[1]);
        }
        Outcome outcome{-1000, "", ""};
        int wait_status = 0;
        if (pid < 0 || waitpid(pid, &wait_status, 0) != pid) {
            ADD_FAILURE() << "could not run " << RUNLABEL_BINARY;
            return outcome;
        }
        if (WIFEXITED(wait_status)) outcome.status = WEXITSTATUS(wait_status);
        if (WIFSIGNALED(wait_status)) outcome.status = -WTERMSIG(wait_status);
        outcome.out = read_file(out_path).value_or("");
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
