#include "platform/ProcessLock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace selvo {

struct TProcessLock::Entry {
  std::string file;  // lock file name, the registry's key
  std::string path;  // lock file; empty when none could be opened
  bool systemWide = false;
  int fd = -1;
  bool fileLocked = false;  // the owner holds the flock
  int users = 0;            // TProcessLock objects of this name
  std::thread::id owner;
  int depth = 0;
  // Behind a pointer so that a child after fork() can leave the parent's
  // (possibly waited-on) condition behind and start with a fresh one.
  std::unique_ptr<std::condition_variable> released = std::make_unique<std::condition_variable>();
};

namespace {

using Entry = TProcessLock::Entry;

// Guards the registry and every entry's owner, depth and users. An entry's
// fd is used only by its owner (or under this mutex when nobody owns it).
std::mutex gMutex;
std::unordered_map<std::string, Entry*>& Registry() {
  static auto* registry = new std::unordered_map<std::string, Entry*>();  // lives as long as the process
  return *registry;
}

void ForkPrepare() { gMutex.lock(); }
void ForkParent() { gMutex.unlock(); }
void ForkChild() {
  // The child has only the forking thread. Shared open files would share the
  // parent's flock, so every lock file is closed and opened again on demand.
  for (auto& [file, entry] : Registry()) {
    if (entry->fd >= 0) ::close(entry->fd);
    entry->fd = -1;
    entry->fileLocked = false;
    entry->owner = std::thread::id();
    entry->depth = 0;
    (void)entry->released.release();  // may have waiters that do not exist here
    entry->released = std::make_unique<std::condition_variable>();
  }
  gMutex.unlock();
}

void InstallForkHandlers() {
  static std::once_flag once;
  std::call_once(once, [] { pthread_atfork(ForkPrepare, ForkParent, ForkChild); });
}

std::uint64_t Fnv1a(std::string_view s) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// Opens the lock file, creating it when missing. O_CREAT alone is avoided on
// an existing file: a sticky world-writable folder may refuse it for files of
// other users (fs.protected_regular).
int OpenLockFile(const std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
      if (fd < 0 && errno == EEXIST) continue;
      if (fd >= 0) (void)::fchmod(fd, 0666);  // past the umask: any user may open it
    }
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  return -1;
}

// The per-user folder, made when missing; empty when it is not safely ours.
std::string UsableUserFolder() {
  std::string folder = TProcessLock::PerUserFolder();
  std::string dir = folder.substr(0, folder.size() - 1);
  ::mkdir(dir.c_str(), 0700);
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return {};
  return folder;
}

void OpenEntry(Entry& entry) {
  const std::string& file = entry.file;
  std::string path = std::string(TProcessLock::kSystemWideFolder) + file;
  int fd = OpenLockFile(path);
  bool systemWide = fd >= 0;
  if (fd < 0) {
    std::string folder = UsableUserFolder();
    if (!folder.empty()) {
      path = folder + file;
      fd = OpenLockFile(path);
    }
  }
  entry.fd = fd;
  entry.systemWide = fd >= 0 && systemWide;
  entry.path = fd >= 0 ? path : std::string();
}

// Whether the locked file still has its name. Only a holder removes lock
// files and nothing renames them, so a removed file is the only way to lose it.
bool StillNamed(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && st.st_nlink > 0;
}

int FlockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// Takes the flock of the caller's entry (the caller owns the entry). A file
// that was removed while we waited is left for the one that has the name now.
void AcquireFile(Entry& entry) {
  entry.fileLocked = false;
  if (entry.fd < 0 && !entry.path.empty()) entry.fd = OpenLockFile(entry.path);
  while (entry.fd >= 0) {
    if (FlockRetrying(entry.fd, LOCK_EX) != 0) return;  // no file lock to be had: threads only
    if (StillNamed(entry.fd)) {
      entry.fileLocked = true;
      return;
    }
    ::close(entry.fd);
    entry.fd = OpenLockFile(entry.path);
  }
}

// AcquireFile with a deadline: the file lock is tried without blocking until
// it is had or the time is up. Answers false only when time ran out.
bool AcquireFileUntil(Entry& entry, std::chrono::steady_clock::time_point deadline) {
  entry.fileLocked = false;
  if (entry.fd < 0 && !entry.path.empty()) entry.fd = OpenLockFile(entry.path);
  auto pause = std::chrono::milliseconds(1);
  while (entry.fd >= 0) {
    if (FlockRetrying(entry.fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) return true;  // no file lock to be had: threads only
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::milliseconds(50));
      continue;
    }
    if (StillNamed(entry.fd)) {
      entry.fileLocked = true;
      return true;
    }
    ::close(entry.fd);
    entry.fd = OpenLockFile(entry.path);
  }
  return true;
}

