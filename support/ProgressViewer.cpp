#include "support/ProgressViewer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <set>

#include "platform/TextCodec.h"

namespace selvo {
namespace {

constexpr const char* kLineNotFound = "Строка с номером %d не найдена!";
constexpr const char* kCountMismatch = "Количество параметров и соответствующих им значений не совпадают!";
constexpr const char* kChangeOperation = "TProgressViewer.ChangeStringParams";

// On the heap, not a static object: a library that stays loaded until the
// process exits runs its unload hook after the static destructors. Module end
// frees it, so that unloading the library leaves nothing behind.
TProgressViewerSettings* gSettings = nullptr;
TProgressViewerSettings& SettingsSlot() {
  if (!gSettings) gSettings = new TProgressViewerSettings();
  return *gSettings;
}

// The window class stands for the viewer's window type as a whole: usable
// between module start and end. Registering twice answers "exists already",
// which counts as usable.
std::atomic<bool> gClassRegistered{false};

// Registry of windows to viewers: two index-aligned lists under one lock.
struct TRegistry {
  std::mutex lock;
  std::vector<std::uint32_t> handles;
  std::vector<TProgressViewer*> viewers;
};
TRegistry* gRegistry = nullptr;
std::mutex gRegistryCreation;

std::mutex gWorkAreaLock;
TWorkArea gWorkArea;

// The thread book: viewers whose thread runs, and the handles of threads that
// ended and still have to be joined.
struct TThreadBook {
  std::mutex lock;
  std::condition_variable changed;
  std::set<TProgressThread*> live;
  // Holds room for the handle of every live thread, so that a thread ending
  // does not allocate.
  std::vector<std::thread> ended;
};
// Made by the first viewer's thread, freed by module end after the last
// thread has been joined; kept while a thread still runs past module end.
std::mutex gBookCreation;
TThreadBook* gBook = nullptr;
TThreadBook& Book() {
  std::lock_guard<std::mutex> guard(gBookCreation);
  if (!gBook) gBook = new TThreadBook();
  return *gBook;
}

std::atomic<int> gModuleEndWaitMs{0};

std::mutex gStarterLock;
TProgressThreadStarter gStarter;

void JoinEnded(std::unique_lock<std::mutex>& held) {
  TThreadBook& book = Book();
  std::vector<std::thread> ended;
  try {
    ended.reserve(book.live.size());  // becomes the book's room for the live threads
  } catch (const std::bad_alloc&) {
    // Threads that then find no room are detached instead of joined.
  }
  ended.swap(book.ended);
  held.unlock();
  for (std::thread& t : ended) t.join();
  held.lock();
}

std::string ReplaceFirst(std::string text, const std::string& token, const std::string& by) {
  const auto at = text.find(token);
  if (at != std::string::npos) text.replace(at, token.size(), by);
  return text;
}

std::string VariantKind(const TVariant& v) {
  switch (v.index()) {
    case 0: return "Null";
    case 1: return "Int64";
    case 2: return "Double";
    default: return "String";
  }
}

[[noreturn]] void CannotConvert(const TVariant& v, const char* to) {
  throw EConvertError("Could not convert variant of type (" + VariantKind(v) + ") into type (" + to + ")");
}

std::int64_t ToInteger(const TVariant& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
  if (const auto* d = std::get_if<double>(&v)) {
    if (std::isfinite(*d) && std::fabs(*d) < 9.2e18) return std::llround(*d);
  }
  if (const auto* s = std::get_if<std::string>(&v)) {
    char* end = nullptr;
    const long long n = std::strtoll(s->c_str(), &end, 10);
    if (!s->empty() && end && *end == '\0') return n;
  }
  CannotConvert(v, "Integer");
}

std::string ToText(const TVariant& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) return FloatToStr(*d, ModuleFormatSettings());
  return "";
}

bool ToBoolean(const TVariant& v) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (SameText(*s, "true")) return true;
    if (SameText(*s, "false")) return false;
  }
  return ToInteger(v) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Module-wide state

TProgressViewerSettings& ProgressViewerSettings() { return SettingsSlot(); }
void SetProgressViewerTitle(const std::string& title) { SettingsSlot().Title = title; }
const std::string& ProgressViewerTitle() { return SettingsSlot().Title; }

