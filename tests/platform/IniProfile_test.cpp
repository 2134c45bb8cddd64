#include "platform/IniProfile.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/FileIO.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

struct ReadCase {
  const char* rule;
  const char* text;
  const char* section;
  const char* key;
  const char* expected;  // nullptr: not found
};

TEST(IniTextTest, ReadsAsTheProfileFunctionsDo) {
  const ReadCase cases[] = {
      {"blanks around value dropped", "[s]\nk=  abc  \n", "s", "k", "abc"},
      {"empty value is not missing", "[s]\nk=   \n", "s", "k", ""},
      {"double quotes dropped once", "[s]\nk=\"  abc \"\n", "s", "k", "  abc "},
      {"single quotes dropped", "[s]\nk='abc'\n", "s", "k", "abc"},
      {"inner quotes stay", "[s]\nk=\"'abc'\"\n", "s", "k", "'abc'"},
      {"empty quotes", "[s]\nk=\"\"\n", "s", "k", ""},
      {"mismatched quotes stay", "[s]\nk=\"abc'\n", "s", "k", "\"abc'"},
      {"lone quote stays", "[s]\nk=\"\n", "s", "k", "\""},
      {"quote inside stays", "[s]\nk=a\"b\"c\n", "s", "k", "a\"b\"c"},
      {"blanks around names", "[ s ] junk\n  k  =v\n", "s", "k", "v"},
      {"names ignore letter case", "[SeC]\nKey=v\n", "sec", "KEY", "v"},
      {"cyrillic letters fold", "[\xCA\xEB\xFE\xF7]\n\xC8\xEC\xFF=v\n", "\xEA\xCB\xDE\xD7", "\xE8\xCC\xDF", "v"},
      {"8-bit value unchanged", "[s]\nk=\x98\xFF\x80\n", "s", "k", "\x98\xFF\x80"},
      {"semicolon line is a comment", "[s]\n;k=v\n", "s", ";k", nullptr},
      {"semicolon inside value kept", "[s]\nk=a;b\n", "s", "k", "a;b"},
      {"hash is no comment", "[s]\n#k=v\n", "s", "#k", "v"},
      {"line without = is no key", "[s]\nk\n", "s", "k", nullptr},
      {"lines before first header", "k=v\n[s]\n", "s", "k", nullptr},
      {"first key wins", "[s]\nk=1\nk=2\n", "s", "k", "1"},
      {"only first section searched", "[s]\na=1\n[s]\nk=2\n", "s", "k", nullptr},
      {"unclosed bracket is no header", "[s]\n[t\nk=v\n", "s", "k", "v"},
      {"CR line ends", "[s]\rk=v\r", "s", "k", "v"},
      {"CR LF line ends", "[s]\r\nk=v\r\n", "s", "k", "v"},
      {"key of another section", "[s]\n[t]\nk=v\n", "s", "k", nullptr},
      {"missing section", "", "s", "k", nullptr},
      {"bracket inside a value is no header", "[a]\nx=[s]\nk=1\n[s]\nk=2\n", "s", "k", "2"},
      {"bracket after text on a line is no header", "[a]\nx [s]\nk=1\n", "s", "k", nullptr},
      {"header after blanks", "[a]\nx=1\n \t[s]\nk=v\n", "s", "k", "v"},
      {"header after a lone CR", "[a]\rx=[\r[s]\rk=v\r", "s", "k", "v"},
      {"header as the last line", "[a]\nx=1\n[s]", "s", "k", nullptr},
      {"bracket as the last byte", "[a]\nx=1\n[", "s", "k", nullptr},
  };
  for (const auto& c : cases) {
    const TIniText ini(c.text);
    auto got = ini.Read(c.section, c.key);
    if (c.expected) {
      ASSERT_TRUE(got.has_value()) << c.rule;
      EXPECT_EQ(*got, c.expected) << c.rule;
    } else {
      EXPECT_FALSE(got.has_value()) << c.rule;
    }
    // A read of several keys in one pass answers each as Read does, also
    // for a key asked twice and beside keys that are not there.
    const std::string_view keys[] = {"zz", c.key, "k__$Count", c.key};
    const auto each = ini.ReadEach(c.section, keys);
    ASSERT_EQ(each.size(), 4u);
    EXPECT_EQ(each[1], got) << c.rule;
    EXPECT_EQ(each[3], got) << c.rule;
    EXPECT_EQ(each[0], ini.Read(c.section, "zz")) << c.rule;
    EXPECT_EQ(each[2], ini.Read(c.section, "k__$Count")) << c.rule;
  }
  const TIniText counted("[s]\nk__$Count=3\nk=a\n[t]\nk=b\n");
  const std::string_view keys[] = {"K__$COUNT", "k"};
  EXPECT_EQ(counted.ReadEach("S", keys), (std::vector<std::optional<std::string>>{"3", "a"}));
  EXPECT_TRUE(counted.ReadEach("s", {}).empty());
}

