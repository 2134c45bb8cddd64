#include "platform/ProcessLock.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <thread>

#include <gtest/gtest.h>

namespace selvo {
namespace {

using namespace std::chrono_literals;

std::string UniqueName() {
  static std::mt19937_64 random(std::random_device{}());
  return "selvo lock test " + std::to_string(getpid()) + " " + std::to_string(random());
}

// Runs `body` in a child process that ends with its result.
template <class Body>
pid_t Spawn(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int ExitCode(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Answers whether Lock() of a fresh object of that name, on another thread,
// completes in time. A waiter that does not is left waiting for the lock.
bool LocksWithin(const std::string& name, std::chrono::seconds limit) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> result = done->get_future();
  std::thread([name, done] {
    TProcessLock lock(name);
    lock.Lock();
    lock.Unlock();
    done->set_value();
  }).detach();
  return result.wait_for(limit) == std::future_status::ready;
}

TEST(ProcessLockTest, LockFileIsSystemWideAndOpenToAnyUser) {
  const std::string name = UniqueName();
  TProcessLock lock(name);
  ASSERT_TRUE(lock.Opened());
  EXPECT_TRUE(lock.SystemWide());
  EXPECT_EQ(lock.Path(), "/dev/shm/" + name);
  struct stat st {};
  ASSERT_EQ(stat(lock.Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST(ProcessLockTest, FileNamesStayValid) {
  EXPECT_EQ(TProcessLock::FileNameFor("a/b"), "a_b");
  const std::string longA(300, 'a');
  const std::string longB = longA + "b";
  EXPECT_LE(TProcessLock::FileNameFor(longA).size(), 255u);
  EXPECT_NE(TProcessLock::FileNameFor(longA), TProcessLock::FileNameFor(longB));
  std::string cyrillic;
  for (int i = 0; i < 150; ++i) cyrillic += "\xD0\xB6";  // ж
  const std::string shortened = TProcessLock::FileNameFor(cyrillic);
  EXPECT_EQ((static_cast<unsigned char>(shortened[shortened.find('~') - 1]) & 0xC0), 0x80u)
      << "no character cut in half";
}

TEST(ProcessLockTest, ReentrantForTheHolderAcrossObjectsExclusiveForOthers) {
  const std::string name = UniqueName();
  TProcessLock first(name), second(name);
  first.Lock();
  second.Lock();  // the same thread again, through another object
  std::atomic<bool> otherHolds{false};
  std::thread other([&] {
    TProcessLock third(name);
    third.Lock();
    otherHolds = true;
    third.Unlock();
  });
  first.Unlock();
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(otherHolds) << "held once more by this thread";
  second.Unlock();
  other.join();
  EXPECT_TRUE(otherHolds);
  second.Unlock();  // not held: no effect
}

TEST(ProcessLockTest, ExcludesOtherProcessesAndIsTakenOverFromADeadHolder) {
  const std::string name = UniqueName();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = Spawn([&] {
    TProcessLock lock(name);
    lock.Lock();
    char c = 1;
    (void)!write(ready[1], &c, 1);
    pause();  // holds the lock until killed
    return 0;
  });
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_FALSE(LocksWithin(name, 1s)) << "another process holds it";
  // That waiter is still blocked; it gets the lock as soon as the holder dies.
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_TRUE(LocksWithin(name, 10s));
  close(ready[0]);
  close(ready[1]);
}

TEST(ProcessLockTest, ChildAfterForkDoesNotShareTheParentsLock) {
  const std::string name = UniqueName();
  TProcessLock lock(name);
  lock.Lock();
  pid_t child = Spawn([&] { return LocksWithin(name, 1s) ? 1 : 0; });
  EXPECT_EQ(ExitCode(child), 0) << "the child must wait for the parent";
  lock.Unlock();
  child = Spawn([&] { return LocksWithin(name, 10s) ? 0 : 1; });
  EXPECT_EQ(ExitCode(child), 0);
}

TEST(ProcessLockTest, FallsBackToThePerUserFolderThenToThreadsOnly) {
  const std::string name = UniqueName();
  const std::string systemWide = std::string(TProcessLock::kSystemWideFolder) + name;
  const std::string perUser = TProcessLock::PerUserFolder() + name;
  ASSERT_EQ(mkdir(systemWide.c_str(), 0700), 0);  // not a lock file
  {
    TProcessLock lock(name);
    EXPECT_TRUE(lock.Opened());
    EXPECT_FALSE(lock.SystemWide());
    EXPECT_EQ(lock.Path(), perUser);
  }
  ASSERT_EQ(mkdir(perUser.c_str(), 0700), 0);
  {
    TProcessLock lock(name);
    EXPECT_FALSE(lock.Opened());
    lock.Lock();
    EXPECT_FALSE(LocksWithin(name, 1s)) << "threads of the process are still excluded";
    lock.Unlock();
  }
  rmdir(perUser.c_str());
  rmdir(systemWide.c_str());
}

}  // namespace
}  // namespace selvo
