// The output file through the real program: a write that fails (file-size
// limit, full file system) or is cut short by a signal leaves the old file
// (or the input, when the output names it) whole and no temporary behind;
// links stay links; pipes are written straight through.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/driver/process.h"

namespace {

namespace fs = std::filesystem;
using runlabel_test::fatal_report;
using runlabel_test::Outcome;
using runlabel_test::read_file;
using runlabel_test::RunOptions;
using runlabel_test::Sandbox;
using runlabel_test::write_file;

// 200 x 200, every pixel 7: one region, one run per row.
constexpr int kSide = 200;
const std::string kSizeLine = "200 200\n255\n";
const std::string kInput = "P5\n" + kSizeLine + std::string(kSide * kSide, '\7');
std::string labels_named(const std::string& output) {
    return "P5\n# " + output + "\n" + kSizeLine + std::string(kSide * kSide, '\1');
}

// What a directory holds: each name with its kind, bytes or link target, mode.
using Snapshot = std::map<std::string, std::string>;

Snapshot snapshot(const fs::path& dir) {
    Snapshot entries;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const fs::path path = entry.path();
        struct stat info {};
        lstat(path.c_str(), &info);
        std::string what = std::to_string(info.st_mode & 07777) + " ";
        if (S_ISLNK(info.st_mode))
            what += "link to " + fs::read_symlink(path).string();
        else if (S_ISFIFO(info.st_mode))
            what += "fifo";
        else
            what += read_file(path).value_or("?");
        entries[path.filename().string()] = what;
    }
    return entries;
}

std::string mode_and(int mode, const std::string& what) {
    return std::to_string(mode) + " " + what;
}

// How the output name relates to the input and to what is there already.
enum class Layout {
    kNewOutput,
    kExistingOutput,
    kOutputIsInput,
    kSymlinkToInput,
    kHardLinkToInput,
    kDanglingSymlink
};
constexpr Layout kLayouts[] = {Layout::kNewOutput,       Layout::kExistingOutput,
                               Layout::kOutputIsInput,   Layout::kSymlinkToInput,
                               Layout::kHardLinkToInput, Layout::kDanglingSymlink};
const char* const kLayoutNames[] = {"NewOutput",      "ExistingOutput",  "OutputIsInput",
                                    "SymlinkToInput", "HardLinkToInput", "DanglingSymlink"};
std::string layout_name(Layout layout) { return kLayoutNames[static_cast<int>(layout)]; }

// Fills dir (a folder of the sandbox named "d") and returns the output name
// to give, relative to the sandbox.
std::string lay_out(const fs::path& dir, Layout layout) {
    write_file(dir / "in.pgm", kInput);
    chmod((dir / "in.pgm").c_str(), 0644);
    switch (layout) {
        case Layout::kNewOutput:
            break;
        case Layout::kExistingOutput:
            write_file(dir / "out.pgm", "earlier contents\n");
            chmod((dir / "out.pgm").c_str(), 0604);
            break;
        case Layout::kOutputIsInput:
            return "d/in.pgm";
        case Layout::kSymlinkToInput:
            fs::create_symlink("in.pgm", dir / "out.pgm");
            break;
        case Layout::kHardLinkToInput:
            fs::create_hard_link(dir / "in.pgm", dir / "out.pgm");
            break;
        case Layout::kDanglingSymlink:
            fs::create_symlink("absent.pgm", dir / "out.pgm");
            break;
    }
    return "d/out.pgm";
}

// A small tmpfs over dir for the life of the object, where mounting is allowed.
class SmallFileSystem {
  public:
    SmallFileSystem(const fs::path& dir, const char* size) : dir_(dir) {
        const std::string options = std::string("size=") + size + ",mode=0755";
        mounted_ = mount("runlabel-test", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                         options.c_str()) == 0;
        if (!mounted_) why_ = std::strerror(errno);
    }
    ~SmallFileSystem() {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }

  private:
    fs::path dir_;
    bool mounted_ = false;
    std::string why_;
};

enum class Failure {
    kFileSizeLimitIgnored,  // RLIMIT_FSIZE with SIGXFSZ ignored: the write fails
    kFileSizeLimit,         // RLIMIT_FSIZE: SIGXFSZ ends the process
    kFullFileSystem,        // ENOSPC
};

class FailedWrite : public testing::TestWithParam<std::tuple<Failure, Layout>> {};

