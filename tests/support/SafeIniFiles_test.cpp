#include "support/SafeIniFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/DateUtils.h"
#include "platform/IniProfile.h"
#include "platform/ProcessLock.h"
#include "platform/TextCodec.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Strings = std::vector<std::string>;

// Passes everything to the file service, counts changes of the file, and
// fails them with `failCode` while `failures` lasts (negative: for ever).
class RecordingProfile final : public TIniProfile {
 public:
  RecordingProfile() : installed_(this) {}
  int changes = 0;
  int failCode = 0;
  int failures = 0;
  int writeAttempts = 0;

  std::optional<std::string> ReadKey(const std::string& f, std::string_view s, std::string_view k,
                                     std::size_t n) override {
    return FileIniProfile().ReadKey(f, s, k, n);
  }
  int WriteKey(const std::string& f, std::string_view s, std::string_view k, std::string_view v) override {
    return FileIniProfile().WriteKey(f, s, k, v);
  }
  int DeleteKey(const std::string& f, std::string_view s, std::string_view k) override {
    return FileIniProfile().DeleteKey(f, s, k);
  }
  int DeleteSection(const std::string& f, std::string_view s) override { return FileIniProfile().DeleteSection(f, s); }
  Strings SectionNames(const std::string& f) override { return FileIniProfile().SectionNames(f); }
  Strings KeyNames(const std::string& f, std::string_view s) override { return FileIniProfile().KeyNames(f, s); }
  Strings SectionLines(const std::string& f, std::string_view s) override {
    return FileIniProfile().SectionLines(f, s);
  }
  int ReadText(const std::string& f, TIniText& out) override { return FileIniProfile().ReadText(f, out); }
  int Modify(const std::string& f, const std::function<bool(TIniText&)>& change) override {
    ++writeAttempts;
    if (failures != 0) {
      if (failures > 0) --failures;
      return failCode;
    }
    ++changes;
    return FileIniProfile().Modify(f, change);
  }
  int Flush(const std::string& f) override { return FileIniProfile().Flush(f); }

 private:
  test::ScopedIniProfile installed_;
};

class SafeIniFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string file = dir.file("Selvo.ini");

  std::string Stored() const { return ReadFileBytes(file); }
  std::string RoundTrip(const std::string& value) {
    TSafeIniFile(file).WriteString("S", "K", value);
    return TSafeIniFile(file).ReadString("S", "K", "default");
  }
  template <class Operation>
  std::string ErrorOf(Operation operation) {
    try {
      TSafeIniFile ini(file);
      operation(ini);
    } catch (const EIniFileException& e) {
      return e.Message();
    }
    return "no EIniFileException";
  }
};

TEST_F(SafeIniFileTest, LockNameAndChunkHash) {
  EXPECT_EQ(TSafeIniFile::LockName("C:\\Windows\\Selvo.ini"), "ini file lock mutexc__windows_selvo.ini");
  EXPECT_EQ(TSafeIniFile::LockName("C:\\\\\\WINDOWS\\\\Selvo.INI"), "ini file lock mutexc__windows_selvo.ini");
  EXPECT_EQ(TSafeIniFile::LockName("/etc//Папка/a*b?.ini"), "ini file lock mutex_etc_папка_a_b_.ini");
  EXPECT_EQ(TSafeIniFile::ChunkHash("abc"), 397824173);
  EXPECT_EQ(TSafeIniFile::ChunkHash(""), 0);
  TSafeIniFile ini(file);
  EXPECT_TRUE(ini.HasLock());
  EXPECT_EQ(ini.LockPath(), "/dev/shm/" + TSafeIniFile::LockName(file));
}

TEST_F(SafeIniFileTest, StoredFormsOfShortValues) {
  struct Case {
    const char* value;
    const char* line;  // as stored
    const char* back;  // as read
  } cases[] = {
      {"a\nb", "K=a<@\\n@>b\r\n", "a\r\nb"},
      {"a\r\nb", "K=a<@\\n@>b\r\n", "a\r\nb"},
      {" x ", "K=\" x \"\r\n", " x "},
      {"\"x", "K=\"\"x\"\r\n", "\"x"},
      {"'abc'", "K=\"'abc'\"\r\n", "'abc'"},  // kept whole, quotes and all
      {"\t", "K=\"\t\"\r\n", "\t"},
      {"", "K=\r\n", ""},  // the empty text, not the default
      {"\r", "K=\r\n", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RoundTrip(c.value), c.back) << c.line;
    EXPECT_NE(Stored().find(std::string("\n") + c.line), std::string::npos) << Stored();
    EXPECT_EQ(Stored().find("__$"), std::string::npos);
  }
}

