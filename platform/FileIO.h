// Whole-file reading and safe whole-file replacement: the module's one way
// to read a file it owns at once, and its one way to rewrite one.
//
// A replace writes a temporary file in the file's own folder, forces it onto
// the disk and renames it over the file, so that a process that dies or a
// disk that refuses leaves the old content or the new one, never a mix, and
// the temporary file is removed on every failure. A symbolic link is
// followed and its target replaced; an existing file keeps its mode (and,
// where the system allows, its owner).
//
// Functions answer 0 or an errno value; FileErrorText() gives the text of
// one. They are safe to call from several threads.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace selvo {

// Answered for a path that names something else than a regular file (a
// folder, a FIFO, a device): reading those would block or make no sense.
inline constexpr int kNotRegularFile = 100000;

// The system's text for an errno value, or "not a regular file".
std::string FileErrorText(int code);

// Reads the whole file into `out` (emptied first). The file is opened and
// read without blocking, so a folder, a device or a FIFO in its place answers
// kNotRegularFile at once instead of hanging; only a FIFO whose writer has
// already written a short text gives that text. A missing file answers ENOENT.
int ReadWholeFile(const std::string& path, std::string& out);

// Replaces the file's content with `content` as described above.
int ReplaceWholeFile(const std::string& path, std::string_view content);

// What a file's name leads to, as stat() tells it. A file keeps its content
// while it keeps its stamp, provided the stamp was taken once the file had
// settled (FileStampSettled): a later write or rename gives it new times.
struct TFileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;
  bool operator==(const TFileStamp&) const = default;
};

// Stamps the file; a missing one is stamped as missing. 0 or an errno value.
int StampFile(const std::string& path, TFileStamp& out);

// The file was last written and renamed at least `margin` before now, so a
// change after the stamp cannot fall within the same tick of the file
// system's clock and keep its times. A missing file is settled.
bool FileStampSettled(const TFileStamp& stamp, std::chrono::nanoseconds margin);

// The file's folder lies on a file system of this machine. One shared over
// the network may answer stat() from a cache of its own and stamps its files
// by another machine's clock, so its stamps tell nothing for certain.
bool OnLocalFileSystem(const std::string& path);

// Removes temporary files of replaces of `path` left by processes that no
// longer run (killed half-way); those of living processes are left alone.
void RemoveStaleTemporaryFiles(const std::string& path);

// ---------------------------------------------------------------------------
// Fault injection for tests: the hook is asked before each step of a replace
// and a non-zero answer fails that step with that errno value, as the system
// would. Not for production use; set it only while no replace runs.

enum class TFileStep { Create, Write, Sync, Rename };
using TFileFaultHook = std::function<int(TFileStep step, const std::string& path)>;
void SetFileFaultHook(TFileFaultHook hook);

}  // namespace selvo
