#include "support/QtProgressViewer.h"

#include <gtest/gtest.h>

#include <QFontMetrics>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace selvo {
namespace {

using namespace std::chrono_literals;

template <typename Condition>
bool PollUntil(Condition condition, std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

QRgb Pixel(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }
constexpr QRgb kCyan = 0x00FFFF, kWhite = 0xFFFFFF;

// ---------------------------------------------------------------------------
// Without a display

TEST(ProgressPicture, WrappedTextMakesTheWindowTallerByItsLines) {
  TProgressLines lines;
  AddStartingLines(lines, "Загрузка", {}, TProgressViewerSettings());
  TProgressPicture picture;
  const int oneLine = picture.LayoutText(lines.Items(), 450, kButtonFaceColor);
  const int mainHeight = lines.Find(0)->Height;
  ASSERT_GT(mainHeight, 0);

  // The shortest text of repeated words that wraps into three lines.
  std::string text = "товары";
  lines.ChangeStringParams(0, {ppWordWrap}, {TVariant(std::int64_t{1})});
  for (int i = 0; i < 200; ++i) {
    lines.ChangeStringParams(0, {ppText}, {TVariant(text)});
    picture.LayoutText(lines.Items(), 450, kButtonFaceColor);
    if (lines.Find(0)->Height > 2 * mainHeight) break;
    text += " товары";
  }
  const int block = picture.LayoutText(lines.Items(), 450, kButtonFaceColor);
  EXPECT_EQ(lines.Find(0)->Height, 3 * mainHeight);
  EXPECT_EQ(block, oneLine + 2 * mainHeight);
  EXPECT_EQ(picture.TextBlock().size(), QSize(430, block));

  // The bar and the elapsed time keep their distance to the bottom edge.
  picture.RebuildBackground(450, block + 70);
  TProgressFrameState state;
  state.Height = block + 70;
  state.PercentMode = true;
  state.Position = 100;
  state.ElapsedText = "Общее время: 00:00:01";
  picture.PaintFrame(state);
  EXPECT_EQ(Pixel(picture.Frame(), 200, state.Height - 50), kCyan);
  EXPECT_EQ(Pixel(picture.Frame(), 200, state.Height - 62), kButtonFaceColor);
}

TEST(ProgressPicture, PercentBarAndMarqueeBlock) {
  TProgressPicture picture;
  TProgressFrameState state;  // 450 x 70: bar 410 x 20 at (20, 10)
  state.PercentMode = true;
  state.Position = 40;
  state.ShowPercentText = false;
  picture.PaintFrame(state);
  const QImage& f = picture.Frame();
  EXPECT_EQ(Pixel(f, 20 + 2, 10 + 10), kCyan);
  EXPECT_EQ(Pixel(f, 20 + 163, 10 + 10), kCyan);  // 2 + trunc(406 * 0.4) = 164, exclusive
  EXPECT_EQ(Pixel(f, 20 + 164, 10 + 10), kWhite);
  EXPECT_EQ(Pixel(f, 20, 10 + 10), 0u);  // the outline

  state.PercentMode = false;
  state.Position = -30;  // only the block's right 10 pixels are on the bar
  picture.PaintFrame(state);
  EXPECT_EQ(Pixel(picture.Frame(), 20 + 9, 20), kCyan);
  EXPECT_EQ(Pixel(picture.Frame(), 20 + 10, 20), kWhite);
}

class ProgressViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressViewerModuleStart();
    SetProgressViewerTitle("Настройка скидок для товаров");
  }
  void TearDown() override { ProgressViewerModuleEnd(); }
};

TEST_F(ProgressViewerTest, NotUsableOutsideTheModule) {
  ProgressViewerModuleEnd();
  try {
    TProgressViewer::Create("x");
    ADD_FAILURE() << "created without a registered class";
  } catch (const EProgressException& e) {
    EXPECT_EQ(e.Message(), "Класс окна визуализации \"ProgressViewerFormClass\" не зарегистрирован!");
  }
  ProgressViewerModuleStart();
}