TEST_F(SafeIniFileTest, LongValuesReadBackExactly) {
  for (std::size_t length : {0, 1, 65532, 65533, 200000}) {
    std::string plain(length, 'a');
    std::string broken = plain;
    for (std::size_t i = 7; i < broken.size(); i += 1000) broken.replace(i, 2, "\r\n");
    for (const std::string& value : {plain, broken, " " + broken + "\" ", "\"" + plain + "'", "'" + plain + "'"}) {
      ASSERT_EQ(RoundTrip(value), value) << "length " << value.size();
    }
  }
  // A line break is never split between chunks.
  const std::string edge = std::string(65530, 'a') + "\r\nb";
  EXPECT_EQ(RoundTrip(edge), edge);
  EXPECT_EQ(TIniText(Stored()).Read("S", "K__$Line2"), "<@\\n@>b");
  // Characters, not bytes: 65533 Cyrillic letters are two chunks too.
  std::string cyrillic;
  for (int i = 0; i < 65533; ++i) cyrillic += "ж";
  EXPECT_EQ(RoundTrip(cyrillic), cyrillic);
  EXPECT_EQ(TSafeIniFile(file).ReadString("S", "K__$Line2", ""), "ж");
}

TEST_F(SafeIniFileTest, ContinuationKeysOfATwoChunkValue) {
  RoundTrip(std::string(65533, 'z'));
  TSafeIniFile ini(file);
  Strings keys;
  ini.ReadSection("S", keys);
  EXPECT_EQ(keys, (Strings{"K", "K__$Count", "K__$Hash", "K__$Line2"}));
  EXPECT_EQ(ini.ReadString("S", "K__$Count", ""), "2");
  EXPECT_EQ(ini.ReadString("S", "K__$Hash", ""), std::to_string(TSafeIniFile::ChunkHash(std::string(65532, 'z'))));
  EXPECT_EQ(ini.ReadString("S", "K__$Line2", ""), "z");
}

TEST_F(SafeIniFileTest, ShortValueRemovesOldContinuationKeysInOneReplace) {
  RoundTrip(std::string(2 * 65532 + 1, 'q'));
  {
    RecordingProfile recording;
    TSafeIniFile(file).WriteString("S", "K", "short");
    EXPECT_EQ(recording.changes, 1);
  }
  Strings keys;
  TSafeIniFile(file).ReadSection("S", keys);
  EXPECT_EQ(keys, Strings{"K"});
  EXPECT_EQ(TSafeIniFile(file).ReadString("S", "K", ""), "short");
}

TEST_F(SafeIniFileTest, BrokenContinuationGivesTheFirstLineAlone) {
  RoundTrip(std::string(2 * 65532 + 1, 'q'));
  TIniText edited(Stored());
  edited.Write("S", "K", "edited by hand");
  WriteFileBytes(file, edited.Text());
  EXPECT_EQ(TSafeIniFile(file).ReadString("S", "K", ""), "edited by hand");

  RoundTrip(std::string(65533, 'q'));
  edited = TIniText(Stored());
  edited.Write("S", "K__$Count", "two");
  WriteFileBytes(file, edited.Text());
  EXPECT_EQ(TSafeIniFile(file).ReadString("S", "K", ""), std::string(65532, 'q'));
}

