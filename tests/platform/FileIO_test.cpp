#include "platform/FileIO.h"

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
  EXPECT_EQ(ReplaceWholeFile(fifo, "x"), kNotRegularFile);
  EXPECT_EQ(FileErrorText(kNotRegularFile), "not a regular file");
  const std::string big(3 << 20, 'x');
  WriteFileBytes(dir.file("big"), big);
  EXPECT_EQ(ReadWholeFile(dir.file("big"), out), 0);
  EXPECT_EQ(out, big);
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