struct TWorkerCall {
  std::atomic<TProgressViewer*> viewer{nullptr};
  std::atomic<bool> sawTermination{false};
};

// Works until its viewer is told to end: the viewer must outlive it.
void RecordingWorker(void* argument, TProgressViewer* viewer) {
  auto* call = static_cast<TWorkerCall*>(argument);
  call->viewer = viewer;
  while (!viewer->Terminated()) std::this_thread::sleep_for(1ms);
  call->sawTermination = true;
}

TEST_F(ProgressViewerTest, WithoutDisplayLaysOutRunsTheWorkerAndEnds) {
  const char* saved = std::getenv("DISPLAY");
  const std::string display = saved ? saved : "";
  unsetenv("DISPLAY");
  TWorkerCall call;
  TProgressViewer* v = TProgressViewer::Create("Загрузка данных", RecordingWorker, &call);
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  ASSERT_TRUE(PollUntil([&] { return v->BlockHeight() > 0 && call.viewer == v; }));
  EXPECT_EQ(v->WindowHandle(), 0u);
  EXPECT_EQ(v->Geometry().height, v->BlockHeight() + 70);
  v->Terminate();
  EXPECT_TRUE(WaitProgressThreadsBelow(1, 10000));
  EXPECT_TRUE(call.sawTermination);
}

// Thread starts fail as on a system out of threads or out of memory.
class ThreadStartFailure {
 public:
  ThreadStartFailure(TProgressThreadKind failing, std::function<void()> raise) {
    SetProgressThreadStarter([failing, raise](TProgressThreadKind kind, std::function<void()> body) {
      if (kind == failing) raise();
      return std::thread(std::move(body));
    });
  }
  ~ThreadStartFailure() { SetProgressThreadStarter(nullptr); }
};

void NoThreads() { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); }
void NoMemory() { throw std::bad_alloc(); }

TEST_F(ProgressViewerTest, ViewerWhoseThreadEndsEarlyStaysWithItsOwnerUntilTerminate) {
  struct Row {
    const char* rule;
    void (*raise)();  // the worker's thread cannot be started; none: the module ends first
  } rows[] = {
      {"no thread for the worker", NoThreads},
      {"no memory for the worker's thread", NoMemory},
      {"the module ends before the owner lets go", nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.rule);
    TWorkerCall call;
    TProgressViewer* v = nullptr;
    {
      ThreadStartFailure failure(
          TProgressThreadKind::Worker, r.raise ? r.raise : [] {});
      v = TProgressViewer::Create("Загрузка данных", RecordingWorker, &call);
      if (!r.raise) ProgressViewerModuleEnd();
      // The viewer's thread has ended and been joined.
      ASSERT_TRUE(WaitProgressThreadsBelow(1, 10000));
    }
    // The owner still holds the viewer (AddressSanitizer reports a viewer
    // freed under it) and frees it with Terminate (LeakSanitizer reports one
    // that is never freed).
    v->SetMainText("Загрузка товаров");
    EXPECT_EQ(v->Lines()[1].Text, "Загрузка товаров");
    EXPECT_EQ(v->WindowHandle(), 0u);
    v->Terminate();
    EXPECT_EQ(call.viewer, r.raise ? nullptr : v);
    if (!r.raise) ProgressViewerModuleStart();
  }

  for (void (*raise)() : {NoThreads, NoMemory}) {
    ThreadStartFailure failure(TProgressThreadKind::Viewer, raise);
    EXPECT_ANY_THROW(TProgressViewer::Create("Загрузка данных", RecordingWorker, nullptr));
    EXPECT_EQ(LiveProgressThreads(), 0u);
  }
}

struct TGate {
  std::promise<void> open;
  std::shared_future<void> opened = open.get_future().share();
};

// Does not look at its viewer: it returns only when the test lets it.
void StuckWorker(void* argument, TProgressViewer*) { static_cast<TGate*>(argument)->opened.wait(); }