TEST_F(SafeIniFileTest, DefaultsAndConversions) {
  test::ScopedFormatSettings format(TFormatSettings::Russian());  // "," decimals: must not leak into the file
  TSafeIniFile ini(file);
  EXPECT_EQ(ini.ReadString("S", "missing", "x"), "x");
  EXPECT_TRUE(ini.ReadBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", true));
  ini.WriteBool("S", "B", true);
  ini.WriteString("S", "Word", "yes");
  ini.WriteString("S", "Hex", "$1F");
  ini.WriteString("S", "Comma", "1,5");
  ini.WriteFloat("S", "F", 1.5);
  const double date = EncodeDate(2024, 3, 5), time = EncodeTime(13, 45, 7, 123);
  ini.WriteDate("S", "D", date);
  ini.WriteTime("S", "T", time);
  ini.WriteDateTime("S", "DT", ComposeDateTime(date, time));
  EXPECT_EQ(Stored(),
            "[S]\r\nB=1\r\nWord=yes\r\nHex=$1F\r\nComma=1,5\r\nF=1.5\r\nD=05.03.2024\r\n"
            "T=13:45:07.123\r\nDT=05.03.2024 13:45:07.123\r\n");
  EXPECT_FALSE(ini.ReadBool("S", "Word", false));
  EXPECT_EQ(ini.ReadInteger("S", "Hex", 0), 31);
  EXPECT_EQ(ini.ReadFloat("S", "Comma", -1), -1);
  EXPECT_EQ(ini.ReadFloat("S", "F", -1), 1.5);
  EXPECT_EQ(ini.ReadDate("S", "D", 0), date);
  EXPECT_NEAR(ini.ReadTime("S", "T", 0), time, 1e-9);
  EXPECT_NEAR(ini.ReadDateTime("S", "DT", 0), date + time, 1e-9);
  EXPECT_EQ(ini.ReadDate("S", "Word", 7), 7);
}

TEST_F(SafeIniFileTest, ArgumentChecksAndWrappedMessagesKeepTheClass) {
  const std::string noSection = "Не указано название секции. Имя файла: " + file;
  const std::string noIdent = "Не указано название переменной. Имя файла: " + file;
  EXPECT_EQ(ErrorOf([](TSafeIniFile& ini) { ini.ReadString("", "K", ""); }), "TSafeIniFile.ReadString -> " + noSection);
  EXPECT_EQ(ErrorOf([](TSafeIniFile& ini) { ini.WriteString("S", "", "v"); }),
            "TSafeIniFile.WriteString -> " + noIdent);
  EXPECT_EQ(ErrorOf([](TSafeIniFile& ini) { ini.DeleteKey("S", ""); }), "TSafeIniFile.DeleteKey -> " + noIdent);
  EXPECT_EQ(ErrorOf([](TSafeIniFile& ini) { ini.EraseSection(""); }), "TSafeIniFile.EraseSection -> " + noSection);
  Strings out;
  EXPECT_EQ(ErrorOf([&](TSafeIniFile& ini) { ini.ReadSection("", out); }), "TSafeIniFile.ReadSection -> " + noSection);
  EXPECT_EQ(ErrorOf([&](TSafeIniFile& ini) { ini.ReadSectionValues("", out); }),
            "TSafeIniFile.ReadSectionValues -> " + noSection);
  EXPECT_EQ(ErrorOf([](TSafeIniFile& ini) { ini.ReadDate("", "K", 0); }), "TSafeIniFile.ReadString -> " + noSection);
  EXPECT_EQ(ErrorOf([](TSafeIniFile& ini) { ini.WriteTime("S", "", 0); }),
            "TSafeIniFile.WriteTime -> TSafeIniFile.WriteString -> " + noIdent);
  EXPECT_EQ(ErrorOf([](TSafeIniFile& ini) { ini.ReadBool("S", "", true); }), "TSafeIniFile.ReadString -> " + noIdent);
  EXPECT_EQ(ErrorOf([](TSafeIniFile& ini) { ini.WriteString("S", " \t", "v"); }),
            "TSafeIniFile.WriteString -> Invalid argument -> Unable to write to " + file)
      << "a name of blanks alone would store a line that is no key";
}

TEST_F(SafeIniFileTest, RefusedWritesAreRetriedUnlessTheyCannotSucceed) {
  {
    RecordingProfile refusing;
    refusing.failCode = EACCES;
    refusing.failures = 2;
    TSafeIniFile(file).WriteString("S", "K", "v");
    EXPECT_EQ(refusing.writeAttempts, 3);
  }
  EXPECT_EQ(TSafeIniFile(file).ReadString("S", "K", ""), "v");
  {
    RecordingProfile full;
    full.failCode = ENOSPC;
    full.failures = -1;
    EXPECT_EQ(
        ErrorOf([](TSafeIniFile& ini) { ini.WriteFloat("S", "K", 2); }),
        "TSafeIniFile.WriteFloat -> TSafeIniFile.WriteString -> No space left on device -> Unable to write to " + file);
    EXPECT_EQ(full.writeAttempts, 1);
  }
  {
    RecordingProfile denied;
    denied.failCode = EACCES;
    denied.failures = -1;
    EXPECT_EQ(ErrorOf([](TSafeIniFile& ini) { ini.WriteString("S", "K", "w"); }),
              "TSafeIniFile.WriteString -> Permission denied -> Unable to write to " + file);
    EXPECT_GT(denied.writeAttempts, 2) << "retried until the timeout";
  }
  const std::string nowhere = dir.file("missing/Selvo.ini");
  try {
    TSafeIniFile(nowhere).WriteString("S", "K", "v");
    ADD_FAILURE() << "write into a missing folder succeeded";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message(), "TSafeIniFile.WriteString -> No such file or directory -> Unable to write to " + nowhere);
  }
}

