// The one output path: a regular file is written to a temporary beside the
// file its name resolves to and renamed over it only when complete, so the
// old file (which may be the input) is either replaced whole or untouched.
#include "support/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <string>

#include "support/output_cleanup.h"

namespace {

// Link hops followed before a name counts as a loop, as the kernel does.
constexpr int kMaxLinkHops = 40;
constexpr int kTemporaryAttempts = 100;
// Room for ".", the suffix and a terminator within NAME_MAX.
constexpr std::size_t kTemporaryStem = 200;

// The path a chain of symlinks ends at, existing or not. False when a link
// cannot be read or the chain does not end.
bool resolve_links(const char* name, std::string* path) {
    *path = name;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (lstat(path->c_str(), &info) != 0) return errno == ENOENT;
        if (!S_ISLNK(info.st_mode)) return true;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = readlink(path->c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return false;
        target.resize(static_cast<std::size_t>(length));
        if (target[0] == '/') {
            *path = target;
        } else {
            // A relative target is relative to the link's own directory.
            const std::size_t slash = path->rfind('/');
            *path =
                (slash == std::string::npos ? std::string() : path->substr(0, slash + 1)) + target;
        }
    }
    return false;
}

// A name no one else is likely to pick; O_EXCL settles the rest.
std::string temporary_name(const std::string& base) {
    static std::atomic<unsigned> counter{0};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long bits = static_cast<unsigned long long>(now.tv_nsec) ^
                              (static_cast<unsigned long long>(getpid()) << 30) ^
                              (static_cast<unsigned long long>(counter.fetch_add(1)) * 0x9E3779B9u);
    constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz012345";
    // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) on
    // "." + string.
    std::string name(1, '.');
    name.append(base, 0, kTemporaryStem);
    name += '.';
    for (int i = 0; i < 6; ++i, bits >>= 5) name += kDigits[bits & 31];
    return name;
}

}  // namespace

struct OutputFile::State {
    enum class Mode { kStraight, kInPlace, kTemporary };
    Mode mode = Mode::kStraight;
    std::string name;  // as given: in place, removed by it on failure
    dev_t device = 0;  // the file opened in place
    ino_t inode = 0;
    int dir_fd = -1;        // the temporary's directory
    std::string temporary;  // within dir_fd
    std::string target;     // the name it is renamed to, within dir_fd
    int slot = -1;
};