void ProgressViewerModuleStart() {
  SettingsSlot() = TProgressViewerSettings();
  gClassRegistered = true;
  std::lock_guard<std::mutex> guard(gRegistryCreation);
  if (!gRegistry) gRegistry = new TRegistry();
}

void ProgressViewerModuleEnd() {
  gClassRegistered = false;
  TThreadBook* started = nullptr;
  {
    std::lock_guard<std::mutex> guard(gBookCreation);
    started = gBook;
  }
  std::size_t running = 0;
  const int waitMs = gModuleEndWaitMs > 0 ? gModuleEndWaitMs.load() : kProgressModuleEndWaitMs;
  if (started) {
    // Viewers left running would use the registry and the module's code
    // after both are gone: end them first, as long as they end in time.
    TThreadBook& book = *started;
    std::unique_lock<std::mutex> held(book.lock);
    for (TProgressThread* thread : book.live) thread->RequestEnd();
    book.changed.wait_for(held, std::chrono::milliseconds(waitMs), [&] { return book.live.empty(); });
    JoinEnded(held);
    running = book.live.size();
  }
  if (running > 0) {
    // The threads still use the book and their viewers: both stay. What
    // else they reach is gone safely (the registry is looked up under its
    // creation lock) or is their own copy (the settings).
    std::fprintf(stderr,
                 "TProgressViewer: потоков окна ожидания, не закончившихся за %d мс при выгрузке модуля: %zu; "
                 "их память не освобождена\n",
                 waitMs, running);
    std::fflush(stderr);
  } else {
    std::lock_guard<std::mutex> guard(gBookCreation);
    delete gBook;
    gBook = nullptr;
  }
  {
    std::lock_guard<std::mutex> guard(gRegistryCreation);
    delete gRegistry;
    gRegistry = nullptr;
  }
  delete gSettings;
  gSettings = nullptr;
}

void SetProgressModuleEndWaitForTesting(int milliseconds) { gModuleEndWaitMs = milliseconds; }

bool ProgressViewerClassUsable() { return gClassRegistered; }

void RegisterProgressWindow(std::uint32_t handle, TProgressViewer* viewer) {
  std::lock_guard<std::mutex> creation(gRegistryCreation);
  if (!gRegistry) return;
  std::lock_guard<std::mutex> guard(gRegistry->lock);
  auto& handles = gRegistry->handles;
  if (std::find(handles.begin(), handles.end(), handle) != handles.end()) return;
  handles.push_back(handle);
  gRegistry->viewers.push_back(viewer);
}

void UnregisterProgressWindow(std::uint32_t handle) {
  std::lock_guard<std::mutex> creation(gRegistryCreation);
  if (!gRegistry) return;
  std::lock_guard<std::mutex> guard(gRegistry->lock);
  auto& handles = gRegistry->handles;
  const auto it = std::find(handles.begin(), handles.end(), handle);
  if (it == handles.end()) return;
  gRegistry->viewers.erase(gRegistry->viewers.begin() + (it - handles.begin()));
  handles.erase(it);
}

TProgressViewer* FindProgressViewer(std::uint32_t handle) {
  std::lock_guard<std::mutex> creation(gRegistryCreation);
  if (!gRegistry) return nullptr;
  std::lock_guard<std::mutex> guard(gRegistry->lock);
  const auto& handles = gRegistry->handles;
  const auto it = std::find(handles.begin(), handles.end(), handle);
  return it == handles.end() ? nullptr : gRegistry->viewers[it - handles.begin()];
}

TWorkArea LastWorkArea() {
  std::lock_guard<std::mutex> guard(gWorkAreaLock);
  return gWorkArea;
}

void RememberWorkArea(const TWorkArea& area) {
  std::lock_guard<std::mutex> guard(gWorkAreaLock);
  gWorkArea = area;
}

// ---------------------------------------------------------------------------
// Thread base

std::thread StartProgressThread(TProgressThreadKind kind, std::function<void()> body) {
  TProgressThreadStarter starter;
  {
    std::lock_guard<std::mutex> guard(gStarterLock);
    starter = gStarter;
  }
  return starter ? starter(kind, std::move(body)) : std::thread(std::move(body));
}

void SetProgressThreadStarter(TProgressThreadStarter starter) {
  std::lock_guard<std::mutex> guard(gStarterLock);
  gStarter = std::move(starter);
}

