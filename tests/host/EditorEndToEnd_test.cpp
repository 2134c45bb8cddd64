// selvo-host editor under a real X server (Xvfb), driven with real input
// events (xdotool, XTest) as a separate process on a copy of the sample
// shop; the result is checked with selvo-host payments and calc. Windows are
// waited for by their names.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/PgTestServer.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(30);
constexpr const char* kEditorTitle = "Виды оплаты и автоматические скидки";
constexpr const char* kPaymentDialogTitle = "Сведения о виде оплаты";
constexpr const char* kCloseQuestionTitle = "Подтверждение";
constexpr const char* kCardDialogTitle = "Настройка карты автоматических скидок";

bool OnPath(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command, answers its standard output; the exit status goes to *status.
std::string Sh(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

pid_t Spawn(const std::vector<std::string>& args, int fd3 = -1) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (fd3 >= 0) {
      dup2(fd3, 3);
      freopen("/dev/null", "w", stderr);  // Xvfb tells of every display number it tries
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// The exit status of pid, or -1 when it did not end in time (it is then killed).
int WaitExit(pid_t pid) {
  const auto deadline = Clock::now() + kPatience;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class EditorEndToEndTest : public ::testing::TestWithParam<selvo::test::TShopDbKind> {
 protected:
  void SetUp() override {
    for (const char* program : {"Xvfb", "xdotool", "timeout"})
      if (!OnPath(program)) GTEST_SKIP() << program << " is not installed (scripts/setup.sh installs it)";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    xvfb_ = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, fds[1]);
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    setenv("DISPLAY", (":" + number).c_str(), 1);
    setenv("WINDIR", dir_.path().c_str(), 1);
    setenv("HOME", dir_.path().c_str(), 1);  // the window placement goes there
    unsetenv("QT_QPA_PLATFORM");
    ASSERT_EQ(Host("init --db " + Db()), 0);
  }
  void TearDown() override {
    if (editor_ > 0) {
      kill(editor_, SIGKILL);
      waitpid(editor_, nullptr, 0);
    }
    if (xvfb_ > 0) {
      kill(xvfb_, SIGTERM);
      waitpid(xvfb_, nullptr, 0);
    }
  }

  int Host(const std::string& args, std::string* out = nullptr) {
    int status = 0;
    const std::string text = Sh(std::string(SELVO_HOST_PATH) + " " + args + " 2>&1", &status);
    if (out) *out = text;
    return status;
  }
  // Waits for a window of that name to be mapped and answers its id.
  std::string WaitWindow(const char* name) {
    std::string id = Sh("timeout 30 xdotool search --sync --onlyvisible --name '" + std::string(name) + "' | head -1");
    while (!id.empty() && id.back() == '\n') id.pop_back();
    EXPECT_FALSE(id.empty()) << "no window \"" << name << "\"";
    return id;
  }
  void WaitGone(const char* name) {
    const auto deadline = Clock::now() + kPatience;
    while (!Sh("xdotool search --onlyvisible --name '" + std::string(name) + "'").empty()) {
      ASSERT_LT(Clock::now(), deadline)
          << "window \"" << name << "\" stays open; the windows shown:\n"
          << Sh("for w in $(xdotool search --onlyvisible --name .); do xdotool getwindowname $w; done");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // Focuses the window and sends it the xdotool commands, one run each
  // ("type" takes every word after it as text).
  void Operate(const std::string& window, const std::vector<std::string>& commands) {
    ASSERT_FALSE(window.empty());
    int status = 0;
    Sh("xdotool windowfocus --sync " + window, &status);
    EXPECT_EQ(status, 0) << "focus " << window;
    for (const std::string& command : commands) {
      Sh("xdotool " + command, &status);
      EXPECT_EQ(status, 0) << command;
    }
  }
  // Waits until the window has the keyboard focus of the X server, without
  // asking for it (no focusing, no click).
  void WaitFocus(const std::string& window) {
    ASSERT_FALSE(window.empty());
    const auto deadline = Clock::now() + kPatience;
    std::string focused;
    while ((focused = Sh("xdotool getwindowfocus 2>/dev/null")) != window + "\n") {
      ASSERT_LT(Clock::now(), deadline) << "the keyboard does not come back to window " << window << "; it is at "
                                        << focused;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // Sends the xdotool commands to the window that has the keyboard, without
  // focusing or clicking any window first.
  void Keys(const std::vector<std::string>& commands) {
    int status = 0;
    for (const std::string& command : commands) {
      Sh("xdotool " + command, &status);
      EXPECT_EQ(status, 0) << command;
    }
  }
  // The database for a shell command line (a server address has spaces).
  std::string Db() const { return "'" + db_ + "'"; }
  // What the database holds: the file's bytes, or every table's rows.
  std::string Contents() const {
    if (database_.Kind() == selvo::test::TShopDbKind::File) return selvo::test::ReadFileBytes(db_);
    std::string rows;
    for (const char* table : {"Payment", "SelvoDiscountDS", "DiscountGoodsDS", "ExclusionsDS"})
      for (const auto& row : selvo::test::PgExec(db_, std::string("SELECT * FROM ") + table + " ORDER BY rowid"))
        for (const std::string& value : row) rows += value + "|";
    return rows;
  }
  std::string OpenEditor() {
    editor_ = Spawn({SELVO_HOST_PATH, "editor", "--db", db_});
    return WaitWindow(kEditorTitle);
  }
  void ExpectEditorClosed() {
    EXPECT_EQ(WaitExit(editor_), 0);
    editor_ = -1;
  }

  selvo::test::TempDir dir_;
  selvo::test::TTestShopDatabase database_{GetParam()};
  std::string db_ = database_.Address();
  pid_t xvfb_ = -1;
  pid_t editor_ = -1;
};

// Adds "Talon" with 10 % through its dialog, switches "наличные" off with
// the space bar and saves with OK.
TEST_P(EditorEndToEndTest, APaymentTypeAddedAndOneSwitchedOffAreSaved) {
  const std::string editor = OpenEditor();
  Operate(editor, {"key ctrl+i"});
  Operate(WaitWindow(kPaymentDialogTitle),
          {"key ctrl+a", "type Talon", "key Tab Tab Tab Tab ctrl+a", "type 10", "key Return"});
  WaitGone(kPaymentDialogTitle);
  Operate(editor, {"key Home space Return"});
  ExpectEditorClosed();

  std::string out;
  ASSERT_EQ(Host("payments --db " + Db(), &out), 0) << out;
  EXPECT_NE(out.find("10  Talon               наличные     <нет>              10.00  да"), std::string::npos) << out;
  EXPECT_NE(out.find(" 1  наличные            наличные     наличный            0.00  нет"), std::string::npos) << out;

  selvo::test::WriteFileBytes(dir_.file("sale.json"),
                              R"({"payment": "Talon", "moment": "2026-12-08T12:30:00", "lines": [)"
                              R"({"goods": 502, "category": 5, "zprice": 2100, "price": 2890, "quantity": 1}]})");
  ASSERT_EQ(Host("calc --json --db " + Db() + " " + dir_.file("sale.json"), &out), 0) << out;
  EXPECT_NE(out.find(R"("sum":2601.0)"), std::string::npos) << out;
}

// Changes made and then cancelled leave the database file as it was.
TEST_P(EditorEndToEndTest, CancelLeavesTheDatabaseAsItWas) {
  const std::string before = Contents();
  const std::string editor = OpenEditor();
  Operate(editor, {"key End space Up space Escape"});
  Operate(WaitWindow(kCloseQuestionTitle), {"key Return"});
  ExpectEditorClosed();
  EXPECT_EQ(Contents(), before);
}

// A card with two thresholds on the receipt sum of "наличные" (from 1000 р.
// 5 %, from 2000 р. 10 %) added through the card dialog with the keyboard,
// as an operator would: the name field is the second control, the
// threshold grid is seven Shift+Tab back from it (payment type, the
// dialog's Cancel, OK, "enabled", the period grid, its holiday button). In
// the grid typing opens a cell's editor, Tab writes it back and opens the
// next one, Enter writes the last one back, Down on the last row adds a row
// and Home goes to its first cell; Ctrl+Enter confirms the dialog. The sales
// are priced with the cards before and after, so the new card must be what
// changes them.
TEST_P(EditorEndToEndTest, ADiscountCardWithTwoThresholdsIsSaved) {
  struct TSale {
    const char* price;
    const char* zprice;
    const char* sumBefore;  // the sample shop's card gives 3 % from 1000 р.
    const char* sumAfter;
    bool byNewCard;
  };
  const TSale sales[] = {
      {"2890", "2100", R"("sum":2803.3)", R"("sum":2601.0)", true},  // second threshold, 10 %
      {"1500", "1000", R"("sum":1455.0)", R"("sum":1425.0)", true},  // first threshold, 5 %
      {"900", "600", R"("sum":900.0)", R"("sum":900.0)", false},     // below both
  };
  auto calc = [this](const TSale& sale) {
    selvo::test::WriteFileBytes(dir_.file("sale.json"),
                                std::string(R"({"payment": "наличные", "moment": "2026-12-08T12:30:00", "lines": [)") +
                                    R"({"goods": 502, "category": 5, "zprice": )" + sale.zprice + R"(, "price": )" +
                                    sale.price + R"(, "quantity": 1}]})");
    std::string out;
    EXPECT_EQ(Host("calc --json --explain --db " + Db() + " " + dir_.file("sale.json"), &out), 0) << out;
    return out;
  };
  for (const TSale& sale : sales) {
    const std::string out = calc(sale);
    EXPECT_NE(out.find(sale.sumBefore), std::string::npos) << sale.price << ": " << out;
  }

  const std::string editor = OpenEditor();
  // The discount tab, then its add button (the next control after the list).
  Operate(editor, {"key ctrl+Tab Tab space"});
  // A Latin name: xdotool types letters outside the server's keymap by
  // remapping a spare key for each, and may lose some of them.
  Operate(WaitWindow(kCardDialogTitle),
          {"key Tab", "type Thresholds", "key shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab",
           "type 1000", "key Tab", "type 5", "key Tab Return Down Home", "type 2000", "key Tab", "type 10",
           "key Tab Return ctrl+Return"});
  WaitGone(kCardDialogTitle);
  // The focus is back on the add button; the list before it passes Enter on
  // to the window's OK.
  Operate(editor, {"key shift+Tab Return"});
  ExpectEditorClosed();

  for (const TSale& sale : sales) {
    const std::string out = calc(sale);
    EXPECT_NE(out.find(sale.sumAfter), std::string::npos) << sale.price << ": " << out;
    EXPECT_EQ(out.find("карта \\\"Thresholds\\\"") != std::string::npos, sale.byNewCard) << sale.price << ": " << out;
  }
}

// This X server has no window manager, as a till in kiosk mode often has
// none: nobody but the program itself gives the keyboard back to the editor
// when one of its question boxes or dialogs closes. After each one closes,
// the editor must get the keyboard focus back by itself, and Ctrl+I typed
// with no focusing or clicking first must reach it (it opens the payment
// type dialog).
TEST_P(EditorEndToEndTest, TheKeyboardComesBackToTheEditorAfterAQuestionOrADialog) {
  const std::string before = Contents();
  const std::string editor = OpenEditor();
  // A change, then Escape: the close question, answered "stay" (Escape).
  Operate(editor, {"key End space Escape"});
  Operate(WaitWindow(kCloseQuestionTitle), {"key Escape"});
  WaitGone(kCloseQuestionTitle);
  ASSERT_NO_FATAL_FAILURE(WaitFocus(editor));
  Keys({"key ctrl+i"});
  // The payment type dialog (a child of the editor), closed with Escape.
  Operate(WaitWindow(kPaymentDialogTitle), {"key Escape"});
  WaitGone(kPaymentDialogTitle);
  ASSERT_NO_FATAL_FAILURE(WaitFocus(editor));
  Keys({"key ctrl+i"});
  Operate(WaitWindow(kPaymentDialogTitle), {"key Escape"});
  WaitGone(kPaymentDialogTitle);

  // The card dialog (a window of its own, without a parent), closed with
  // Escape.
  ASSERT_NO_FATAL_FAILURE(WaitFocus(editor));
  Keys({"key ctrl+Tab Tab space"});
  Operate(WaitWindow(kCardDialogTitle), {"key Escape"});
  WaitGone(kCardDialogTitle);
  ASSERT_NO_FATAL_FAILURE(WaitFocus(editor));
  Keys({"key ctrl+i"});
  Operate(WaitWindow(kPaymentDialogTitle), {"key Escape"});
  WaitGone(kPaymentDialogTitle);

  ASSERT_NO_FATAL_FAILURE(WaitFocus(editor));
  Keys({"key Escape"});
  Operate(WaitWindow(kCloseQuestionTitle), {"key Return"});
  ExpectEditorClosed();
  EXPECT_EQ(Contents(), before);
}

SELVO_ON_BOTH_DATABASES(EditorEndToEndTest);

}  // namespace