TEST_F(ProgressViewerTest, ModuleEndGivesUpOnAStuckViewerAndSaysSo) {
  SetProgressModuleEndWaitForTesting(50);
  TGate gate;
  TProgressViewer* v = TProgressViewer::Create("Загрузка данных", StuckWorker, &gate);
  v->Terminate();  // the owner is done; the viewer cannot end before its worker

  ::testing::internal::CaptureStderr();
  ProgressViewerModuleEnd();
  const std::string said = ::testing::internal::GetCapturedStderr();
  SetProgressModuleEndWaitForTesting(0);
  EXPECT_FALSE(ProgressViewerClassUsable());
  EXPECT_NE(said.find("TProgressViewer: "), std::string::npos) << said;
  EXPECT_NE(said.find(": 1;"), std::string::npos) << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
  EXPECT_EQ(LiveProgressThreads(), 1u);

  // Once unstuck, the thread ends and frees its viewer with what it used.
  gate.open.set_value();
  EXPECT_TRUE(WaitProgressThreadsBelow(1, 10000));
  ProgressViewerModuleStart();
}

// ---------------------------------------------------------------------------
// On an X server of the test's own

class XServer {
 public:
  // Starts Xvfb on a display number that it picks itself; empty when the
  // binary is missing or does not come up.
  static std::string Start(pid_t& pid, std::string& why) {
    std::string binary;
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"})
      if (access((std::string(dir) + "Xvfb").c_str(), X_OK) == 0) binary = std::string(dir) + "Xvfb";
    if (binary.empty()) {
      why = "Xvfb is not installed (Debian package xvfb): the on-screen checks are skipped";
      return {};
    }
    int fds[2];
    if (pipe(fds) != 0) return {};
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args = {binary,        "-displayfd", fd,    "-screen", "0",
                                     "1024x768x24", "-nolisten",  "tcp", "-noreset"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string number;
    if (spawned == 0) {
      pollfd p{fds[0], POLLIN, 0};
      char buffer[16];
      while (poll(&p, 1, 30000) > 0) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        number.append(buffer, static_cast<std::size_t>(n));
        if (number.find('\n') != std::string::npos) break;
      }
    }
    close(fds[0]);
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
    if (number.empty()) why = "Xvfb did not start";
    return number.empty() ? std::string() : ":" + number;
  }
};