TProgressThread::~TProgressThread() = default;

void TProgressThread::Start() {
  // Under the book's lock, so that the ending thread sees its own handle.
  TThreadBook& book = Book();
  std::unique_lock<std::mutex> held(book.lock);
  if (!book.ended.empty()) JoinEnded(held);
  book.ended.reserve(book.ended.size() + book.live.size() + 1);
  book.live.insert(this);
  try {
    thread_ = StartProgressThread(TProgressThreadKind::Viewer, [this] { Run(this); });
  } catch (...) {
    book.live.erase(this);
    throw;
  }
}

void TProgressThread::Run(TProgressThread* self) {
  try {
    self->Execute();
  } catch (...) {
    // A thread body has nobody to report to. Its owner still holds the
    // object: it is freed when the owner lets it go.
  }
  TThreadBook& book = Book();
  {
    std::lock_guard<std::mutex> guard(book.lock);
    book.live.erase(self);
    if (book.ended.size() < book.ended.capacity()) {
      book.ended.push_back(std::move(self->thread_));
    } else {
      self->thread_.detach();
    }
    book.changed.notify_all();
  }
  // The last touch of the object unless the owner has let it go already:
  // then it is this thread's to free, else Terminate frees it.
  bool released = false;
  {
    std::lock_guard<std::mutex> guard(self->waitLock_);
    self->ended_ = true;
    released = self->released_;
  }
  if (released) delete self;
}

void TProgressThread::Terminate() {
  bool freeNow = false;
  {
    std::lock_guard<std::mutex> guard(waitLock_);
    freeNow = ended_ && !released_;
    released_ = true;
    terminated_ = true;
    wake_.notify_all();
  }
  if (freeNow) delete this;
}

void TProgressThread::RequestEnd() {
  std::lock_guard<std::mutex> guard(waitLock_);
  terminated_ = true;
  wake_.notify_all();
}

bool TProgressThread::Terminated() const {
  std::lock_guard<std::mutex> guard(waitLock_);
  return terminated_;
}

bool TProgressThread::SleepUnlessTerminated(int ms) {
  std::unique_lock<std::mutex> held(waitLock_);
  return !wake_.wait_for(held, std::chrono::milliseconds(ms), [this] { return terminated_; });
}

std::size_t LiveProgressThreads() {
  std::lock_guard<std::mutex> guard(Book().lock);
  return Book().live.size();
}

bool WaitProgressThreadsBelow(std::size_t limit, int timeoutMs) {
  TThreadBook& book = Book();
  std::unique_lock<std::mutex> held(book.lock);
  const bool reached =
      book.changed.wait_for(held, std::chrono::milliseconds(timeoutMs), [&] { return book.live.size() < limit; });
  JoinEnded(held);
  return reached;
}

// ---------------------------------------------------------------------------
// Text lines

void TProgressLines::AddLine(std::int32_t number, const std::string& text, std::uint8_t alignment, bool wordWrap,
                             TProgressColor color, std::uint8_t fontStyle, int fontSize, const std::string& fontName,
                             const TProgressLineDefaults& own, const TProgressViewerSettings& module) {
  if (color == kDefaultLineColor) color = own.Color != kDefaultLineColor ? own.Color : module.DefLineColor;
  if (fontSize == kDefaultFontSize) fontSize = own.FontSize != kDefaultFontSize ? own.FontSize : module.DefFontSize;
  if (fontStyle == kDefaultFontStyle)
    fontStyle = own.FontStyle != kDefaultFontStyle ? own.FontStyle : module.DefFontStyle;
  std::string name = fontName.empty() ? (own.FontName.empty() ? module.DefFontName : own.FontName) : fontName;

  TProgressLine* line = Find(number);
  if (!line) {
    lines_.emplace_back();
    line = &lines_.back();
  }
  line->Number = number;
  line->Text = text;
  line->Alignment = alignment;
  line->WordWrap = wordWrap;
  line->FontName = std::move(name);
  line->FontSize = fontSize;
  line->FontStyle = fontStyle;
  line->Color = color;
  std::stable_sort(lines_.begin(), lines_.end(),
                   [](const TProgressLine& a, const TProgressLine& b) { return a.Number < b.Number; });
}

