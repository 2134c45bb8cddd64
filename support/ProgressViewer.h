// The waiting window's display-free part: module-wide settings and the
// registration of its window class, the error class, the registry of windows
// to viewers, the thread base class that frees itself once its owner let it
// go, the text line table
// and the arithmetic of placement and of the bar. The viewer itself, which
// paints and talks to the X server, is support/QtProgressViewer.h.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FormatSettings.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo {

class TProgressViewer;

// Raised when a viewer cannot be made or a line operation fails.
class EProgressException : public Exception {
  using Exception::Exception;
};

// Colours are 0x00BBGGRR (blue in the high byte), as the host stores them.
using TProgressColor = std::uint32_t;
inline constexpr TProgressColor kButtonFaceColor = 0xF0F0F0;

// Sentinels of AddLine: "take the viewer's default, else the module's".
inline constexpr TProgressColor kDefaultLineColor = 0x20000000;
inline constexpr int kDefaultFontSize = -1;
inline constexpr std::uint8_t kDefaultFontStyle = 15;

// Font style bits.
inline constexpr std::uint8_t fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;

enum TProgressAlignment : std::uint8_t { paLeft = 0, paRight = 1, paCenter = 2 };

// Module-wide defaults of every viewer. A viewer copies them when it is
// created, so changing them affects only viewers made afterwards.
struct TProgressViewerSettings {
  bool ShowPercentText = true;
  int TickInterval = 50;  // ms
  bool ShowElapsedTime = true;
  TProgressColor BarColor = 0xFFFF00;  // cyan
  TProgressColor DefLineColor = 0;
  int DefFontSize = 8;
  std::uint8_t DefFontStyle = 0;
  std::string DefFontName = "MS Sans Serif";
  std::string Title = "Ваше приложение";
  std::string CancelCaption = "Отмена (Esc)";
  std::string WaitLine1 = "Выполняется длительная операция. Она может";
  std::string WaitLine2 = "продлиться несколько минут. Пожалуйста, подождите!";
  std::string ElapsedFormat = "Общее время: %s";
};

// The settings of the loaded module (owner's thread only).
TProgressViewerSettings& ProgressViewerSettings();
void SetProgressViewerTitle(const std::string& title);
const std::string& ProgressViewerTitle();

inline constexpr const char* kProgressWindowClass = "ProgressViewerFormClass";
inline constexpr const char* kProgressWindowTitle = "ProgressWnd";

// Module start: resets the settings, registers the window class and creates
// the registry. Module end asks the viewers still running to end and waits
// for their threads, at most kProgressModuleEndWaitMs; then it frees the
// registry and the settings' texts, and the thread book when every thread has
// ended. Threads still running past the wait (a display that does not answer,
// a worker that does not return) are left running with what they use, and a
// line on standard error says so. Module end frees no viewer: each is freed
// once its owner has called Terminate.
inline constexpr int kProgressModuleEndWaitMs = 3000;
void ProgressViewerModuleStart();
void ProgressViewerModuleEnd();
// Shortens the wait of module end (tests); 0 restores kProgressModuleEndWaitMs.
void SetProgressModuleEndWaitForTesting(int milliseconds);
// True between start and end: viewers can be created.
bool ProgressViewerClassUsable();

// Registry of windows to viewers, safe from any thread. Add does nothing when
// the handle is there already.
void RegisterProgressWindow(std::uint32_t handle, TProgressViewer* viewer);
void UnregisterProgressWindow(std::uint32_t handle);
TProgressViewer* FindProgressViewer(std::uint32_t handle);

// The desktop work area, right and bottom exclusive.
struct TWorkArea {
  int left = 0, top = 0, right = 1024, bottom = 768;
};
// The work area that a viewer read last from its display; the default above
// until then. Any thread.
TWorkArea LastWorkArea();
void RememberWorkArea(const TWorkArea& area);

// The threads of a viewer: its own, and the one of its worker callback.
enum class TProgressThreadKind { Viewer, Worker };
// Starts a thread running `body`. The module starts std::thread; tests
// replace it, for one that fails as a system out of threads or memory does
// (std::system_error, std::bad_alloc).
using TProgressThreadStarter = std::function<std::thread(TProgressThreadKind kind, std::function<void()> body)>;
std::thread StartProgressThread(TProgressThreadKind kind, std::function<void()> body);
// Replaces the starter; an empty function restores std::thread.
void SetProgressThreadStarter(TProgressThreadStarter starter);

// A thread object that runs Execute in its own thread. Start it at the end of
// the most derived constructor; a thread that cannot be started fails the
// constructor. The object is freed when both have happened: Execute has
// returned (or failed) and its owner has called Terminate. After Terminate
// the owner must not touch the object again; before it, the object stays
// usable whatever became of Execute.
class TProgressThread {
 public:
  TProgressThread(const TProgressThread&) = delete;
  TProgressThread& operator=(const TProgressThread&) = delete;

  // The owner lets the object go: asks Execute to end (wakes a tick sleep at
  // once) and frees the object, now when Execute has ended already, else as
  // soon as it ends. Once, from the owner.
  void Terminate();
  // Execute was asked to end (by Terminate or by module end). Any thread.
  bool Terminated() const;

