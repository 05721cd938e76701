// The one way every writer creates a file: complete or untouched. A regular
// file is written to a new temporary beside it and renamed over its name only
// once every byte is out and the file closed without error; pipes, terminals
// and devices are written straight through.
#pragma once

#include <cerrno>
#include <cstdio>
#include <memory>

// Whether a regular file whose directory will take no temporary may be
// written where it is, losing its old content to any failure on the way.
enum class InPlace { kAllowed, kRefused };

class OutputFile {
  public:
    // Opens name for writing. A regular file (existing or new, behind any
    // symlinks) gets a temporary in the directory of the file the name
    // resolves to, with the permission bits (and, where allowed, the owner) of
    // the file it will replace; a new file gets what fopen would give it.
    // Where no temporary can be made there, the file is opened in place and,
    // on failure, removed as long as it is a plain regular file; with
    // InPlace::kRefused an existing regular file is not opened so, and
    // *refused (when given) is set, errno saying why no temporary could be
    // made. Returns nullptr when the name cannot be opened at all, when an
    // existing file may not be written, and when the file system has no room
    // for a new file (callers say "Output file open failed"), errno telling
    // why. Thread-safe.
    static std::unique_ptr<OutputFile> open(const char* name, InPlace in_place = InPlace::kAllowed,
                                            bool* refused = nullptr);

    // Discards the output unless committed: removes the temporary (or the
    // partial in-place file), leaving the old file as it was.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The buffered stream to write to; valid until commit or destruction.
    std::FILE* stream() const { return stream_; }

    // True when the stream can seek (a regular file, or a temporary), which
    // formats that patch their headers need.
    bool seekable() const { return seekable_; }

    // True when the file's pages live in memory (tmpfs, ramfs), so that its
    // bytes count against the memory limits.
    bool in_memory() const;

    // Marks the output failed: commit will discard it. For writers that meet a
    // failure of their own (a codec error) after writing has begun.
    void fail() { failed_ = true; }

    // Gets every byte written so far out of the stream's buffer; false when
    // any of them failed. A run with several outputs flushes them all before
    // it commits any, so that a late failure leaves none of them replaced.
    bool flush();

    // The errno value of the first flush, close or rename that failed here,
    // or 0 (after fail() alone, or before any failure).
    int error() const { return error_; }

    // Flushes and closes the stream and moves the temporary over the name.
    // Returns false, leaving the old file (if any) as it was and no temporary
    // behind, when anything written, the close or the rename failed, or after
    // fail(). A second call returns the first call's answer.
    bool commit();

  private:
    OutputFile() = default;
    void note_failure() {
        if (error_ == 0) error_ = errno;
        failed_ = true;
    }

    std::FILE* stream_ = nullptr;
    bool seekable_ = false;
    bool failed_ = false;
    bool committed_ = false;
    int error_ = 0;
    // Implementation state (final path, temporary path, signal-cleanup slot).
    struct State;
    std::unique_ptr<State> state_;
};

// Makes INT, TERM, HUP, PIPE and XFSZ remove every temporary that exists when
// they arrive, then end the process as that signal would have. A signal that
// was ignored, or already has a handler, is left as it is. For programs (the
// command line), not libraries: a host process keeps its own handlers unless
// it asks for these. Temporaries are removed at exit in any case.
void remove_outputs_on_fatal_signals();
