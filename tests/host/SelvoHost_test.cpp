// The selvo-host program end to end: the built binary on temporary shop
// databases, with the module it loads itself.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/SqliteStatement.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

using selvo::test::ReadFileBytes;
using selvo::test::TempDir;
using selvo::test::WriteFileBytes;

struct TRun {
  int code = -1;  // -1: ended by a signal
  std::string out, err;
};

class SelvoHostTest : public ::testing::Test {
 protected:
  // Runs the program with the arguments (shell words) and environment
  // assignments in front.
  TRun Run(const std::string& args, const std::string& env = "") {
    const std::string cmd =
        env + " '" SELVO_HOST_PATH "' " + args + " >'" + dir_.file("out") + "' 2>'" + dir_.file("err") + "' </dev/null";
    const int status = std::system(cmd.c_str());
    TRun run;
    if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
    run.out = ReadFileBytes(dir_.file("out"));
    run.err = ReadFileBytes(dir_.file("err"));
    return run;
  }
  std::string Db(const std::string& name) { return "--db '" + dir_.file(name) + "'"; }

  TempDir dir_;
};

TEST_F(SelvoHostTest, InitCreatesTheShopAndRefusesToOverwriteIt) {
  TRun init = Run("init " + Db("shop.db"));
  ASSERT_EQ(init.code, 0) << init.err;
  EXPECT_NE(init.out.find(dir_.file("shop.db")), std::string::npos) << init.out;
  const std::string created = ReadFileBytes(dir_.file("shop.db"));
  ASSERT_FALSE(created.empty());

  TRun again = Run("init " + Db("shop.db"));
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("уже существует"), std::string::npos) << again.err;
  EXPECT_NE(again.err.find("--force"), std::string::npos) << again.err;
  EXPECT_EQ(ReadFileBytes(dir_.file("shop.db")), created);

  TRun forced = Run("init --force " + Db("shop.db"));
  EXPECT_EQ(forced.code, 0) << forced.err;
}

TEST_F(SelvoHostTest, PaymentsPrintsEveryPaymentTypeTheModuleRead) {
  ASSERT_EQ(Run("init " + Db("shop.db")).code, 0);
  TRun run = Run("payments " + Db("shop.db"));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  for (const char* text : {"Наименование", "наличные", "безналичные", "ЛНР", "платежный терминал", "дисконтная карта",
                           "ЛБР", "Бонусы", "Ведомость", "Сертификат", "110 Дисконтные карты (доп. 1)",
                           "100 коп. свыше 1000", "печатается", "Виды оплаты (9)"})
    EXPECT_NE(run.out.find(text), std::string::npos) << text << " missing in\n" << run.out;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 12) << "title, header, rule and nine rows";
}

TEST_F(SelvoHostTest, PaymentsShowsColumnsAnOldDatabaseLacks) {
  CreateShopDatabase(dir_.file("old.db"), false, TSchemaOptions{false, false, false});
  {
    TShopDataModule dm(dir_.file("old.db"));
    dm.Connection().Execute("INSERT INTO Payment (ID, Name, Type, \"Check\", Discount) VALUES (3, 'ЛНР', 1, 2, 2.5)");
  }
  TRun run = Run("payments " + Db("old.db"));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("ЛНР"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("—"), std::string::npos) << run.out;
}

TEST_F(SelvoHostTest, DefaultDatabaseLivesInTheUserDataFolder) {
  const std::string env = "XDG_DATA_HOME='" + dir_.file("data") + "'";
  ASSERT_EQ(Run("init", env).code, 0);
  EXPECT_TRUE(std::filesystem::exists(dir_.file("data/selvo/shop.db")));
  TRun run = Run("payments", env);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find(dir_.file("data/selvo/shop.db")), std::string::npos);
}

