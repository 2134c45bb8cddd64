// A named lock shared by every process and thread of the machine that uses
// the same name: the stand-in for a named system mutex.
//
// How it works. Each name has a lock file, locked with flock(2):
// - first in the system-wide folder /dev/shm/ (a world-writable tmpfs; the
//   file is made with mode 0666 so that processes of any user can open it),
// - when that cannot be used, in the per-user folder /tmp/selvo-locks-<uid>/
//   (mode 0700), which serialises the processes of one user only.
// Names too long for a file name are shortened by a hash; '/' and NUL become
// '_'. The kernel drops the flock of a process that ends however it ends, so
// the lock of a holder that died is simply taken by the next waiter.
//
// flock works per open file, not per thread, so inside a process a registry
// keyed by the name adds what a system mutex has: one open lock file per
// name and process, exclusion between threads, and re-entrancy for the
// holding thread across every TProcessLock object of that name.
//
// Lock files are removed when the last object of a name in a process goes
// and nobody holds the lock; a waiter that then gets a removed file notices
// it (inode check after locking) and locks the file that now has the name.
//
// After fork() the child starts with no lock held and opens its own lock
// files; locks the parent holds stay the parent's.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace selvo {

class TProcessLock {
 public:
  // Opens or creates the lock file of that name. Never fails: when no lock
  // file can be had, Opened() is false and the lock only serialises the
  // threads of this process.
  explicit TProcessLock(std::string_view name);
  ~TProcessLock();
  TProcessLock(const TProcessLock&) = delete;
  TProcessLock& operator=(const TProcessLock&) = delete;

  bool Opened() const;
  // True when the lock file is in the system-wide folder.
  bool SystemWide() const;
  // The lock file in use; empty when none.
  std::string Path() const;

  // Waits without a time limit. The holding thread may lock again and must
  // unlock as often. Unlock by a thread that does not hold it does nothing.
  void Lock();
  // Lock with a time limit: false when the lock was not had within `timeout`
  // (nothing is then held). Any user may hold the lock file, so code that
  // must not hang for ever waits this way.
  bool TryLockFor(std::chrono::milliseconds timeout);
  void Unlock();

  static constexpr const char* kSystemWideFolder = "/dev/shm/";
  // "/tmp/selvo-locks-<uid>/".
  static std::string PerUserFolder();
  // The file name that stands for a lock name.
  static std::string FileNameFor(std::string_view name);

  struct Entry;

 private:
  Entry* entry_;
};

}  // namespace selvo
