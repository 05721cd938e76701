// OutputFile: the old file stays whole until the new one is complete, links
// keep pointing where they did, permission bits survive, and no temporary
// outlives a failure, an exit or a fatal signal.
#include "support/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

class OutputFileTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/runlabel-output-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    void put(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }

    static std::string contents(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::vector<std::string> entries(const fs::path& dir) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> entries() const { return entries(dir_); }

    static bool write(OutputFile& out, const std::string& bytes) {
        return std::fwrite(bytes.data(), 1, bytes.size(), out.stream()) == bytes.size();
    }

    fs::path dir_;
};

TEST_F(OutputFileTest, OldFileStaysWholeUntilCommit) {
    put("out", "old");
    auto out = OutputFile::open(path("out").c_str());
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(out->seekable());
    ASSERT_TRUE(write(*out, "new contents"));
    std::fflush(out->stream());
    EXPECT_EQ(contents(path("out")), "old");
    const std::vector<std::string> during = entries();
    ASSERT_EQ(during.size(), 2u);  // the old file and one temporary beside it
    EXPECT_TRUE(out->commit());
    EXPECT_TRUE(out->commit());  // the first answer again
    EXPECT_EQ(contents(path("out")), "new contents");
    EXPECT_EQ(entries(), std::vector<std::string>{"out"});
}

TEST_F(OutputFileTest, DiscardedOutputLeavesNothingBehind) {
    // Dropped without commit, or failed by its writer: the old file, or none.
    for (const bool exists : {false, true}) {
        for (const bool failed : {false, true}) {
            SCOPED_TRACE(std::string(exists ? "existing" : "new") + (failed ? ", fail()" : ""));
            fs::remove(path("out"));
            if (exists) put("out", "old");
            {
                auto out = OutputFile::open(path("out").c_str());
                ASSERT_NE(out, nullptr);
                ASSERT_TRUE(write(*out, "partial"));
                if (failed) {
                    out->fail();
                    EXPECT_FALSE(out->commit());
                }
            }
            if (exists)
                EXPECT_EQ(contents(path("out")), "old");
            else
                EXPECT_FALSE(fs::exists(path("out")));
            EXPECT_EQ(entries().size(), exists ? 1u : 0u);
        }
    }
}