class OnScreenTest : public ProgressViewerTest {
 protected:
  static void SetUpTestSuite() {
    display_ = XServer::Start(pid_, why_);
    if (!display_.empty()) setenv("DISPLAY", display_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    unsetenv("DISPLAY");
  }
  void SetUp() override {
    if (display_.empty()) GTEST_SKIP() << why_;
    ProgressViewerTest::SetUp();
    x_ = xcb_connect(display_.c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(x_), 0);
    root_ = xcb_setup_roots_iterator(xcb_get_setup(x_)).data->root;
  }
  void TearDown() override {
    if (display_.empty()) return;
    xcb_disconnect(x_);
    ProgressViewerTest::TearDown();
  }

  std::uint32_t Atom(const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(x_, xcb_intern_atom(x_, 0, static_cast<std::uint16_t>(strlen(name)), name), nullptr);
    const std::uint32_t atom = r ? r->atom : 0;
    free(r);
    return atom;
  }
  bool Viewable(std::uint32_t w) {
    xcb_get_window_attributes_reply_t* r =
        xcb_get_window_attributes_reply(x_, xcb_get_window_attributes(x_, w), nullptr);
    const bool viewable = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    free(r);
    return viewable;
  }
  TProgressGeometry GeometryOf(std::uint32_t w) {
    TProgressGeometry g{-1, -1, -1, -1};
    if (xcb_get_geometry_reply_t* r = xcb_get_geometry_reply(x_, xcb_get_geometry(x_, w), nullptr)) {
      g = TProgressGeometry{r->x, r->y, r->width, r->height};
      free(r);
    }
    return g;
  }
  std::vector<std::uint8_t> Capture(std::uint32_t w, const TProgressGeometry& g) {
    std::vector<std::uint8_t> pixels;
    xcb_get_image_reply_t* r =
        xcb_get_image_reply(x_,
                            xcb_get_image(x_, XCB_IMAGE_FORMAT_Z_PIXMAP, w, 0, 0, static_cast<std::uint16_t>(g.width),
                                          static_cast<std::uint16_t>(g.height), ~0u),
                            nullptr);
    if (r) {
      pixels.assign(xcb_get_image_data(r), xcb_get_image_data(r) + xcb_get_image_data_length(r));
      free(r);
    }
    return pixels;
  }
  // Sends an event as another client would (32 bytes, as the protocol has it).
  template <typename Event>
  void Send(std::uint32_t w, std::uint32_t mask, const Event& event) {
    static_assert(sizeof(Event) == 32);
    xcb_send_event(x_, 0, w, mask, reinterpret_cast<const char*>(&event));
    xcb_flush(x_);
  }
  void PressKey(std::uint32_t w, std::uint32_t keysym) {
    xcb_key_press_event_t e{};
    e.response_type = XCB_KEY_PRESS;
    e.detail = XcbKeycodeOf(x_, keysym);
    e.root = root_;
    e.event = w;
    e.same_screen = 1;
    Send(w, XCB_EVENT_MASK_KEY_PRESS, e);
  }
  void RequestClose(std::uint32_t w) {
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = w;
    e.type = Atom("WM_PROTOCOLS");
    e.data.data32[0] = Atom("WM_DELETE_WINDOW");
    Send(w, XCB_EVENT_MASK_NO_EVENT, e);
  }
  void Click(std::uint32_t w, int x, int y) {
    xcb_button_press_event_t e{};
    e.response_type = XCB_BUTTON_PRESS;
    e.detail = 1;
    e.root = root_;
    e.event = w;
    e.event_x = static_cast<std::int16_t>(x);
    e.event_y = static_cast<std::int16_t>(y);
    e.same_screen = 1;
    Send(w, XCB_EVENT_MASK_BUTTON_PRESS, e);
  }
  std::uint32_t WaitForWindow() {
    std::uint32_t found = 0;
    PollUntil([&] {
      const auto windows = XcbFindWindowsByName(x_, kProgressWindowTitle);
      found = windows.size() == 1 && Viewable(windows[0]) ? windows[0] : 0;
      return found != 0;
    });
    return found;
  }

  // The window at the size of its laid-out text.
  bool WaitForLayout(TProgressViewer* v, std::uint32_t w) {
    return PollUntil([&] { return v->BlockHeight() > 0 && GeometryOf(w) == v->Geometry(); });
  }

  static inline std::string display_, why_;
  static inline pid_t pid_ = 0;
  xcb_connection_t* x_ = nullptr;
  std::uint32_t root_ = 0;
};

TEST_F(OnScreenTest, AnimatesWhileTheOwnerIsBusyAndOnlyEscCancels) {
  // The shortest text of repeated words that takes three lines of the main
  // line's font in the 430-pixel text block.
  QImage probe(1, 1, QImage::Format_RGB32);
  probe.setDotsPerMeterX(3780);
  probe.setDotsPerMeterY(3780);
  const QFontMetrics metrics(ProgressLineFont("MS Sans Serif", 14, fsBold), &probe);
  const auto heightOf = [&](const std::string& t) {
    return metrics.boundingRect(QRect(0, 0, 430, 0), Qt::TextWordWrap, QString::fromStdString(t)).height();
  };
  const int one = heightOf("товары");
  std::string text = "товары";
  while (heightOf(text) < 3 * one) text += " товары";

  TProgressViewer* v = TProgressViewer::Create("Загрузка данных");
  v->ChangeStringParams(0, {ppText, ppWordWrap}, {TVariant(text), TVariant(std::int64_t{1})});

  std::this_thread::sleep_for(1s);  // the owner is busy and pumps nothing

  const std::uint32_t w = WaitForWindow();
  ASSERT_NE(w, 0u) << "no viewable window titled ProgressWnd";
  EXPECT_EQ(v->WindowHandle(), w);
  int block = 0;
  for (const TProgressLine& line : v->Lines()) block += line.Height;
  const TProgressGeometry expected = PlaceProgressWindow(TWorkArea{0, 0, 1024, 768}, 450, block + 70);
  ASSERT_TRUE(PollUntil([&] { return GeometryOf(w) == expected; }))
      << "at " << GeometryOf(w).left << "," << GeometryOf(w).top << " " << GeometryOf(w).width << "x"
      << GeometryOf(w).height;
  EXPECT_EQ(v->Geometry(), expected);
  const TProgressLine main = v->Lines()[1];
  ASSERT_EQ(main.Number, 0);
  EXPECT_EQ(main.Height, 3 * one) << "the main text wraps into three lines";

  const std::vector<std::uint8_t> first = Capture(w, expected);
  ASSERT_FALSE(first.empty());
  EXPECT_TRUE(PollUntil([&] { return Capture(w, expected) != first; })) << "the bar does not move";

  RequestClose(w);
  PressKey(w, kKeysymEscape);  // handled after the close request
  ASSERT_TRUE(PollUntil([&] { return v->Cancelled(); }));
  EXPECT_TRUE(Viewable(w)) << "a close request closed the window";
  EXPECT_EQ(XcbFindWindowsByName(x_, kProgressWindowTitle).size(), 1u);

  v->Terminate();
  EXPECT_TRUE(PollUntil([&] { return XcbFindWindowsByName(x_, kProgressWindowTitle).empty(); }));
  EXPECT_TRUE(WaitProgressThreadsBelow(1, 10000));
}

TEST_F(OnScreenTest, CancelButtonCallsAFailingEventAndKeepsRunning) {
  TProgressViewer* v = TProgressViewer::Create("", nullptr, nullptr, /*showCancel=*/true, /*percentMode=*/true);
  std::atomic<int> calls{0};
  v->SetOnCancel([&](TProgressViewer* sender) {
    EXPECT_EQ(sender, v);
    ++calls;
    throw EProgressException("handler failed");
  });
  const std::uint32_t w = WaitForWindow();
  ASSERT_NE(w, 0u);
  ASSERT_TRUE(WaitForLayout(v, w));
  PressKey(w, 'a');  // other keys do nothing
  const TProgressGeometry g = v->Geometry();
  const QRect button = ProgressCancelButtonRect(g.width, g.height);
  Click(w, button.center().x(), button.center().y());
  ASSERT_TRUE(PollUntil([&] { return v->Cancelled(); }));
  EXPECT_EQ(calls, 1);
  const std::uint64_t frames = v->FramesPainted();
  EXPECT_TRUE(PollUntil([&] { return v->FramesPainted() > frames; })) << "the failing event stopped the viewer";
  v->Terminate();
  EXPECT_TRUE(WaitProgressThreadsBelow(1, 10000));
}

TEST_F(OnScreenTest, ThousandViewersTornDownWhilePaintingLeaveNothingBehind) {
  ASSERT_TRUE(WaitProgressThreadsBelow(1, 10000));
  const int threads = ThreadCount();
  for (int i = 0; i < 1000; ++i) {
    TProgressViewer* v = TProgressViewer::Create("Загрузка данных", nullptr, nullptr, i % 2 == 0, i % 3 == 0);
    v->AddLine(1, "строка " + std::to_string(i), paCenter, true);
    if (i % 25 == 0) {
      ASSERT_TRUE(PollUntil([&] { return v->FramesPainted() > 0; }));
    }
    v->SetMainText("Загрузка");
    v->SetPosition(i % 100);
    v->Terminate();
    // Never more than a handful at once: each holds an X connection.
    ASSERT_TRUE(WaitProgressThreadsBelow(8, 10000));
  }
  ASSERT_TRUE(WaitProgressThreadsBelow(1, 20000));
  EXPECT_TRUE(PollUntil([&] { return ThreadCount() == threads; })) << ThreadCount() << " threads, was " << threads;
  EXPECT_TRUE(PollUntil([&] { return XcbFindWindowsByName(x_, kProgressWindowTitle).empty(); }));
}

}  // namespace
}  // namespace selvo
