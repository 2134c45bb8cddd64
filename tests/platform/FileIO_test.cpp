#include "platform/FileIO.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include <sys/wait.h>

#include "tests/common/FailingFiles.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::TFailingFiles;
using test::WriteFileBytes;

int EntriesIn(const std::string& dir) {
  int n = 0;
  DIR* d = ::opendir(dir.c_str());
  while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.' || e->d_name[1] > '.';
  ::closedir(d);
  return n;
}

TEST(FileIOTest, RefusedReplaceLeavesTheOldFileWholeAndNoTemporaryFile) {
  for (TFileStep step : {TFileStep::Create, TFileStep::Write, TFileStep::Sync, TFileStep::Rename}) {
    TempDir dir;
    const std::string file = dir.file("data.txt");
    WriteFileBytes(file, "old content");
    TFailingFiles failing(step, EIO);
    EXPECT_EQ(ReplaceWholeFile(file, "new content, longer"), EIO);
    EXPECT_EQ(failing.Failed(), 1);
    EXPECT_EQ(ReadFileBytes(file), "old content");
    EXPECT_EQ(EntriesIn(dir.path()), 1) << "temporary file left behind at step " << int(step);
    EXPECT_EQ(ReplaceWholeFile(file, "new"), 0) << "only the next replace fails";
    EXPECT_EQ(ReadFileBytes(file), "new");
  }
}

TEST(FileIOTest, ReplaceKeepsModeAndFollowsALink) {
  TempDir dir;
  const std::string file = dir.file("real.txt"), link = dir.file("link.txt");
  WriteFileBytes(file, "a");
  ::chmod(file.c_str(), 0640);
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  EXPECT_EQ(ReplaceWholeFile(link, "b"), 0);
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(ReadFileBytes(file), "b");
}

TEST(FileIOTest, ReadRefusesWhatIsNotARegularFileWithoutBlocking) {
  TempDir dir;
  std::string out = "stale";
  EXPECT_EQ(ReadWholeFile(dir.file("missing"), out), ENOENT);
  EXPECT_EQ(out, "");
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadWholeFile(fifo, out), kNotRegularFile);  // would hang if it blocked
  EXPECT_EQ(ReadWholeFile(dir.path(), out), kNotRegularFile);
  EXPECT_EQ(ReadWholeFile("/dev/null", out), kNotRegularFile);
  EXPECT_EQ(ReadWholeFile("/dev/zero", out), kNotRegularFile);  // would fill the memory if read to its end
  {
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);  // a writer that has written nothing yet
    ASSERT_GE(writer, 0);
    EXPECT_EQ(ReadWholeFile(fifo, out), kNotRegularFile);
    ::close(writer);
  }
  EXPECT_EQ(ReplaceWholeFile(fifo, "x"), kNotRegularFile);
  EXPECT_EQ(FileErrorText(kNotRegularFile), "not a regular file");
}

// Small files are taken in one read, larger ones sized first: every size
// around the first read's buffer comes back whole, an empty file empty.
TEST(FileIOTest, ReadGivesEveryFileWholeWhateverItsSize) {
  TempDir dir;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{16383}, std::size_t{16384}, std::size_t{16385},
                           std::size_t{3} << 20}) {
    std::string bytes(size, 'x');
    for (std::size_t i = 0; i < size; i += 997) bytes[i] = static_cast<char>('a' + i % 26);
    WriteFileBytes(dir.file("f"), bytes);
    std::string out = "stale";
    EXPECT_EQ(ReadWholeFile(dir.file("f"), out), 0) << size;
    EXPECT_EQ(out, bytes) << size;
  }
}

TEST(FileIOTest, TemporaryFilesOfDeadWritersAreRemoved) {
  TempDir dir;
  const std::string file = dir.file("Selvo.ini");
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  const std::string dead = dir.file(".Selvo.ini.~" + std::to_string(child) + "-7");
  const std::string alive = dir.file(".Selvo.ini.~" + std::to_string(::getppid()) + "-7");
  const std::string other = dir.file(".Other.ini.~" + std::to_string(child) + "-7");
  for (const auto& f : {dead, alive, other}) WriteFileBytes(f, "partial");
  RemoveStaleTemporaryFiles(file);
  EXPECT_NE(::access(dead.c_str(), F_OK), 0);
  EXPECT_EQ(::access(alive.c_str(), F_OK), 0);
  EXPECT_EQ(::access(other.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace selvo