TEST_F(SafeIniFileTest, CyrillicNamesAndListings) {
  TSafeIniFile ini(file);
  ini.WriteString("Секция", "Ключ", "Значение");
  EXPECT_EQ(Stored(), Utf8ToCp1251("[Секция]\r\nКлюч=Значение\r\n"));
  EXPECT_EQ(ini.ReadString("СЕКЦИЯ", "кЛЮЧ", ""), "Значение");
  ini.WriteString("Секция", "long", std::string(65533, 'l'));
  ini.WriteString("Секция\\Под", "x", " 1");
  ini.WriteString("Другая", "y", "2");

  Strings out;
  ini.ReadSections(out);
  EXPECT_EQ(out, (Strings{"Секция", "Секция\\Под", "Другая"}));
  ini.ReadSections("секция", out);
  EXPECT_EQ(out, (Strings{"Секция", "Секция\\Под"}));
  ini.ReadSectionValues("Секция\\Под", out);
  EXPECT_EQ(out, Strings{"x=\" 1\""});
  EXPECT_TRUE(ini.ValueExists("секция", "КЛЮЧ"));

  ini.DeleteKey("Секция", "LONG");
  ini.ReadSection("Секция", out);
  EXPECT_EQ(out, Strings{"Ключ"});
  ini.EraseSection("другая");
  ini.ReadSections(out);
  EXPECT_EQ(out.size(), 2u);
  EXPECT_NO_THROW(ini.UpdateFile());

  std::istringstream bytes(std::string("\x00\xFF\x10", 3));
  ini.WriteBinaryStream("Секция", "bin", bytes);
  EXPECT_EQ(ini.ReadString("Секция", "bin", ""), "00FF10");
  std::ostringstream back;
  EXPECT_EQ(ini.ReadBinaryStream("Секция", "bin", back), 3);
  EXPECT_EQ(back.str(), std::string("\x00\xFF\x10", 3));
}

// Runs `body` in a child process that ends with its result.
template <class Body>
pid_t Spawn(Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    int rc = 3;
    try {
      rc = body();
    } catch (...) {
    }
    _exit(rc);
  }
  return pid;
}

TEST_F(SafeIniFileTest, ConcurrentProcessesLoseNoWrite) {
  constexpr int kProcesses = 8, kKeys = 200;
  auto key = [](int p, int k) { return "p" + std::to_string(p) + "k" + std::to_string(k); };
  auto value = [](int p, int k) { return "value " + std::to_string(p * 1000 + k); };
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(Spawn([&, p] {
      // Lost writes are the question, not waits: on a loaded machine a
      // child may wait for its turn longer than a till would.
      TSafeIniFile::SetLockTimeoutForTesting(120000);
      for (int k = 0; k < kKeys; ++k) {
        TSafeIniFile(file).WriteString("Shared", key(p, k), value(p, k));
        const int other = (p + 1) % kProcesses;
        const std::string seen = TSafeIniFile(file).ReadString("Shared", key(other, k), "");
        if (!seen.empty() && seen != value(other, k)) return 2;
      }
      return 0;
    }));
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  TSafeIniFile ini(file);
  Strings keys;
  ini.ReadSection("Shared", keys);
  EXPECT_EQ(keys.size(), static_cast<std::size_t>(kProcesses * kKeys));
  for (int p = 0; p < kProcesses; ++p)
    for (int k = 0; k < kKeys; ++k) ASSERT_EQ(ini.ReadString("Shared", key(p, k), ""), value(p, k));
}

TEST_F(SafeIniFileTest, HolderKilledWithTheLockDoesNotBlockOthers) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = Spawn([&] {
    TProcessLock lock(TSafeIniFile::LockName(file));
    lock.Lock();
    char c = 1;
    (void)!write(ready[1], &c, 1);
    pause();
    return 0;
  });
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  auto written = std::make_shared<std::promise<void>>();
  std::future<void> done = written->get_future();
  std::thread([file = file, written] {
    TSafeIniFile(file).WriteString("S", "after", "taken over");
    written->set_value();
  }).detach();
  EXPECT_EQ(done.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout) << "the holder blocks";
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(TSafeIniFile(file).ReadString("S", "after", ""), "taken over");
  close(ready[0]);
  close(ready[1]);
}