TEST(IniTextTest, WritesInPlaceAndKeepsOtherLinesByteForByte) {
  TIniText ini("; head\n[Sec]\n  Key =  old\n\tother=x ; y\n\n[Next]\nz=1");
  EXPECT_TRUE(ini.Write("sec", "KEY", "  new"));
  EXPECT_EQ(ini.Text(), "; head\n[Sec]\nKey=new\r\n\tother=x ; y\n\n[Next]\nz=1");
  EXPECT_FALSE(ini.Write("sec", "key", "new")) << "unchanged value leaves the text alone";

  EXPECT_TRUE(ini.Write("Sec", "added", ""));
  EXPECT_EQ(ini.Text(), "; head\n[Sec]\nKey=new\r\n\tother=x ; y\nadded=\r\n\n[Next]\nz=1");

  EXPECT_TRUE(ini.Write("Next", "w", "2"));  // last line had no line end
  EXPECT_EQ(ini.Text(), "; head\n[Sec]\nKey=new\r\n\tother=x ; y\nadded=\r\n\n[Next]\nz=1\r\nw=2\r\n");

  TIniText fresh;
  EXPECT_TRUE(fresh.Write(" s ", "k", "v\r\ninjected=1"));
  EXPECT_EQ(fresh.Text(), "[s]\r\nk=v\r\n") << "a line break cannot add lines";
  TIniText noLineEnd("x=1");
  noLineEnd.Write("t", "k", "v");
  EXPECT_EQ(noLineEnd.Text(), "x=1\r\n[t]\r\nk=v\r\n");
}

TEST(IniTextTest, DeletesAndListings) {
  TIniText ini("[a]\nk=1\n;c\nk=2\nj=3\n[b]\nx=1\n[A]\ny=2\n[c]\n");
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"a", "b", "A", "c"}));
  EXPECT_EQ(ini.KeyNames("A"), (std::vector<std::string>{"k", "k", "j"}));
  EXPECT_EQ(ini.SectionLines("a"), (std::vector<std::string>{"k=1", "k=2", "j=3"}));

  EXPECT_TRUE(ini.DeleteKey("a", "K"));
  EXPECT_EQ(ini.Text(), "[a]\n;c\nj=3\n[b]\nx=1\n[A]\ny=2\n[c]\n");
  EXPECT_FALSE(ini.DeleteKey("a", "missing"));
  EXPECT_TRUE(ini.DeleteKey("b", "x"));
  EXPECT_EQ(ini.SectionNames().size(), 4u) << "header stays when its last key goes";

  EXPECT_TRUE(ini.DeleteSection("a"));
  EXPECT_EQ(ini.Text(), "[b]\n[c]\n") << "every section of the name goes with its lines";
  EXPECT_FALSE(ini.DeleteSection("zz"));
}

class IniFileServiceTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string file = dir.file("Selvo.ini");
  TIniProfile& ini = FileIniProfile();

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.path().c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.emplace_back(e->d_name);
      closedir(d);
    }
    return names;
  }
};