std::unique_ptr<OutputFile> OutputFile::open(const char* name, InPlace in_place, bool* refused) {
    if (refused != nullptr) *refused = false;
    if (name == nullptr) return nullptr;
    std::unique_ptr<OutputFile> out(new OutputFile);
    out->state_ = std::make_unique<State>();
    State& state = *out->state_;
    state.name = name;

    // Opened as fopen would, for what cannot take a temporary: pipes,
    // terminals and devices (straight through), and regular files whose
    // directory will not hold one (in place).
    const auto open_directly = [&](State::Mode mode) -> std::unique_ptr<OutputFile> {
        // A new file has nothing to lose; an existing one only when asked.
        const int why = errno;
        struct stat named {};
        if (mode == State::Mode::kInPlace && in_place == InPlace::kRefused &&
            stat(name, &named) == 0 && S_ISREG(named.st_mode)) {
            if (refused != nullptr) *refused = true;
            errno = why;
            return nullptr;
        }
        errno = why;
        out->stream_ = std::fopen(name, "wb");
        if (out->stream_ == nullptr) return nullptr;
        struct stat opened {};
        const bool regular = fstat(fileno(out->stream_), &opened) == 0 && S_ISREG(opened.st_mode);
        state.mode = regular ? mode : State::Mode::kStraight;
        state.device = opened.st_dev;
        state.inode = opened.st_ino;
        out->seekable_ = regular;
        return std::move(out);
    };

    struct stat existing {};
    const bool exists = stat(name, &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) return open_directly(State::Mode::kStraight);
    if (!exists && errno != ENOENT) return open_directly(State::Mode::kInPlace);

    std::string path;
    if (!resolve_links(name, &path)) return open_directly(State::Mode::kInPlace);
    const std::size_t slash = path.rfind('/');
    const std::string dir =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    state.target = slash == std::string::npos ? path : path.substr(slash + 1);
    if (state.target.empty() || state.target == "." || state.target == "..")
        return open_directly(State::Mode::kInPlace);
    if (exists) {
        // The resolved path must name the file the name opens: /proc's
        // descriptor links, for one, name files that are no longer there.
        struct stat resolved {};
        if (stat(path.c_str(), &resolved) != 0 || resolved.st_dev != existing.st_dev ||
            resolved.st_ino != existing.st_ino)
            return open_directly(State::Mode::kInPlace);
        // A file its owner made read-only is not replaced behind its back.
        if (faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0) return nullptr;
    }

    state.dir_fd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (state.dir_fd < 0) return open_directly(State::Mode::kInPlace);
    int fd = -1;
    {
        FatalSignalsBlocked blocked;
        for (int attempt = 0; attempt < kTemporaryAttempts && fd < 0; ++attempt) {
            state.temporary = temporary_name(state.target);
            // A new file gets 0666 less the umask, as fopen would give it; a
            // replacement starts private and takes the old file's bits below.
            fd = openat(state.dir_fd, state.temporary.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd >= 0) state.slot = claim_cleanup_slot(state.dir_fd, state.temporary.c_str());
    }
    if (fd < 0) {
        const int error = errno;
        close(state.dir_fd);
        state.dir_fd = -1;
        // Out of space or quota: writing over the old file would only lose it.
        errno = error;
        if (error == ENOSPC || error == EDQUOT) return nullptr;
        return open_directly(State::Mode::kInPlace);
    }
    state.mode = State::Mode::kTemporary;
    if (exists) {
        // Owner first: a change of owner clears the set-id bits.
        (void)!fchown(fd, existing.st_uid, existing.st_gid);
        (void)!fchmod(fd, existing.st_mode & 07777);
    }
    out->stream_ = fdopen(fd, "wb");
    if (out->stream_ == nullptr) {
        close(fd);
        return nullptr;  // the destructor removes the temporary
    }
    out->seekable_ = true;
    return out;
}

OutputFile::~OutputFile() {
    fail();
    commit();
    if (state_->mode == State::Mode::kTemporary && state_->dir_fd >= 0) {
        // Never opened as a stream: only the empty temporary to remove.
        FatalSignalsBlocked blocked;
        unlinkat(state_->dir_fd, state_->temporary.c_str(), 0);
        release_cleanup_slot(state_->slot);
        close(state_->dir_fd);
    }
}

bool OutputFile::in_memory() const {
    // The file systems whose pages are memory: tmpfs and ramfs.
    constexpr long kTmpfs = 0x01021994;
    constexpr long kRamfs = 0x858458f6;
    struct statfs info {};
    if (stream_ == nullptr || fstatfs(fileno(stream_), &info) != 0) return false;
    return static_cast<long>(info.f_type) == kTmpfs || static_cast<long>(info.f_type) == kRamfs;
}

bool OutputFile::flush() {
    if (stream_ == nullptr) return committed_;
    if (std::fflush(stream_) != 0 || std::ferror(stream_) != 0) note_failure();
    return !failed_;
}

bool OutputFile::commit() {
    if (stream_ == nullptr) return committed_;
    bool ok = !failed_ && std::ferror(stream_) == 0;
    if (std::fclose(stream_) != 0) {
        if (ok) note_failure();
        ok = false;
    }
    stream_ = nullptr;
    State& state = *state_;
    switch (state.mode) {
        case State::Mode::kStraight:
            break;
        case State::Mode::kInPlace:
            if (!ok) {
                // lstat, not stat: a link is left alone, and so is what it names.
                struct stat named {};
                if (lstat(state.name.c_str(), &named) == 0 && S_ISREG(named.st_mode) &&
                    named.st_dev == state.device && named.st_ino == state.inode)
                    unlink(state.name.c_str());
            }
            break;
        case State::Mode::kTemporary: {
            FatalSignalsBlocked blocked;
            if (ok && renameat(state.dir_fd, state.temporary.c_str(), state.dir_fd,
                               state.target.c_str()) != 0) {
                note_failure();
                ok = false;
            }
            if (!ok) unlinkat(state.dir_fd, state.temporary.c_str(), 0);
            release_cleanup_slot(state.slot);
            close(state.dir_fd);
            state.dir_fd = -1;
            break;
        }
    }
    committed_ = ok;
    return ok;
}
