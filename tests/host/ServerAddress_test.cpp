// The --db address as the operator writes it: which texts reach the server
// (as libpq reads addresses), no password in anything selvo-host says about
// one, and the password given by libpq's own means instead of on the
// command line.
#include <fcntl.h>
#include <libpq-fe.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/shopdb/ServerAddress.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/TestSupport.h"

extern char** environ;

namespace selvo::host {
namespace {

using selvo::test::PgCreateScratchDatabase;
using selvo::test::PgExec;
using selvo::test::PgTestPassword;
using selvo::test::PgTestPasswordConnInfo;
using selvo::test::PgWithConnOption;
using selvo::test::ReadFileBytes;
using selvo::test::TempDir;
using selvo::test::WriteFileBytes;

struct TRun {
  int code = -1;  // -1: ended by a signal
  std::string out, err;
};

// The real selvo-host with these arguments and the environment variables
// `env` (NAME=VALUE) put over this process's, without any PG* variable or
// home folder of the machine's.
TRun RunHost(const TempDir& dir, const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> environment = {"WINDIR=" + dir.path(), "HOME=" + dir.path(),
                                          "SELVO_MODULE=" SELVO_MODULE_PATH};
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name.rfind("PG", 0) != 0 && name != "WINDIR" && name != "HOME" && name != "SELVO_MODULE")
      environment.push_back(entry);
  }
  environment.insert(environment.end(), env.begin(), env.end());
  std::vector<char*> envp, argv = {const_cast<char*>(SELVO_HOST_PATH)};
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const std::string out = dir.file("host.out"), err = dir.file("host.err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, SELVO_HOST_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error(std::string("cannot start selvo-host: ") + std::strerror(spawned));
  int status = 0;
  waitpid(pid, &status, 0);
  TRun run;
  if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
  run.out = ReadFileBytes(out);
  run.err = ReadFileBytes(err);
  return run;
}

bool LibpqReads(const std::string& address) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(address.c_str(), &error);
  PQfreemem(error);
  PQconninfoFree(options);
  return options != nullptr;
}

// Distinct texts, so that a password found anywhere in a message is a leak.
constexpr const char* kSecret = "Qz7-pw-sekret";
constexpr const char* kSecret2 = "Wv4-pw-zweite";

// Every case names a place where nothing listens (/nonexistent), so each
// ends in a message; `names` is a part of it that must be there, so that a
// message that says nothing does not pass for a masked one.
struct TAddressCase {
  const char* what;
  std::string address;
  bool server;      // recognised as a server address
  bool libpqReads;  // libpq's own parser reads it as it stands
  std::string names;
};

std::vector<TAddressCase> AddressCases(const std::string& dir) {
  const std::string s = kSecret, s2 = kSecret2;
  return {
      {"options first", "options='-c geqo=off' host=/nonexistent password=" + s, true, true, "/nonexistent"},
      {"target_session_attrs first", "target_session_attrs=any host=/nonexistent password=" + s, true, true,
       "/nonexistent"},
      {"sslpassword first", "sslpassword=" + s + " host=/nonexistent", true, true, "/nonexistent"},
      {"spaces around '='", "  dbname = x   host=/nonexistent password =" + s, true, true, "/nonexistent"},
      {"a keyword in upper case", "Host=/nonexistent password=" + s, true, false, "\"Host\""},
      {"the scheme in mixed case", "PostgreSQL://u:" + s + "@/db?host=/nonexistent", true, false, "/nonexistent"},
      {"the short scheme in upper case", "POSTGRES://u:" + s + "@/db?host=/nonexistent", true, false, "/nonexistent"},
      {"an unquoted password with spaces", "host=/nonexistent password=" + s + " " + s2 + " dbname=x", true, false,
       "missing \"=\""},
      {"an address longer than the host takes", "host=/nonexistent password=" + s + std::string(5000, 'x'), true, true,
       "длиннее 4096 байт"},
      {"a password of one letter", "host=/nonexistent password=a", true, true, "failed: No such file or directory"},
      {"a quoted password with a quote in it", "host=/nonexistent password = '" + s + " \\' " + s2 + "' dbname=x", true,
       true, "/nonexistent"},
      {"a quoted password left open", "host=/nonexistent password='" + s + " " + s2, true, false, "unterminated"},
      {"a password in the URI's user information", "postgresql://u:" + s + "@/db?host=/nonexistent", true, true,
       "/nonexistent"},
      {"a password in the URI's query", "postgresql:///db?host=/nonexistent&password=" + s, true, true, "/nonexistent"},
      {"a URI query libpq cannot read", "postgresql:///db?password=" + s + "&host=/nonexistent&broken", true, false,
       "broken"},
      {"a bad escape in the URI's password", "postgresql://u:" + s + "%zz@/db", true, false, "percent-encoded"},
      {"a service that is not defined", "service=selvo_no_such_service password=" + s, true, true,
       "selvo_no_such_service"},
      // In a folder that is not there, so that init cannot make them.
      {"a file whose name holds password=", dir + "/none/password=" + s + ".db", false, false,
       dir + "/none/password=***"},
      {"a file whose name begins like a keyword", dir + "/none/host=x.db", false, false, dir + "/none/host=x.db"},
      {"a file named plainly", dir + "/none/shop.db", false, false, dir + "/none/shop.db\""},
      {"a keyword's beginning is no keyword", "hostname=/nonexistent", false, false, "hostname=/nonexistent"},
  };
}