TEST_P(FailedWrite, LeavesTheOldFileAndTheInputWhole) {
    const auto [failure, layout] = GetParam();
    Sandbox box;
    fs::create_directory(box / "d");
    std::optional<SmallFileSystem> small;
    RunOptions options;
    switch (failure) {
        case Failure::kFileSizeLimitIgnored:
            options.ignored_signals = {SIGXFSZ};
            options.file_size_limit = 16384;
            break;
        case Failure::kFileSizeLimit:
            options.file_size_limit = 16384;
            break;
        case Failure::kFullFileSystem:
            // Room for the input, not for the input and the output.
            small.emplace(box / "d", "64k");
            if (!small->mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << small->why();
            break;
    }
    const std::string output = lay_out(box / "d", layout);
    const Snapshot before = snapshot(box / "d");
    const Outcome outcome = box.run({"d/in.pgm", output}, options);
    if (failure == Failure::kFileSizeLimit) {
        EXPECT_EQ(outcome.status, -SIGXFSZ);
        EXPECT_EQ(outcome.err, "");
    } else {
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, fatal_report("Output file write failed"));
        EXPECT_EQ(outcome.out, "Run ID 200 \nTotal 1 regions\n");
    }
    EXPECT_EQ(snapshot(box / "d"), before);
}

std::string failed_write_name(const testing::TestParamInfo<std::tuple<Failure, Layout>>& info) {
    static const char* const kFailures[] = {"FileSizeLimitIgnored", "FileSizeLimit",
                                            "FullFileSystem"};
    return std::string(kFailures[static_cast<int>(std::get<0>(info.param))]) +
           layout_name(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Outputs, FailedWrite,
                         testing::Combine(testing::Values(Failure::kFileSizeLimitIgnored,
                                                          Failure::kFileSizeLimit,
                                                          Failure::kFullFileSystem),
                                          testing::ValuesIn(kLayouts)),
                         failed_write_name);

// A run with several outputs: the table fails after the labels are written
// whole. The labels used to be put in place all the same.
TEST(FailedWrite, OfOneOutputLeavesEveryOutputAsItWas) {
    Sandbox box;
    std::string dots = "P5\n2000 1\n255\n";  // 1000 regions: a table of 20 KiB
    for (int i = 0; i < 2000; ++i) dots += i % 2 ? '\0' : '\1';
    write_file(box / "in.pgm", dots);
    ASSERT_EQ(box.run({"-q", "-s", "whole.csv", "in.pgm", "whole.pgm"}).status, 0);
    const auto table_size = fs::file_size(box / "whole.csv");
    write_file(box / "labels.pgm", "old labels");
    write_file(box / "view.ppm", "old view");
    write_file(box / "table.csv", "old table");
    const Snapshot before = snapshot(box.dir());
    RunOptions options;
    options.ignored_signals = {SIGXFSZ};
    // The table's last byte fails, when it leaves its buffer at the end.
    options.file_size_limit = table_size - 1;
    const Outcome outcome =
        box.run({"-q", "--color", "view.ppm", "-s", "table.csv", "in.pgm", "labels.pgm"}, options);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "runlabel: table.csv: File too large\n");
    EXPECT_EQ(snapshot(box.dir()), before);
}

// Bands painted by several threads and written in turn: a write that fails
// midway stops every painter, whatever band each was at, and the run ends
// with the write message and nothing behind.
TEST(FailedWrite, MidwayThroughTheBandsOfSeveralPainters) {
    Sandbox box(fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
    constexpr int kWide = 2048;  // four bands of a megabyte
    std::string stripes = "P5\n2048 2048\n255\n";
    for (int r = 0; r < kWide; ++r) stripes += std::string(kWide, r % 2 ? '\0' : '\1');
    write_file(box / "in.pgm", stripes);
    RunOptions options;
    options.ignored_signals = {SIGXFSZ};
    options.file_size_limit = kWide * kWide * 5 / 8;
    for (const char* threads : {"-j1", "-j2", "-j3", "-j8"}) {
        const Outcome outcome = box.run({threads, "in.pgm", "out.pgm"}, options);
        EXPECT_EQ(outcome.status, 1) << threads;
        // Nothing reported: the count used to come before the failed write.
        EXPECT_EQ(outcome.out, "") << threads;
        EXPECT_EQ(outcome.err, "runlabel: out.pgm: File too large\n") << threads;
        EXPECT_EQ(box.entries(), std::vector<std::string>{"in.pgm"}) << threads;
    }
}

mode_t current_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

class SuccessfulWrite : public testing::TestWithParam<Layout> {};

TEST_P(SuccessfulWrite, ReplacesWhatTheNameResolvesTo) {
    const Layout layout = GetParam();
    Sandbox box;
    fs::create_directory(box / "d");
    const std::string output = lay_out(box / "d", layout);
    const Outcome outcome = box.run({"d/in.pgm", output});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const std::string labels = labels_named(output);
    Snapshot expected{{"in.pgm", mode_and(0644, kInput)}};
    switch (layout) {
        case Layout::kNewOutput:
            expected["out.pgm"] = mode_and(0666 & ~current_umask(), labels);  // as fopen gives
            break;
        case Layout::kExistingOutput:
            expected["out.pgm"] = mode_and(0604, labels);  // the replaced file's bits
            break;
        case Layout::kOutputIsInput:
            expected["in.pgm"] = mode_and(0644, labels);
            break;
        case Layout::kSymlinkToInput:
            expected["in.pgm"] = mode_and(0644, labels);
            expected["out.pgm"] = mode_and(0777, "link to in.pgm");
            break;
        case Layout::kHardLinkToInput:
            // The name given gets the labels; the input's own name keeps it.
            expected["out.pgm"] = mode_and(0644, labels);
            break;
        case Layout::kDanglingSymlink:
            expected["absent.pgm"] = mode_and(0644, labels);
            expected["out.pgm"] = mode_and(0777, "link to absent.pgm");
            break;
    }
    EXPECT_EQ(snapshot(box / "d"), expected);
}

INSTANTIATE_TEST_SUITE_P(Outputs, SuccessfulWrite, testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(layout_name(info.param)); });