struct ModeCase {
    const char* name;
    int existing_mode;  // -1: no file yet
    mode_t umask_bits;
    int expected_mode;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class OutputFileMode : public OutputFileTest, public testing::WithParamInterface<ModeCase> {};

TEST_P(OutputFileMode, KeepsTheReplacedFilesBitsOrFollowsTheUmask) {
    const ModeCase& c = GetParam();
    if (c.existing_mode >= 0) {
        put("out", "old");
        ASSERT_EQ(chmod(path("out").c_str(), static_cast<mode_t>(c.existing_mode)), 0);
    }
    const mode_t saved = umask(c.umask_bits);
    auto out = OutputFile::open(path("out").c_str());
    umask(saved);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(write(*out, "x"));
    ASSERT_TRUE(out->commit());
    struct stat info {};
    ASSERT_EQ(stat(path("out").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, static_cast<mode_t>(c.expected_mode));
}

INSTANTIATE_TEST_SUITE_P(Modes, OutputFileMode,
                         testing::Values(ModeCase{"NewUnderUmask022", -1, 022, 0644},
                                         ModeCase{"NewUnderUmask077", -1, 077, 0600},
                                         ModeCase{"NewUnderUmask0", -1, 0, 0666},
                                         ModeCase{"PrivateFileStaysPrivate", 0600, 0, 0600},
                                         ModeCase{"GroupReadableKept", 0640, 077, 0640},
                                         ModeCase{"ExecutableKept", 0755, 022, 0755},
                                         ModeCase{"WideOpenKeptDespiteUmask", 0666, 077, 0666}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OutputFileTest, LinksStayLinksAndTheirTargetIsReplaced) {
    fs::create_directory(path("sub"));
    put("target", "old");
    fs::create_symlink("target", path("link"));
    fs::create_symlink("../link", path("sub/chain"));       // two hops, relative to sub/
    fs::create_symlink("absent", path("dangling"));         // fopen would create "absent"
    fs::create_symlink(path("sub/new"), path("absolute"));  // dangling, absolute
    for (const char* name : {"link", "sub/chain", "dangling", "absolute"}) {
        SCOPED_TRACE(name);
        auto out = OutputFile::open(path(name).c_str());
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(write(*out, name));
        ASSERT_TRUE(out->commit());
        EXPECT_TRUE(fs::is_symlink(path(name)));
        EXPECT_EQ(contents(path(name)), name);
    }
    EXPECT_EQ(contents(path("target")), "sub/chain");
    EXPECT_EQ(contents(path("absent")), "dangling");
    EXPECT_EQ(contents(path("sub/new")), "absolute");
    EXPECT_EQ(entries(), (std::vector<std::string>{"absent", "absolute", "dangling", "link", "sub",
                                                   "target"}));
    EXPECT_EQ(entries(dir_ / "sub"), (std::vector<std::string>{"chain", "new"}));
}

TEST_F(OutputFileTest, FifoIsWrittenStraightThrough) {
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = contents(path("fifo")); });
    {
        auto out = OutputFile::open(path("fifo").c_str());
        ASSERT_NE(out, nullptr);
        EXPECT_FALSE(out->seekable());
        ASSERT_TRUE(write(*out, "through the pipe"));
        EXPECT_TRUE(out->commit());
    }
    reader.join();
    EXPECT_EQ(received, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(path("fifo")));
    EXPECT_EQ(entries(), std::vector<std::string>{"fifo"});
}

TEST_F(OutputFileTest, DevicesAreWrittenStraightThrough) {
    auto null_out = OutputFile::open("/dev/null");
    ASSERT_NE(null_out, nullptr);
    EXPECT_FALSE(null_out->seekable());
    EXPECT_TRUE(write(*null_out, "gone"));
    EXPECT_TRUE(null_out->commit());
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    auto full = OutputFile::open("/dev/full");
    ASSERT_NE(full, nullptr);
    write(*full, std::string(100000, 'x'));
    EXPECT_FALSE(full->commit());
    EXPECT_TRUE(fs::exists("/dev/full"));
    // Bytes held in the buffer fail as they leave it, with the system's reason.
    auto buffered = OutputFile::open("/dev/full");
    ASSERT_NE(buffered, nullptr);
    EXPECT_TRUE(write(*buffered, "x"));
    EXPECT_FALSE(buffered->flush());
    EXPECT_EQ(buffered->error(), ENOSPC);
    EXPECT_FALSE(buffered->commit());
}

// A file that cannot take a temporary beside it (here one reached through a
// descriptor's link after its name is gone) is written in place only when
// allowed; refused, it is left as it was and the caller is told why.
TEST_F(OutputFileTest, InPlaceWritesOnlyWhenAllowed) {
    put("gone", "old contents");
    const int fd = ::open(path("gone").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(unlink(path("gone").c_str()), 0);
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    bool refused = false;
    EXPECT_EQ(OutputFile::open(link.c_str(), InPlace::kRefused, &refused), nullptr);
    EXPECT_TRUE(refused);
    char bytes[32] = {};
    EXPECT_EQ(pread(fd, bytes, sizeof bytes, 0), 12);
    EXPECT_STREQ(bytes, "old contents");
    auto out = OutputFile::open(link.c_str(), InPlace::kAllowed, &refused);
    ASSERT_NE(out, nullptr);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(write(*out, "new"));
    EXPECT_TRUE(out->commit());
    EXPECT_EQ(pread(fd, bytes, sizeof bytes, 0), 3);
    close(fd);
    EXPECT_TRUE(entries().empty());
}

TEST_F(OutputFileTest, UnopenableNamesGiveNull) {
    put("readonly", "old");
    ASSERT_EQ(chmod(path("readonly").c_str(), 0444), 0);
    fs::create_directory(path("dir"));
    fs::create_symlink("loop", path("loop"));
    EXPECT_EQ(OutputFile::open(path("missing/out").c_str()), nullptr);
    EXPECT_EQ(OutputFile::open(path("dir").c_str()), nullptr);
    EXPECT_EQ(OutputFile::open(path("dir/").c_str()), nullptr);
    EXPECT_EQ(OutputFile::open(path("loop").c_str()), nullptr);
    EXPECT_EQ(OutputFile::open(""), nullptr);
    // Root may write any file, so only others see the refusal.
    if (geteuid() != 0) {
        EXPECT_EQ(OutputFile::open(path("readonly").c_str()), nullptr);
    }
    EXPECT_EQ(contents(path("readonly")), "old");
    EXPECT_EQ(entries(), (std::vector<std::string>{"dir", "loop", "readonly"}));
}

TEST_F(OutputFileTest, SeekableOutputCanPatchWhatItWrote) {
    auto out = OutputFile::open(path("out").c_str());
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(out->seekable());
    ASSERT_TRUE(write(*out, "size=????;data"));
    ASSERT_EQ(std::fseek(out->stream(), 5, SEEK_SET), 0);
    ASSERT_TRUE(write(*out, "0004"));
    ASSERT_TRUE(out->commit());
    EXPECT_EQ(contents(path("out")), "size=0004;data");
}

TEST_F(OutputFileTest, OutputsFromSeveralThreadsAreEachTheirOwn) {
    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int round = 0; round < 20; ++round) {
                const std::string name = path("out" + std::to_string(t));
                auto out = OutputFile::open(name.c_str());
                if (out == nullptr) return ADD_FAILURE() << "open failed";
                write(*out, std::string(1000 + t, static_cast<char>('a' + t)));
                if (!out->commit()) return ADD_FAILURE() << "commit failed";
            }
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(entries().size(), std::size_t(kThreads));
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(contents(path("out" + std::to_string(t))),
                  std::string(1000 + t, static_cast<char>('a' + t)));
}

TEST_F(OutputFileTest, ExitWhileOpenRemovesTheTemporary) {
    put("out", "old");
    const std::string name = path("out");
    EXPECT_EXIT(
        {
            auto out = OutputFile::open(name.c_str());
            write(*out, "partial");
            std::exit(3);  // no destructor runs
        },
        testing::ExitedWithCode(3), "");
    EXPECT_EQ(contents(name), "old");
    EXPECT_EQ(entries(), std::vector<std::string>{"out"});
}

class OutputFileSignal : public OutputFileTest, public testing::WithParamInterface<int> {};

TEST_P(OutputFileSignal, FatalSignalRemovesEveryTemporaryThenEndsTheProcess) {
    const int sig = GetParam();
    put("old", "old");
    const std::string dir = dir_.string();
    EXPECT_EXIT(
        {
            signal(sig, SIG_DFL);
            remove_outputs_on_fatal_signals();
            // Several outputs at once, opened from several threads.
            std::vector<std::unique_ptr<OutputFile>> outs(4);
            std::vector<std::thread> threads;
            for (int i = 0; i < 4; ++i)
                threads.emplace_back([&, i] {
                    const std::string name = dir + (i == 0 ? "/old" : "/new" + std::to_string(i));
                    outs[i] = OutputFile::open(name.c_str());
                    if (outs[i]) write(*outs[i], "partial");
                });
            for (auto& thread : threads) thread.join();
            raise(sig);
            std::_Exit(0);
        },
        testing::KilledBySignal(sig), "");
    EXPECT_EQ(contents(path("old")), "old");
    EXPECT_EQ(entries(), std::vector<std::string>{"old"});
}

INSTANTIATE_TEST_SUITE_P(Signals, OutputFileSignal,
                         testing::Values(SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(OutputFileTest, IgnoredSignalStaysIgnored) {
    const std::string name = path("out");
    EXPECT_EXIT(
        {
            signal(SIGTERM, SIG_IGN);
            remove_outputs_on_fatal_signals();
            auto out = OutputFile::open(name.c_str());
            write(*out, "complete");
            raise(SIGTERM);
            std::_Exit(out->commit() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(contents(name), "complete");
}

TEST_F(OutputFileTest, HandlersAreInstalledOnlyWhenAskedFor) {
    EXPECT_EXIT(
        {
            struct sigaction before {};
            sigaction(SIGTERM, nullptr, &before);
            auto out = OutputFile::open(path("out").c_str());
            struct sigaction after {};
            sigaction(SIGTERM, nullptr, &after);
            const bool untouched = after.sa_handler == before.sa_handler;
            // A host's own handler survives the request too.
            signal(SIGHUP, [](int) {});
            struct sigaction host {};
            sigaction(SIGHUP, nullptr, &host);
            remove_outputs_on_fatal_signals();
            struct sigaction kept {};
            sigaction(SIGHUP, nullptr, &kept);
            std::_Exit(untouched && kept.sa_handler == host.sa_handler ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