TEST_F(SelvoHostTest, BadDatabasesGiveAMessageAndNoCrash) {
  ASSERT_EQ(Run("init " + Db("shop.db")).code, 0);
  WriteFileBytes(dir_.file("garbage.db"), std::string(4096, 'x'));
  WriteFileBytes(dir_.file("cut.db"), ReadFileBytes(dir_.file("shop.db")).substr(0, 3000));
  WriteFileBytes(dir_.file("empty.db"), "");
  CreateShopDatabase(dir_.file("broken.db"), false);
  {
    TShopDataModule dm(dir_.file("broken.db"));
    dm.Connection().Execute("INSERT INTO Payment (ID, Name) VALUES (1, 'наличные'); " +
                            test::DropFileHistoryTriggers("Payment") + "ALTER TABLE Payment DROP COLUMN Enabled");
  }
  const struct {
    const char* file;
    const char* message;
  } cases[] = {
      {"missing.db", "не найден"},         {"garbage.db", "не является базой данных магазина"}, {"cut.db", ""},
      {"empty.db", "нет таблиц магазина"}, {"broken.db", "Payment: поле 'Enabled' не найдено"},  // raised by the
                                                                                                 // module, through
                                                                                                 // dlopen
  };
  for (const auto& c : cases) {
    TRun run = Run("payments " + Db(c.file));
    EXPECT_EQ(run.code, 1) << c.file << ": " << run.err;
    EXPECT_NE(run.err.find("selvo-host: "), std::string::npos) << c.file;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.file << ": " << run.err;
  }
}

TEST_F(SelvoHostTest, ModuleThatCannotBeLoaded) {
  ASSERT_EQ(Run("init " + Db("shop.db")).code, 0);
  TRun run = Run("payments " + Db("shop.db"), "SELVO_MODULE='" + dir_.file("nope.so") + "'");
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("Не удалось загрузить модуль"), std::string::npos) << run.err;
}

TEST_F(SelvoHostTest, CommandLineMistakesShowTheUsage) {
  TRun help = Run("--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("selvo-host init"), std::string::npos);
  EXPECT_NE(Run("init --help").out.find("--force"), std::string::npos);
  for (const char* args : {"", "sell", "init --db", "payments --force", "init extra", "init --force=yes"}) {
    TRun run = Run(args);
    EXPECT_EQ(run.code, 2) << args;
    EXPECT_NE(run.err.find("Использование"), std::string::npos) << args;
  }
}

TEST_F(SelvoHostTest, OutputThatCannotBeWrittenIsAFailureForEveryCommand) {
  ASSERT_EQ(Run("init " + Db("shop.db")).code, 0);
  WriteFileBytes(dir_.file("sale.json"), R"({"payment": 1, "lines": []})");
  for (const std::string& args :
       std::vector<std::string>{"--help", "init --force " + Db("shop.db"), "payments " + Db("shop.db"),
                                "calc " + Db("shop.db") + " '" + dir_.file("sale.json") + "'"}) {
    const std::string cmd = "'" SELVO_HOST_PATH "' " + args + " >/dev/full 2>'" + dir_.file("err") + "'";
    const int status = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << args;
    EXPECT_NE(ReadFileBytes(dir_.file("err")).find("стандартный вывод"), std::string::npos) << args;
  }
}

TEST_F(SelvoHostTest, BadSaleInputIsRefusedByNameAndQuotedShortAndEscaped) {
  ASSERT_EQ(Run("init " + Db("shop.db")).code, 0);
  const std::string junk = std::string(1 << 20, 'x') + "\x1b[2J\x07";
  const std::string line = R"({"goods": 101, "category": 1, "zprice": 1, "price": 2, "quantity": 1})";
  const struct {
    const char* rule;
    std::string sale;
    const char* message;
  } cases[] = {
      {"a megabyte moment with control characters",
       R"({"payment": 1, "moment": ")" + junk.substr(0, 1 << 20) + R"(\u001b[2J\u0007", "lines": []})",
       "moment: \"xxxx"},
      {"a megabyte line that is no JSON", "{\"payment\": \"" + junk, "не в формате JSON"},
      {"a NUL inside the payment name", R"({"payment": "наличные\u0000 и ещё", "lines": []})",
       "payment: текст содержит символ NUL"},
      {"a NUL inside the moment", R"({"payment": 1, "moment": "2026-12-08T12:30\u0000x", "lines": []})",
       "moment: текст содержит символ NUL"},
      {"an identifier past 64 bits signed", R"({"payment": 18446744073709551615, "lines": []})",
       "payment: число вне 32-битного диапазона"},
      {"a goods identifier past 32 bits",
       R"({"payment": 1, "lines": [)" + line.substr(0, 10) + "4294967297" + line.substr(13) + "]}",
       "lines[0].goods: число вне 32-битного диапазона"},
      {"a moment with a blank in front", R"({"payment": 1, "moment": " 2026-12-08T12:30", "lines": []})",
       "не в виде ГГГГ-ММ-ДД"},
      {"a moment with a sign", R"({"payment": 1, "moment": "2026-12-08T+1:30", "lines": []})", "не в виде ГГГГ-ММ-ДД"},
      {"a moment with text after it", R"({"payment": 1, "moment": "2026-12-08T12:30Z", "lines": []})",
       "не в виде ГГГГ-ММ-ДД"},
  };
  for (const auto& c : cases) {
    WriteFileBytes(dir_.file("sale.json"), c.sale);
    TRun run = Run("calc " + Db("shop.db") + " '" + dir_.file("sale.json") + "'");
    EXPECT_EQ(run.code, 1) << c.rule;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.rule << ": " << run.err.substr(0, 300);
    EXPECT_LT(run.err.size(), 600u) << c.rule;
    EXPECT_EQ(std::count_if(run.err.begin(), run.err.end(), [](char ch) { return ch >= 0 && ch < 0x20 && ch != '\n'; }),
              0)
        << c.rule << ": raw control characters reach the terminal";
  }
  WriteFileBytes(dir_.file("big.json"), std::string(65 << 20, ' '));
  TRun big = Run("calc " + Db("shop.db") + " '" + dir_.file("big.json") + "'");
  EXPECT_EQ(big.code, 1);
  EXPECT_NE(big.err.find("продажа длиннее 64 МБ"), std::string::npos) << big.err;
}

TEST_F(SelvoHostTest, StoredNamesWithControlCharactersArePrintedEscaped) {
  ASSERT_EQ(Run("init " + Db("shop.db")).code, 0);
  {
    TShopDataModule dm(dir_.file("shop.db"));
    dm.Connection().Execute("UPDATE Payment SET Name = 'диск' || char(27) || '[2J' || char(7) || 'карта' WHERE ID = 5");
  }
  WriteFileBytes(dir_.file("sale.json"), R"({"payment": 5, "lines": [{"goods": 101, "category": 1, "zprice": 28,
                                             "price": 45, "quantity": 2}]})");
  for (const std::string& args :
       {"payments " + Db("shop.db"), "calc --explain " + Db("shop.db") + " '" + dir_.file("sale.json") + "'"}) {
    TRun run = Run(args);
    ASSERT_EQ(run.code, 0) << args << ": " << run.err;
    EXPECT_NE(run.out.find("диск\\x1B[2J\\x07карта"), std::string::npos) << args << ":\n" << run.out;
    EXPECT_EQ(std::count_if(run.out.begin(), run.out.end(), [](char ch) { return ch >= 0 && ch < 0x20 && ch != '\n'; }),
              0)
        << args << ": raw control characters reach the terminal";
  }
}