TEST_F(SafeIniFileTest, LockHeldByAnotherProcessFailsInBoundedTimeNamingTheFile) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = Spawn([&] {
    // Any user can do this to the world-writable lock file.
    const std::string lockFile =
        TProcessLock::kSystemWideFolder + TProcessLock::FileNameFor(TSafeIniFile::LockName(file));
    int fd = open(lockFile.c_str(), O_RDONLY | O_CREAT, 0666);
    flock(fd, LOCK_EX);
    char c = 1;
    (void)!write(ready[1], &c, 1);
    pause();
    return 0;
  });
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  TSafeIniFile::SetLockTimeoutForTesting(200);
  const std::string message = ErrorOf([](TSafeIniFile& ini) { ini.ReadBool("SelvoDiscount", "K", false); });
  EXPECT_THROW(TSafeIniFile::THeldLock held(file), EIniFileException) << "a task's hold waits as long, no longer";
  TSafeIniFile::SetLockTimeoutForTesting(0);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(message.find("TSafeIniFile.ReadString -> Файл настроек " + file + " занят другим процессом"), 0u)
      << message;
  EXPECT_NO_THROW(TSafeIniFile(file).WriteString("S", "K", "free again"));
  close(ready[0]);
  close(ready[1]);
}

// The objects of one task, made and freed under one held lock, take it
// again without waiting; no other process gets in until the hold ends.
TEST_F(SafeIniFileTest, HeldLockCoversTheObjectsOfOneTask) {
  auto writeFromAnotherProcess = [&](const std::string& value) {
    pid_t other = Spawn([&] {
      TSafeIniFile::SetLockTimeoutForTesting(300);
      TSafeIniFile(file).WriteString("S", "K", value);
      return 0;
    });
    int status = 0;
    waitpid(other, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  {
    const TSafeIniFile::THeldLock held(file);
    TSafeIniFile(file).WriteString("S", "K", "mine");
    EXPECT_FALSE(writeFromAnotherProcess("other")) << "kept out while held";
    EXPECT_EQ(TSafeIniFile(file).ReadString("S", "K", ""), "mine");
  }
  EXPECT_TRUE(writeFromAnotherProcess("other")) << "let in once the hold ends";
  EXPECT_EQ(TSafeIniFile(file).ReadString("S", "K", ""), "other");
}

TEST_F(SafeIniFileTest, SettingsFileThatCannotBeReadIsAnErrorNotAnEmptyFile) {
  struct Case {
    const char* what;
    void (*make)(const std::string&);
    const char* reason;
  } cases[] = {
      {"a folder", [](const std::string& f) { mkdir(f.c_str(), 0700); }, "not a regular file"},
      {"a FIFO, which must not block", [](const std::string& f) { mkfifo(f.c_str(), 0600); }, "not a regular file"},
  };
  for (const Case& c : cases) {
    TempDir place;
    file = place.file("Selvo.ini");
    c.make(file);
    const std::string unable = "Unable to read " + file + ": " + c.reason;
    EXPECT_EQ(ErrorOf([](TSafeIniFile& ini) { ini.ReadBool("SelvoDiscount", "K", false); }),
              "TSafeIniFile.ReadString -> " + unable)
        << c.what;
    EXPECT_NE(ErrorOf([](TSafeIniFile& ini) { ini.WriteString("S", "K", "v"); }).find(c.reason), std::string::npos)
        << c.what;
    Strings out;
    EXPECT_THROW(TSafeIniFile(file).ReadSections(out), EIniFileException) << c.what;
  }
  file = dir.file("missing.ini");
  EXPECT_EQ(TSafeIniFile(file).ReadString("S", "K", "default"), "default") << "a missing file reads as empty";
}

TEST_F(SafeIniFileTest, LongValueIsTheOldOrTheNewWhateverMomentTheWriterIsKilled) {
  const std::string values[] = {std::string(2 * 65532 + 100, 'a'), std::string(3 * 65532 + 7, 'b') + "\nend"};
  TSafeIniFile(file).WriteString("S", "K", values[0]);
  std::mt19937 random(12);
  for (int round = 0; round < 40; ++round) {
    pid_t writer = Spawn([&] {
      for (int n = 1;; ++n) TSafeIniFile(file).WriteString("S", "K", values[n % 2]);
      return 0;
    });
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    const std::string read = TSafeIniFile(file).ReadString("S", "K", "");
    ASSERT_TRUE(read == values[0] || read == std::string(3 * 65532 + 7, 'b') + "\r\nend")
        << "round " << round << ": a value of " << read.size() << " characters";
  }
  TSafeIniFile(file).WriteString("S", "K", "x");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
      << "temporary files of killed writers are removed by the next writer";
}

}  // namespace
}  // namespace selvo