// Called under gMutex when the last object of a name goes.
void CloseEntry(Entry& entry) {
  if (entry.fd < 0) return;
  // Remove the file only while nobody holds it; a waiter on it will notice.
  if (!entry.fileLocked && FlockRetrying(entry.fd, LOCK_EX | LOCK_NB) == 0) {
    if (StillNamed(entry.fd)) ::unlink(entry.path.c_str());
    FlockRetrying(entry.fd, LOCK_UN);
  }
  ::close(entry.fd);
  entry.fd = -1;
}

}  // namespace

std::string TProcessLock::PerUserFolder() { return "/tmp/selvo-locks-" + std::to_string(::geteuid()) + "/"; }

std::string TProcessLock::FileNameFor(std::string_view name) {
  std::string file(name);
  for (char& c : file)
    if (c == '/' || c == '\0') c = '_';
  if (file.empty() || file == "." || file == "..") file.insert(0, "_");
  if (file.size() > NAME_MAX) {
    std::size_t keep = 200;
    while (keep > 0 && (static_cast<unsigned char>(file[keep]) & 0xC0) == 0x80) --keep;  // whole characters
    char hash[20];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(Fnv1a(name)));
    file = file.substr(0, keep) + hash;
  }
  return file;
}

TProcessLock::TProcessLock(std::string_view name) {
  InstallForkHandlers();
  // Keyed by the file: names that come to the same file are one lock.
  std::string file = FileNameFor(name);
  std::lock_guard<std::mutex> guard(gMutex);
  Entry*& slot = Registry()[file];
  if (!slot) {
    slot = new Entry();
    slot->file = std::move(file);
    OpenEntry(*slot);
  } else if (slot->fd < 0 && slot->depth == 0) {
    OpenEntry(*slot);  // e.g. in a child after fork()
  }
  ++slot->users;
  entry_ = slot;
}

TProcessLock::~TProcessLock() {
  std::lock_guard<std::mutex> guard(gMutex);
  if (--entry_->users > 0) return;
  CloseEntry(*entry_);
  Registry().erase(entry_->file);
  delete entry_;
}

bool TProcessLock::Opened() const {
  std::lock_guard<std::mutex> guard(gMutex);
  return !entry_->path.empty();
}

bool TProcessLock::SystemWide() const {
  std::lock_guard<std::mutex> guard(gMutex);
  return entry_->systemWide;
}

std::string TProcessLock::Path() const {
  std::lock_guard<std::mutex> guard(gMutex);
  return entry_->path;
}

void TProcessLock::Lock() {
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> guard(gMutex);
  if (entry_->owner == me && entry_->depth > 0) {
    ++entry_->depth;
    return;
  }
  entry_->released->wait(guard, [this] { return entry_->depth == 0; });
  entry_->owner = me;
  entry_->depth = 1;
  guard.unlock();
  // Owning the entry, this thread alone touches its file; the wait for the
  // other processes runs without the registry's mutex.
  AcquireFile(*entry_);
}

bool TProcessLock::TryLockFor(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> guard(gMutex);
  if (entry_->owner == me && entry_->depth > 0) {
    ++entry_->depth;
    return true;
  }
  if (!entry_->released->wait_until(guard, deadline, [this] { return entry_->depth == 0; })) return false;
  entry_->owner = me;
  entry_->depth = 1;
  guard.unlock();
  if (AcquireFileUntil(*entry_, deadline)) return true;
  guard.lock();
  entry_->owner = std::thread::id();
  entry_->depth = 0;
  entry_->released->notify_one();
  return false;
}

void TProcessLock::Unlock() {
  std::lock_guard<std::mutex> guard(gMutex);
  if (entry_->owner != std::this_thread::get_id() || entry_->depth == 0) return;
  if (--entry_->depth > 0) return;
  if (entry_->fileLocked) FlockRetrying(entry_->fd, LOCK_UN);
  entry_->fileLocked = false;
  entry_->owner = std::thread::id();
  entry_->released->notify_one();
}

}  // namespace selvo
