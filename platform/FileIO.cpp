#include "platform/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>

namespace selvo {
namespace {

class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::mutex gHookMutex;
TFileFaultHook gHook;

int Fault(TFileStep step, const std::string& path) {
  std::lock_guard<std::mutex> guard(gHookMutex);
  return gHook ? gHook(step, path) : 0;
}

// The file a write really changes: the target of a symbolic link.
std::string WriteTarget(const std::string& file) {
  struct stat st {};
  if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(file.c_str(), nullptr)) {
      std::string target = real;
      std::free(real);
      return target;
    }
  }
  return file;
}

std::pair<std::string, std::string> SplitPath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Temporary files of a file are named ".<name>.~<pid>-<n>"; the name is cut
// so that the whole stays within NAME_MAX whatever the file's own name.
std::string TemporaryPrefix(const std::string& base) { return "." + base.substr(0, 200) + ".~"; }

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace

std::string FileErrorText(int code) {
  if (code == kNotRegularFile) return "not a regular file";
  char buffer[256];
  return strerror_r(code, buffer, sizeof buffer);  // the GNU form: answers the text
}

int ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for one.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  FdCloser closer(fd);
  // The files read here (settings, templates, exchange files) are small as a
  // rule, and the settings file is read on every sale: one read into a buffer
  // on the stack takes such a file whole. A regular file gives less than
  // asked only at its end, so a read that ends short of the buffer needs no
  // fstat to size the text or to learn what the file is.
  char first[16384];
  ssize_t n;
  do {
    n = ::read(fd, first, sizeof first);
  } while (n < 0 && errno == EINTR);
  if (n > 0 && static_cast<std::size_t>(n) < sizeof first) {
    out.assign(first, static_cast<std::size_t>(n));
    return 0;
  }
  // Nothing, a full buffer or an error: what the file is decides. A folder
  // fails the read (EISDIR), a FIFO gives nothing or EAGAIN, a device may
  // give without end.
  const int readError = n < 0 ? errno : 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kNotRegularFile;
  if (readError != 0) return readError;
  std::size_t filled = static_cast<std::size_t>(n);
  out.resize(std::max(static_cast<std::size_t>(st.st_size), filled) + 1);
  std::memcpy(out.data(), first, filled);
  while (filled > 0) {  // an empty read above met the end already
    const std::size_t wanted = out.size() - filled;
    n = ::read(fd, out.data() + filled, wanted);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      out.clear();
      return error;
    }
    filled += static_cast<std::size_t>(n);
    // The byte asked for beyond the size the file had spares a second read
    // to find the end.
    if (n == 0 || static_cast<std::size_t>(n) < wanted) break;
    if (filled == out.size()) out.resize(out.size() * 2);  // grew since fstat
  }
  out.resize(filled);
  return 0;
}

int ReplaceWholeFile(const std::string& path, std::string_view content) {
  static std::atomic<unsigned> counter{0};
  const std::string target = WriteTarget(path);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) return kNotRegularFile;
  auto [dir, base] = SplitPath(target);
  const std::string prefix = dir + "/" + TemporaryPrefix(base) + std::to_string(::getpid()) + "-";
  std::string temp;
  int fd = -1;
  if (int rc = Fault(TFileStep::Create, target); rc != 0) return rc;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = prefix + std::to_string(counter.fetch_add(1));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;
  FdCloser closer(fd);
  int rc = Fault(TFileStep::Write, target);
  if (rc == 0) rc = WriteAll(fd, content);
  if (rc == 0 && exists) {
    // Failures here leave the new file with the default mode or owner; the
    // content is still right, so they do not fail the write.
    (void)::fchmod(fd, old.st_mode & 07777);
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) (void)::fchown(fd, old.st_uid, old.st_gid);
  }
  // On the disk before the name moves: a crash after the rename must not
  // find the name on an empty file.
  if (rc == 0) rc = Fault(TFileStep::Sync, target);
  if (rc == 0 && ::fsync(fd) != 0) rc = errno;
  if (rc == 0 && ::close(closer.Release()) != 0) rc = errno;
  if (rc == 0) rc = Fault(TFileStep::Rename, target);
  if (rc == 0 && ::rename(temp.c_str(), target.c_str()) != 0) rc = errno;
  if (rc != 0) ::unlink(temp.c_str());
  return rc;
}

int StampFile(const std::string& path, TFileStamp& out) {
  out = {};
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  const auto ns = [](const timespec& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; };
  out = {true, st.st_dev, st.st_ino, st.st_size, ns(st.st_mtim), ns(st.st_ctim)};
  return 0;
}

bool FileStampSettled(const TFileStamp& stamp, std::chrono::nanoseconds margin) {
  if (!stamp.exists) return true;
  const std::int64_t now =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return std::max(stamp.modifiedNs, stamp.changedNs) <= now - margin.count();
}

bool OnLocalFileSystem(const std::string& path) {
  // The folder of the file a write changes: a link's target may lie elsewhere.
  const std::string folder = SplitPath(WriteTarget(path)).first;
  struct statfs fs {};
  if (::statfs(folder.c_str(), &fs) != 0) return false;
  // NFS, SMB, CIFS, SMB2, FUSE (sshfs and the like), 9P, Ceph, AFS, Coda,
  // GFS2, OCFS2.
  constexpr unsigned long kShared[] = {0x6969,     0x517B,     0xFF534D42, 0xFE534D42, 0x65735546, 0x01021997,
                                       0x00C36400, 0x5346414F, 0x73757245, 0x01161970, 0x7461636F};
  const auto type = static_cast<unsigned long>(fs.f_type);
  return std::find(std::begin(kShared), std::end(kShared), type) == std::end(kShared);
}

void RemoveStaleTemporaryFiles(const std::string& path) {
  auto [dir, base] = SplitPath(WriteTarget(path));
  const std::string prefix = TemporaryPrefix(base);
  DIR* folder = ::opendir(dir.c_str());
  if (!folder) return;
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(folder)) {
    std::string_view name = entry->d_name;
    if (name.substr(0, prefix.size()) != prefix) continue;
    std::string_view rest = name.substr(prefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos) continue;
    long pid = 0;
    bool digits = true;
    for (char c : rest.substr(0, dash)) {
      if (c < '0' || c > '9' || pid > 1 << 24)
        digits = false;
      else
        pid = pid * 10 + (c - '0');
    }
    if (!digits || pid == self) continue;
    // Only a process that is gone: a living one may be about to rename it.
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    ::unlinkat(::dirfd(folder), entry->d_name, 0);
  }
  ::closedir(folder);
}

void SetFileFaultHook(TFileFaultHook hook) {
  std::lock_guard<std::mutex> guard(gHookMutex);
  gHook = std::move(hook);
}

}  // namespace selvo