 protected:
  TProgressThread() = default;
  virtual ~TProgressThread();
  void Start();
  virtual void Execute() = 0;
  // Sleeps up to ms; returns early (false) when terminated.
  bool SleepUnlessTerminated(int ms);

 private:
  friend void ProgressViewerModuleEnd();
  static void Run(TProgressThread* self);
  // Asks Execute to end without letting the object go (module end).
  void RequestEnd();

  mutable std::mutex waitLock_;
  std::condition_variable wake_;
  bool terminated_ = false;  // Execute asked to end
  bool released_ = false;    // the owner called Terminate
  bool ended_ = false;       // Execute is over; the thread touches the object no more
  std::thread thread_;       // guarded by the module's thread book
};

// Threads of viewers that have not ended yet (any thread).
std::size_t LiveProgressThreads();
// Waits up to timeoutMs until fewer than `limit` viewer threads are alive and
// joins the ended ones; true when the limit was reached.
bool WaitProgressThreadsBelow(std::size_t limit, int timeoutMs);

// One text line of a viewer.
struct TProgressLine {
  std::int32_t Number = 0;
  std::string Text;
  std::uint8_t Alignment = paLeft;
  bool WordWrap = false;
  std::string FontName;
  std::int32_t FontSize = 8;
  std::uint8_t FontStyle = 0;
  TProgressColor Color = 0;
  std::int32_t Height = 0;  // set by the layout
};

// A viewer's own defaults; each starts as its sentinel (empty font name).
struct TProgressLineDefaults {
  TProgressColor Color = kDefaultLineColor;
  int FontSize = kDefaultFontSize;
  std::uint8_t FontStyle = kDefaultFontStyle;
  std::string FontName;
};

// Parameter codes of ChangeStringParams.
enum TProgressParam : int {
  ppText = 0,
  ppAlignment = 1,
  ppWordWrap = 2,
  ppFontName = 3,
  ppFontSize = 4,
  ppFontStyle = 5,
  ppColor = 6
};

// The text lines, sorted by number. Not locked: the viewer guards it.
class TProgressLines {
 public:
  // Finds the line by number or appends one; sentinels take the viewer's
  // default, then the module's (`module`).
  void AddLine(std::int32_t number, const std::string& text, std::uint8_t alignment, bool wordWrap,
               TProgressColor color, std::uint8_t fontStyle, int fontSize, const std::string& fontName,
               const TProgressLineDefaults& own, const TProgressViewerSettings& module);
  // Applies codes[i] = values[i] to the line; codes above 6 are ignored.
  // Raises EProgressException for a missing line or lists of different
  // lengths, EConvertError for a value of the wrong kind; every message
  // begins with "TProgressViewer.ChangeStringParams -> ".
  void ChangeStringParams(std::int32_t number, const std::vector<int>& codes, const std::vector<TVariant>& values);
  TProgressLine* Find(std::int32_t number);
  std::vector<TProgressLine>& Items() { return lines_; }
  const std::vector<TProgressLine>& Items() const { return lines_; }

 private:
  std::vector<TProgressLine> lines_;
};

// The lines a new viewer starts with: -1 the module title, 0 the text (a
// blank when empty), 1000 a blank, 1001 and 1002 the waiting message.
void AddStartingLines(TProgressLines& lines, const std::string& text, const TProgressLineDefaults& own,
                      const TProgressViewerSettings& module);
// Line 0 with `text`: added (default font name, 14, bold, black, centred) or
// its text changed.
void SetMainTextLine(TProgressLines& lines, const std::string& text, const TProgressLineDefaults& own,
                     const TProgressViewerSettings& module);

struct TProgressGeometry {
  int left = 0, top = 0, width = 450, height = 70;
  bool operator==(const TProgressGeometry&) const = default;
};

inline constexpr int kMinProgressHeight = 70;
inline constexpr int kMinProgressWidth = 225;

// Width and height after the limits; -1 keeps the current value.
TProgressGeometry LimitProgressSize(const TProgressGeometry& current, int width, int height);
// Centred horizontally, 100 pixels above the bottom of the work area.
TProgressGeometry PlaceProgressWindow(const TWorkArea& area, int width, int height);

// Bar of (window width - 40) x 20 pixels, drawn at (20, height - 60).
inline constexpr int kBarHeight = 20;
inline constexpr int kMarqueeBlock = 40;
int ProgressBarWidth(int windowWidth);
// Percentage mode: the position held within 0..100.
double ClampPercent(double position);
// Right edge of the filled part of the bar, from x = 2.
int PercentBarRight(int barWidth, double position);
// Marquee mode: 10 pixels further; past the bar's width it starts at -40.
double NextMarqueePosition(double position, int barWidth);

// "Общее время: 0:01:05": the time since `start` (times of day) in the
// settings' long time format; over midnight it keeps counting.
std::string ElapsedTimeText(const std::string& format, double startTime, double nowTime, const TFormatSettings& fs);

}  // namespace selvo