// Whether user may search every directory down to path, as a child run as
// that user would have to.
bool reachable_by(uid_t user, const fs::path& path) {
    const pid_t pid = fork();
    if (pid == 0) {
        const bool as_user = setgroups(0, nullptr) == 0 && setgid(user) == 0 && setuid(user) == 0;
        _exit(as_user && access(path.c_str(), X_OK) == 0 ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// A directory that takes no new file, holding the input and a writable
// out.pgm: the run must go as a user who may not create files there (root
// may), from a copy of the program that user can reach.
class ClosedDirectory {
  public:
    explicit ClosedDirectory(const Sandbox& box) : box_(box) {
        if (geteuid() == 0) {
            options_.user = 65534;
            fs::permissions(box.dir(), fs::perms::others_exec, fs::perm_options::add);
            // The build tree may lie where others may not go (a private
            // checkout): the program is run from a copy in the sandbox.
            options_.binary = (box / "runlabel").string();
            fs::copy_file(RUNLABEL_BINARY, options_.binary);
            if (!reachable_by(*options_.user, options_.binary))
                skip_ = "user " + std::to_string(*options_.user) + " cannot reach " +
                        box.dir().string() + " (a directory above it is closed to others)";
        }
        fs::create_directory(box / "ro");
        write_file(box / "ro" / "in.pgm", kInput);
        write_file(box / "ro" / "out.pgm", "earlier contents\n");
        chmod((box / "ro" / "in.pgm").c_str(), 0644);
        chmod((box / "ro" / "out.pgm").c_str(), 0666);
        stat((box / "ro" / "out.pgm").c_str(), &old_file_);
        chmod((box / "ro").c_str(), 0555);
    }
    const std::string& skip() const { return skip_; }
    Outcome run(const std::vector<std::string>& args) const { return box_.run(args, options_); }
    // The same file as before, its contents whatever they are now.
    bool same_file() const {
        struct stat now {};
        return stat((box_ / "ro" / "out.pgm").c_str(), &now) == 0 &&
               now.st_ino == old_file_.st_ino && snapshot(box_ / "ro").size() == 2;
    }

  private:
    const Sandbox& box_;
    RunOptions options_;
    std::string skip_;
    struct stat old_file_ {};
};

// The classic form has always written such a file where it is.
TEST(SuccessfulWrite, InADirectoryThatTakesNoNewFileWritesInPlace) {
    Sandbox box;
    const ClosedDirectory closed(box);
    if (!closed.skip().empty()) GTEST_SKIP() << closed.skip();
    const Outcome outcome = closed.run({"ro/in.pgm", "ro/out.pgm"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(read_file(box / "ro" / "out.pgm"), labels_named("ro/out.pgm"));
    EXPECT_TRUE(closed.same_file());
}

// Otherwise only when asked: a failed write would lose the old file, and it
// used to be written there all the same.
TEST(InPlaceWrite, IsRefusedUnlessAsked) {
    Sandbox box;
    const ClosedDirectory closed(box);
    if (!closed.skip().empty()) GTEST_SKIP() << closed.skip();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-q", "ro/in.pgm", "ro/out.pgm"},
          std::vector<std::string>{"-q", "-s", "ro/out.pgm", "ro/in.pgm", "/dev/null"}}) {
        const Outcome refused = closed.run(args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err,
                  "runlabel: ro/out.pgm: no temporary file can be made beside it (Permission "
                  "denied); give --in-place to overwrite it directly, knowing that a failed "
                  "write then loses it\n");
        EXPECT_EQ(read_file(box / "ro" / "out.pgm"), "earlier contents\n");
    }
    const Outcome asked = closed.run({"-q", "--in-place", "ro/in.pgm", "ro/out.pgm"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(read_file(box / "ro" / "out.pgm"), labels_named("ro/out.pgm"));
    EXPECT_TRUE(closed.same_file());
}

// A zero image of side x side as a sparse file: large, yet quick to make.
void write_zero_image(const fs::path& path, int side) {
    write_file(path, "P5\n" + std::to_string(side) + " " + std::to_string(side) + "\n255\n");
    fs::resize_file(path, fs::file_size(path) + std::uintmax_t(side) * side);
}

class InterruptedWrite : public testing::TestWithParam<int> {};

TEST_P(InterruptedWrite, RemovesTheTemporaryThenEndsBySignal) {
    const int sig = GetParam();
    Sandbox box;
    write_zero_image(box / "in.pgm", 16384);  // 256 MiB of output, written for long enough
    write_file(box / "out.pgm", "earlier contents\n");
    RunOptions options;
    bool caught = false;
    options.while_running = [&](pid_t pid) {
        // Stop the program once its temporary is there, check that it is, then
        // signal it and let it go on.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!caught && std::chrono::steady_clock::now() < deadline) {
            for (const std::string& name : box.entries())
                if (name.rfind(".out.pgm.", 0) == 0) caught = true;
        }
        if (!caught) return;
        kill(pid, SIGSTOP);
        int status = 0;
        waitpid(pid, &status, WUNTRACED);
        const std::vector<std::string> entries = box.entries();
        caught = entries.size() == 3 && read_file(box / "out.pgm") == "earlier contents\n";
        kill(pid, sig);
        kill(pid, SIGCONT);
    };
    const Outcome outcome = box.run({"in.pgm", "out.pgm"}, options);
    ASSERT_TRUE(caught) << "the program was not caught while writing";
    EXPECT_EQ(outcome.status, -sig);
    EXPECT_EQ(box.entries(), (std::vector<std::string>{"in.pgm", "out.pgm"}));
    EXPECT_EQ(read_file(box / "out.pgm"), "earlier contents\n");
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedWrite, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

struct FifoCase {
    const char* name;
    int sig;  // sent once the first bytes are read; 0: the reader goes away instead
    bool ignored;
    int status;
};

void PrintTo(const FifoCase& c, std::ostream* os) { *os << c.name; }

class FifoOutput : public testing::TestWithParam<FifoCase> {};

TEST_P(FifoOutput, IsWrittenStraightThrough) {
    const FifoCase& c = GetParam();
    Sandbox box;
    write_zero_image(box / "in.pgm", 1024);  // far more than a pipe holds
    ASSERT_EQ(mkfifo((box / "out.fifo").c_str(), 0644), 0);
    RunOptions options;
    if (c.ignored) options.ignored_signals = {c.sig};
    std::string received;
    options.while_running = [&](pid_t pid) {
        const int fd = open((box / "out.fifo").c_str(), O_RDONLY | O_NONBLOCK);
        pollfd ready{fd, POLLIN, 0};
        if (fd < 0 || poll(&ready, 1, 20000) != 1) return;  // the writer never came
        fcntl(fd, F_SETFL, 0);
        char buffer[65536];
        const ssize_t first = read(fd, buffer, 4096);
        if (first > 0) received.append(buffer, static_cast<std::size_t>(first));
        if (c.sig == 0) {
            close(fd);
            return;
        }
        kill(pid, c.sig);
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
            received.append(buffer, static_cast<std::size_t>(n));
        close(fd);
    };
    const Outcome outcome = box.run({"in.pgm", "out.fifo"}, options);
    EXPECT_EQ(outcome.status, c.status);
    // The first bytes came while the program was still writing.
    const std::string header = "P5\n# out.fifo\n1024 1024\n255\n";
    EXPECT_EQ(received.substr(0, header.size()), header);
    if (c.status == 0) {
        EXPECT_EQ(received, header + std::string(1024 * 1024, '\0'));
    }
    EXPECT_EQ(snapshot(box.dir()),
              (Snapshot{{"in.pgm", snapshot(box.dir())["in.pgm"]}, {"out.fifo", "420 fifo"}}));
}

INSTANTIATE_TEST_SUITE_P(Signals, FifoOutput,
                         testing::Values(FifoCase{"Interrupt", SIGINT, false, -SIGINT},
                                         FifoCase{"Terminate", SIGTERM, false, -SIGTERM},
                                         FifoCase{"HangUp", SIGHUP, false, -SIGHUP},
                                         FifoCase{"IgnoredTerminateIsIgnored", SIGTERM, true, 0},
                                         FifoCase{"ReaderGoesAway", 0, false, -SIGPIPE}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
