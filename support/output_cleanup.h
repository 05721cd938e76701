// Internal to support: the table of temporaries that exist now, which a fatal
// signal or the process's exit removes. Entries are fixed slots read by a
// signal handler, so claiming and releasing one never allocates or locks.
#pragma once

#include <signal.h>

// Blocks the fatal signals in the calling thread for its lifetime, so that a
// file and the slot naming it come and go together as far as this thread's
// handler can see.
class FatalSignalsBlocked {
  public:
    FatalSignalsBlocked();
    ~FatalSignalsBlocked();
    FatalSignalsBlocked(const FatalSignalsBlocked&) = delete;
    FatalSignalsBlocked& operator=(const FatalSignalsBlocked&) = delete;

  private:
    sigset_t saved_;
};

// Records that name (at most NAME_MAX bytes) inside the directory dir_fd is a
// temporary to remove if the process ends before it is released. Returns the
// slot, or -1 when every slot is taken (the file then goes unrecorded).
int claim_cleanup_slot(int dir_fd, const char* name);

// Forgets the slot (after the file was renamed or removed). -1 is ignored.
void release_cleanup_slot(int slot);