TEST_F(IniFileServiceTest, MissingFileReadsAsNothingAndDeletesCreateNothing) {
  EXPECT_FALSE(ini.ReadKey(file, "s", "k", 100).has_value());
  EXPECT_TRUE(ini.SectionNames(file).empty());
  EXPECT_EQ(ini.DeleteKey(file, "s", "k"), 0);
  EXPECT_EQ(ini.DeleteSection(file, "s"), 0);
  EXPECT_EQ(ini.Flush(file), 0);
  EXPECT_TRUE(Entries().empty());
}

TEST_F(IniFileServiceTest, WritesReplaceTheFileKeepingItsModeAndLeaveNoTemporaries) {
  WriteFileBytes(file, "[s]\nold=1\n");
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  ASSERT_EQ(ini.WriteKey(file, "s", "k", "v"), 0);
  EXPECT_EQ(ReadFileBytes(file), "[s]\nold=1\nk=v\r\n");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"Selvo.ini"});
  EXPECT_EQ(ini.ReadKey(file, "s", "old", 2), "1");
  EXPECT_EQ(ini.ReadKey(file, "s", "old", 1), "") << "buffer of one holds nothing but the terminator";
}

TEST_F(IniFileServiceTest, SymbolicLinkTargetIsUpdated) {
  const std::string target = dir.file("real.ini");
  WriteFileBytes(target, "[s]\n");
  ASSERT_EQ(symlink(target.c_str(), file.c_str()), 0);
  ASSERT_EQ(ini.WriteKey(file, "s", "k", "v"), 0);
  struct stat st {};
  ASSERT_EQ(lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFileBytes(target), "[s]\nk=v\r\n");
}

TEST_F(IniFileServiceTest, FailuresReportTheSystemErrorAndKeepTheFile) {
  EXPECT_EQ(ini.WriteKey(dir.file("no/such/Selvo.ini"), "s", "k", "v"), ENOENT);
  ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
  EXPECT_EQ(ini.WriteKey(file, "s", "k", "v"), kNotRegularFile) << "a file that cannot be read is not replaced";
  EXPECT_FALSE(ini.ReadKey(file, "s", "k", 10).has_value());
  TIniText text;
  EXPECT_EQ(ini.ReadText(file, text), kNotRegularFile) << "told, not taken for an empty file";
  EXPECT_EQ(ini.ReadText(dir.file("none.ini"), text), 0);
}

TEST(IniTextTest, ByteOrderMarkDoesNotHideTheFirstSection) {
  TIniText ini("\xEF\xBB\xBF[s]\r\nk=v\r\n");
  EXPECT_EQ(ini.SectionNames(), std::vector<std::string>{"s"});
  EXPECT_EQ(ini.Read("S", "k"), "v");
  EXPECT_TRUE(ini.Write("s", "k", "w"));
  EXPECT_TRUE(ini.Write("s", "new", "1"));
  EXPECT_EQ(ini.Text(), "\xEF\xBB\xBF[s]\r\nk=w\r\nnew=1\r\n") << "one section, the mark kept";
}

// A writer killed at any moment leaves the old or the new content, whole.
TEST_F(IniFileServiceTest, KilledWriterNeverLeavesAPartialFile) {
  std::string content = "[s]\r\n";
  for (int i = 0; i < 2000; ++i) content += "key" + std::to_string(i) + "=" + std::string(40, 'x') + "\r\n";
  WriteFileBytes(file, content);
  for (int round = 0; round < 5; ++round) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int n = 0;; ++n) FileIniProfile().WriteKey(file, "s", "key1999", std::to_string(n));
    }
    usleep(20000 + round * 7000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    TIniText written(ReadFileBytes(file));
    ASSERT_EQ(written.KeyNames("s").size(), 2000u) << "round " << round;
    ASSERT_TRUE(written.Read("s", "key1999").has_value());
  }
}

}  // namespace
}  // namespace selvo