TEST_F(SelvoHostTest, EditorOnADisplayThatDoesNotAnswerSaysSoInOneLine) {
  ASSERT_EQ(Run("init " + Db("shop.db")).code, 0);
  TRun run = Run("editor " + Db("shop.db"), "env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY DISPLAY=:97531");
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_EQ(run.err.rfind("selvo-host: дисплей для окон редактора не отвечает (DISPLAY=:97531): ", 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

TEST_F(SelvoHostTest, AnIdentifierHeldTwiceIsRefusedByTableAndValue) {
  ASSERT_EQ(Run("init " + Db("shop.db")).code, 0);
  {
    // A table made elsewhere, without the shop's unique key.
    TShopDataModule dm(dir_.file("shop.db"));
    dm.Connection().Execute(
        "ALTER TABLE Payment RENAME TO Kept; CREATE TABLE Payment AS SELECT * FROM Kept; DROP TABLE Kept; "
        "INSERT INTO Payment SELECT * FROM Payment WHERE ID = 5");
  }
  TRun run = Run("payments " + Db("shop.db"));
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("таблицу Payment: идентификатор 5 записан в столбце ID дважды"), std::string::npos) << run.err;
}

TEST_F(SelvoHostTest, LockedDatabaseIsReportedAsLocked) {
  ASSERT_EQ(Run("init " + Db("shop.db")).code, 0);
  TShopDataModule holder(dir_.file("shop.db"));
  holder.Connection().Execute("BEGIN EXCLUSIVE");
  TRun run = Run("payments " + Db("shop.db"));  // waits the database's busy timeout first
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("занята другим процессом"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("не является базой данных"), std::string::npos) << run.err;
  holder.Connection().Execute("ROLLBACK");
}

}  // namespace
}  // namespace selvo::host