TEST(ServerAddressTest, RecognisedAsLibpqReadsItAndNoPasswordInAnyMessage) {
  TempDir dir;
  for (const TAddressCase& c : AddressCases(dir.path())) {
    SCOPED_TRACE(std::string(c.what) + ": " + c.address);
    EXPECT_EQ(IsServerAddress(c.address), c.server);
    EXPECT_EQ(LibpqReads(c.address), c.libpqReads);
    // What libpq reads is a server address; what it does not is one only
    // where it is a server address written wrong (libpq then names the
    // fault), and the scheme's letter case is all it needs to read a URI.
    if (c.libpqReads) {
      EXPECT_TRUE(c.server);
    }
    if (LibpqAddress(c.address) != c.address) {
      EXPECT_TRUE(LibpqReads(LibpqAddress(c.address)));
    }
    // Each way a command reaches the shop: reading it, making it, the till
    // service (its listener too) and the check of the settings.
    const struct {
      std::vector<std::string> args;
      int code;
    } commands[] = {{{"payments"}, 1}, {{"init"}, 1}, {{"serve", "--listen", "127.0.0.1:0"}, 1}, {{"lint"}, 2}};
    for (const auto& [args, code] : commands) {
      std::vector<std::string> line = args;
      line.insert(line.end(), {"--db", c.address});
      const std::string& command = args[0];
      const TRun run = RunHost(dir, line, {});
      EXPECT_EQ(run.code, code) << command << ": " << run.err;
      EXPECT_EQ(run.err.rfind("selvo-host: ", 0), 0u) << run.err;
      EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line:\n" << run.err;
      EXPECT_NE(run.err.find(c.names), std::string::npos) << command << ": " << run.err;
      for (const char* secret : {kSecret, kSecret2})
        EXPECT_EQ((run.out + run.err).find(secret), std::string::npos) << command << ": " << run.err;
    }
  }
}

// Each keyword libpq knows starts a server address, in any letter case.
TEST(ServerAddressTest, EveryKeywordOfLibpqStartsAServerAddress) {
  PQconninfoOption* options = PQconninfoParse("", nullptr);
  ASSERT_NE(options, nullptr);
  int keywords = 0;
  for (PQconninfoOption* o = options; o->keyword; ++o, ++keywords) {
    std::string upper = o->keyword;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const std::string& address :
         {std::string(o->keyword) + "=x", std::string(o->keyword) + " = 'x y'", upper + "=x"})
      EXPECT_TRUE(IsServerAddress(address)) << address;
    EXPECT_FALSE(IsServerAddress(std::string(o->keyword) + "x=1")) << o->keyword;
  }
  PQconninfoFree(options);
  EXPECT_GT(keywords, 30);  // libpq 15 knows 36
}