void TProgressLines::ChangeStringParams(std::int32_t number, const std::vector<int>& codes,
                                        const std::vector<TVariant>& values) {
  try {
    TProgressLine* line = Find(number);
    if (!line) throw EProgressException(ReplaceFirst(kLineNotFound, "%d", std::to_string(number)));
    if (codes.size() != values.size()) throw EProgressException(kCountMismatch);
    // Converted into a copy first, so that a bad value changes nothing.
    TProgressLine changed = *line;
    for (std::size_t i = 0; i < codes.size(); ++i) {
      const TVariant& v = values[i];
      switch (codes[i]) {
        case ppText: changed.Text = ToText(v); break;
        case ppAlignment: changed.Alignment = static_cast<std::uint8_t>(ToInteger(v)); break;
        case ppWordWrap: changed.WordWrap = ToBoolean(v); break;
        case ppFontName: changed.FontName = ToText(v); break;
        case ppFontSize: changed.FontSize = static_cast<std::int32_t>(ToInteger(v)); break;
        case ppFontStyle: changed.FontStyle = static_cast<std::uint8_t>(ToInteger(v) & 15); break;
        case ppColor: changed.Color = static_cast<TProgressColor>(ToInteger(v)); break;
        default: break;
      }
    }
    *line = std::move(changed);
  } catch (Exception& e) {
    PrefixOperation(e, kChangeOperation);
    throw;
  }
}

TProgressLine* TProgressLines::Find(std::int32_t number) {
  for (TProgressLine& line : lines_)
    if (line.Number == number) return &line;
  return nullptr;
}

void AddStartingLines(TProgressLines& lines, const std::string& text, const TProgressLineDefaults& own,
                      const TProgressViewerSettings& module) {
  SetMainTextLine(lines, text, own, module);
  lines.AddLine(-1, module.Title, paCenter, false, 0, fsBold, 12, "MS Sans Serif", own, module);
  lines.AddLine(1000, " ", paCenter, false, 0, fsBold, 8, "", own, module);
  lines.AddLine(1001, module.WaitLine1, paCenter, false, 0, fsBold, 10, "MS Sans Serif", own, module);
  lines.AddLine(1002, module.WaitLine2, paCenter, false, 0, fsBold, 10, "MS Sans Serif", own, module);
}

void SetMainTextLine(TProgressLines& lines, const std::string& text, const TProgressLineDefaults& own,
                     const TProgressViewerSettings& module) {
  const std::string shown = text.empty() ? " " : text;
  if (!lines.Find(0)) {
    lines.AddLine(0, shown, paCenter, false, 0, fsBold, 14, "", own, module);
  } else {
    lines.ChangeStringParams(0, {ppText}, {TVariant(shown)});
  }
}

// ---------------------------------------------------------------------------
// Geometry and bar

TProgressGeometry LimitProgressSize(const TProgressGeometry& current, int width, int height) {
  TProgressGeometry g = current;
  if (width != -1) g.width = width;
  if (height != -1) g.height = height;
  if (g.height < kMinProgressHeight) g.height = kMinProgressHeight;
  if (g.width < kMinProgressWidth) g.width = kMinProgressWidth;
  return g;
}

TProgressGeometry PlaceProgressWindow(const TWorkArea& area, int width, int height) {
  TProgressGeometry g;
  g.width = width;
  g.height = height;
  g.left = (area.right - area.left - width) / 2;  // C++ division truncates toward zero
  g.top = area.bottom - height - 100;
  return g;
}

int ProgressBarWidth(int windowWidth) { return windowWidth - 40; }

double ClampPercent(double position) {
  if (position > 100) return 100;
  if (!(position >= 0)) return 0;  // also NaN
  return position;
}

int PercentBarRight(int barWidth, double position) {
  return 2 + static_cast<int>(std::trunc((barWidth - 4) * ClampPercent(position) / 100));
}

double NextMarqueePosition(double position, int barWidth) {
  position += 10;
  if (position > barWidth) position = -kMarqueeBlock;
  return position;
}

std::string ElapsedTimeText(const std::string& format, double startTime, double nowTime, const TFormatSettings& fs) {
  double elapsed = nowTime - startTime;
  if (elapsed < 0) elapsed += 1;  // the operation went on past midnight
  return ReplaceFirst(format, "%s", FormatDateTime(fs.LongTimeFormat, elapsed, fs));
}

}  // namespace selvo
