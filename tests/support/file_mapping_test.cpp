// FileMapping: a file cut short under its mapping reads as zeros past the
// cut and says so, rather than ending the process; a SIGBUS of anyone else's
// still ends it; and bytes that would fault or fill a hole are not mapped.
#include "support/file_mapping.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/sanitized.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPage = 4096;

class FileMappingTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { guard_file_mappings(); }

    void SetUp() override {
        // A file in memory where there is one: its holes are the costly kind.
        const fs::path base =
            fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "runlabel-mapping-XXXXXX").string();
        fd_ = mkstemp(pattern.data());
        ASSERT_GE(fd_, 0);
        path_ = pattern;
    }
    void TearDown() override {
        close(fd_);
        fs::remove(path_);
    }

    // Bytes 1, 2, 3 ... (mod 251, never 0) over `size` bytes.
    void fill(std::size_t size) const {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(1 + i % 251);
        ASSERT_EQ(pwrite(fd_, bytes.data(), size, 0), static_cast<ssize_t>(size));
    }

    int fd_ = -1;
    fs::path path_;
};

TEST_F(FileMappingTest, FileCutShortReadsZerosPastTheCut) {
    fill(4 * kPage);
    const std::unique_ptr<FileMapping> mapping = FileMapping::map(fd_, 100, 4 * kPage - 100, true);
    ASSERT_NE(mapping, nullptr);
    EXPECT_TRUE(mapping->intact());
    ASSERT_EQ(ftruncate(fd_, 2 * kPage - 50), 0);
    const volatile uint8_t* bytes = mapping->data();
    // Up to the cut (the rest of its page included) the bytes are the file's.
    for (std::size_t i = 0; i + 100 < 2 * kPage - 50; ++i)
        ASSERT_EQ(bytes[i], 1 + (i + 100) % 251) << i;
    EXPECT_TRUE(mapping->intact());
    for (std::size_t i = 2 * kPage - 100; i < mapping->size(); ++i) ASSERT_EQ(bytes[i], 0) << i;
    EXPECT_FALSE(mapping->intact());
}

TEST_F(FileMappingTest, OtherFaultsStillEndTheProcess) {
    fill(2 * kPage);
    void* plain = mmap(nullptr, 2 * kPage, PROT_READ, MAP_PRIVATE, fd_, 0);
    ASSERT_NE(plain, MAP_FAILED);
    const std::unique_ptr<FileMapping> mapping = FileMapping::map(fd_, 0, 2 * kPage, false);
    ASSERT_NE(mapping, nullptr);
    ASSERT_EQ(ftruncate(fd_, 0), 0);
    // A sanitizer's own handler reports the fault and exits instead.
    const auto ended = [](int status) {
        if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGBUS;
        return (kSanitized || kThreadSanitized) && WIFEXITED(status) && WEXITSTATUS(status) != 0;
    };
    EXPECT_EXIT((void)*(static_cast<volatile const uint8_t*>(plain) + kPage), ended, "");
    munmap(plain, 2 * kPage);
}

struct RefusedCase {
    const char* name;
    uint64_t offset;
    std::size_t length;
    bool hole;  // the file's second page left a hole
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class Refused : public FileMappingTest, public testing::WithParamInterface<RefusedCase> {};

TEST_P(Refused, MapsNothing) {
    const RefusedCase& c = GetParam();
    fill(3 * kPage);
    if (c.hole) {
        if (fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, kPage, kPage) != 0)
            GTEST_SKIP() << "no holes on this file system";
        if (lseek(fd_, 0, SEEK_HOLE) != static_cast<off_t>(kPage))
            GTEST_SKIP() << "holes not reported on this file system";
    }
    ASSERT_EQ(lseek(fd_, 5, SEEK_SET), 5);
    EXPECT_EQ(FileMapping::map(fd_, c.offset, c.length, true), nullptr);
    EXPECT_EQ(lseek(fd_, 0, SEEK_CUR), 5);  // the offset is the caller's
}

INSTANTIATE_TEST_SUITE_P(Bytes, Refused,
                         testing::Values(RefusedCase{"None", 10, 0, false},
                                         RefusedCase{"PastTheEnd", 2 * kPage, kPage + 1, false},
                                         RefusedCase{"StartPastTheEnd", 4 * kPage, 1, false},
                                         RefusedCase{"OverAHole", 100, 2 * kPage, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