// Over texts put together from pieces of addresses and of file names, every
// text libpq's parser reads is a server address, so no address libpq would
// connect to is ever opened as a file. The texts recognised that libpq
// refuses (a keyword in other letters, a broken value, a word without '=')
// are counted: they get libpq's own message.
TEST(ServerAddressTest, AgreesWithLibpqsParserOnGeneratedTexts) {
  const std::vector<std::string> pieces = {"host",
                                           "Host",
                                           "dbname",
                                           "password",
                                           "service",
                                           "options",
                                           "hostname",
                                           "=",
                                           " = ",
                                           " ",
                                           "'a b'",
                                           "'open",
                                           "x",
                                           "/tmp/shop.db",
                                           "shop.db",
                                           "\\'",
                                           "postgresql://",
                                           "PostgreSQL://",
                                           "u:p@h/db",
                                           "?",
                                           "&",
                                           "%zz"};
  std::mt19937 random(32);
  int read = 0, recognisedOnly = 0, files = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const int count = 1 + static_cast<int>(random() % 6);
    for (int k = 0; k < count; ++k) text += pieces[random() % pieces.size()];
    if (text.find_first_not_of(" ") == std::string::npos) continue;  // libpq reads a blank text as no settings
    const bool recognised = IsServerAddress(text);
    if (LibpqReads(LibpqAddress(text))) {
      ++read;
      EXPECT_TRUE(recognised) << "libpq reads [" << text << "]";
    } else if (recognised) {
      ++recognisedOnly;
    } else {
      ++files;
    }
  }
  // All three kinds occur, so the check above saw texts of each.
  EXPECT_GT(read, 100);
  EXPECT_GT(recognisedOnly, 100);
  EXPECT_GT(files, 100);
  std::cout << "libpq reads " << read << ", recognised but refused by libpq " << recognisedOnly << ", files " << files
            << "\n";
}

// A password that is not on the command line: in the password file, in a
// service file's entry, or with the whole address from libpq's environment
// variables. Each works on the server, for writing the shop and for
// reading it; with the password nowhere the login is refused.
TEST(ServerAddressTest, ThePasswordComesFromLibpqsOwnFiles) {
  TempDir dir;
  const std::string address = PgWithConnOption(PgCreateScratchDatabase("pgpass_shop"), "user", "selvo_pw");
  PgExec(PgWithConnOption(address, "user", "selvo"), "ALTER DATABASE pgpass_shop OWNER TO selvo_pw");
  const std::string password = PgTestPassword();
  ASSERT_EQ(PgTestPasswordConnInfo().find(password), std::string::npos);

  const std::string passFile = dir.file("pgpass");
  WriteFileBytes(passFile, "*:*:*:selvo_pw:" + password + "\n");
  ASSERT_EQ(chmod(passFile.c_str(), 0600), 0);  // libpq ignores a file others may read
  const auto option = [&](const char* keyword) {
    PQconninfoOption* options = PQconninfoParse(address.c_str(), nullptr);
    std::string value;
    for (PQconninfoOption* o = options; o && o->keyword; ++o)
      if (std::strcmp(o->keyword, keyword) == 0 && o->val) value = o->val;
    PQconninfoFree(options);
    return value;
  };
  const std::string serviceFile = dir.file("pg_service.conf");
  WriteFileBytes(serviceFile, "[selvo_shop]\nhost=" + option("host") + "\nport=" + option("port") +
                                  "\ndbname=pgpass_shop\nuser=selvo_pw\n");

  const struct {
    const char* what;
    std::string database;
    std::vector<std::string> env;
  } ways[] = {
      {"the password file", address, {"PGPASSFILE=" + passFile}},
      {"~/.pgpass", address, {}},
      {"a service file's entry", "service=selvo_shop", {"PGSERVICEFILE=" + serviceFile, "PGPASSFILE=" + passFile}},
      {"libpq's environment variables",
       "postgresql://",
       {"PGHOST=" + option("host"), "PGPORT=" + option("port"), "PGDATABASE=pgpass_shop", "PGUSER=selvo_pw",
        "PGPASSFILE=" + passFile}},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.what);
    if (way.env.empty()) {
      WriteFileBytes(dir.file(".pgpass"), ReadFileBytes(passFile));
      ASSERT_EQ(chmod(dir.file(".pgpass").c_str(), 0600), 0);
    }
    const TRun init = RunHost(dir, {"init", "--force", "--db", way.database}, way.env);
    EXPECT_EQ(init.code, 0) << init.err;
    const std::string named = way.database.rfind("service=", 0) == 0 ? "служба PostgreSQL \"selvo_shop\""
                                                                     : "\"pgpass_shop\" на сервере " + option("host");
    EXPECT_NE(init.out.find(named), std::string::npos) << init.out;
    const TRun payments = RunHost(dir, {"payments", "--db", way.database}, way.env);
    EXPECT_EQ(payments.code, 0) << payments.err;
    EXPECT_NE(payments.out.find("Виды оплаты (9), база данных \"pgpass_shop\" на сервере"), std::string::npos)
        << payments.out;
    EXPECT_EQ((init.out + init.err + payments.out + payments.err).find(password), std::string::npos);
    unlink(dir.file(".pgpass").c_str());
  }

  const TRun refused = RunHost(dir, {"payments", "--db", address}, {"PGPASSFILE=" + dir.file("none")});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("password"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace selvo::host
