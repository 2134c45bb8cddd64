#include "support/QtProgressViewer.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <cstdlib>

#include "platform/Clock.h"
#include "platform/DateUtils.h"

namespace selvo {
namespace {

constexpr int kDotsPerMeter = 3780;  // 96 dots per inch, as the window's designed fonts assume
constexpr int kWorkerStepMs = 50;

QImage NewImage(int width, int height) {
  QImage image(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32);
  image.setDotsPerMeterX(kDotsPerMeter);
  image.setDotsPerMeterY(kDotsPerMeter);
  return image;
}

// Fonts and text metrics need the application's font database.
bool CanDrawText() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

int TextFlags(const TProgressLine& line) {
  int flags = Qt::AlignTop;
  switch (line.Alignment) {
    case paRight: flags |= Qt::AlignRight; break;
    case paCenter: flags |= Qt::AlignHCenter; break;
    default: flags |= Qt::AlignLeft; break;
  }
  if (line.WordWrap) flags |= Qt::TextWordWrap;
  return flags;
}

// The viewer's display, read on the owner's thread; empty: none.
std::string DisplayName() {
  const char* d = std::getenv("DISPLAY");
  return d ? d : "";
}

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

void DrawButton(QPainter& p, const QRect& r, const QString& caption, const QFont& font) {
  p.fillRect(r, ProgressQColor(kButtonFaceColor));
  p.setPen(Qt::white);
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(QColor(105, 105, 105));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
  if (!CanDrawText()) return;
  p.setPen(Qt::black);
  p.setFont(font);
  p.drawText(r, Qt::AlignCenter, caption);
}

}  // namespace

QColor ProgressQColor(TProgressColor c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

QFont ProgressLineFont(const std::string& name, int size, std::uint8_t style) {
  QFont font(Q(name));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(size > 0 ? size : 8);
  font.setBold(style & fsBold);
  font.setItalic(style & fsItalic);
  font.setUnderline(style & fsUnderline);
  font.setStrikeOut(style & fsStrikeOut);
  return font;
}

QRect ProgressCancelButtonRect(int width, int height) { return QRect(width - 120, height - 30, 100, 25); }

// ---------------------------------------------------------------------------
// Picture

int TProgressPicture::LayoutText(std::vector<TProgressLine>& lines, int windowWidth, TProgressColor background) {
  const int blockWidth = std::max(windowWidth - 20, 1);
  const bool text = CanDrawText();
  QImage probe = NewImage(1, 1);
  int blockHeight = 0;
  for (TProgressLine& line : lines) {
    line.Height = 0;
    if (text) {
      const QFontMetrics metrics(ProgressLineFont(line.FontName, line.FontSize, line.FontStyle), &probe);
      line.Height = metrics.boundingRect(QRect(0, 0, blockWidth, 0), TextFlags(line), Q(line.Text)).height();
    }
    blockHeight += line.Height;
  }

  text_ = NewImage(blockWidth, blockHeight);
  text_.fill(ProgressQColor(background));
  if (text && blockHeight > 0) {
    QPainter p(&text_);
    int top = 0;
    for (const TProgressLine& line : lines) {
      p.setFont(ProgressLineFont(line.FontName, line.FontSize, line.FontStyle));
      p.setPen(ProgressQColor(line.Color));
      p.drawText(QRect(0, top, blockWidth, line.Height), TextFlags(line), Q(line.Text));
      top += line.Height;
    }
  }
  return blockHeight;
}

void TProgressPicture::RebuildBackground(int width, int height) {
  frame_ = NewImage(width, height);
  frame_.fill(ProgressQColor(kButtonFaceColor));
  background_ = frame_.copy();
  if (!text_.isNull() && text_.height() > 0) {
    QPainter p(&background_);
    p.drawImage(10, 2, text_);
  }
}

void TProgressPicture::PaintFrame(const TProgressFrameState& s) {
  if (background_.size() != QSize(s.Width, s.Height)) RebuildBackground(s.Width, s.Height);
  frame_ = background_.copy();

  const int barWidth = std::max(ProgressBarWidth(s.Width), 1);
  bar_ = NewImage(barWidth, kBarHeight);
  bar_.fill(Qt::white);
  const bool text = CanDrawText();
  {
    QPainter p(&bar_);
    p.setPen(Qt::black);
    p.drawRect(0, 0, barWidth - 1, kBarHeight - 1);
    const QColor fill = ProgressQColor(s.BarColor);
    if (s.PercentMode) {
      const double percent = ClampPercent(s.Position);
      const int right = PercentBarRight(barWidth, percent);
      if (right > 2) p.fillRect(QRect(QPoint(2, 2), QPoint(right - 1, kBarHeight - 3)), fill);
      if (s.ShowPercentText && text) {
        const QString label = QString::number(static_cast<int>(std::trunc(percent))) + " %";
        const QFont font = ProgressLineFont(s.FontName, 8, fsBold);
        p.setFont(font);
        const QFontMetrics metrics(font, &bar_);
        const int x = (barWidth - metrics.horizontalAdvance(label)) / 2;
        p.drawText(QRect(x, 4, metrics.horizontalAdvance(label) + 1, metrics.height()), Qt::AlignLeft | Qt::AlignTop,
                   label);
      }
    } else {
      const int left = static_cast<int>(std::trunc(s.Position));
      p.fillRect(QRect(QPoint(left, 2), QPoint(left + kMarqueeBlock - 1, kBarHeight - 3)), fill);
    }
  }

  QPainter p(&frame_);
  const QFont regular = ProgressLineFont(s.FontName, 8, 0);
  if (!s.ElapsedText.empty() && text) {
    p.setFont(regular);
    p.setPen(Qt::black);
    const QFontMetrics metrics(regular, &frame_);
    const QString label = Q(s.ElapsedText);
    const int width = metrics.horizontalAdvance(label);
    const int x = s.CancelShown ? 20 : s.Width - width - 20;
    p.drawText(QRect(x, s.Height - 25, width + 1, metrics.height()), Qt::AlignLeft | Qt::AlignTop, label);
  }
  p.drawImage(20, s.Height - 60, bar_);
  if (s.CancelShown) DrawButton(p, ProgressCancelButtonRect(s.Width, s.Height), Q(s.CancelCaption), regular);
}

// ---------------------------------------------------------------------------
// Worker thread

TAdditionalThread::TAdditionalThread(TProgressWorker worker, void* argument, TProgressViewer* viewer)
    : worker_(worker), argument_(argument), viewer_(viewer) {}

TAdditionalThread::~TAdditionalThread() {
  Terminate();
  if (thread_.joinable()) thread_.join();
}

void TAdditionalThread::Resume() {
  if (!thread_.joinable()) thread_ = StartProgressThread(TProgressThreadKind::Worker, [this] { Execute(); });
}

void TAdditionalThread::Terminate() { terminated_ = true; }

void TAdditionalThread::Execute() {
  try {
    worker_(argument_, viewer_);
  } catch (...) {
    // The worker's failure has nobody to go to; the viewer carries on.
  }
  while (!terminated_) std::this_thread::sleep_for(std::chrono::milliseconds(kWorkerStepMs));
}

// ---------------------------------------------------------------------------
// Viewer

TProgressViewer* TProgressViewer::Create(const std::string& text, TProgressWorker worker, void* argument,
                                         bool showCancel, bool percentMode) {
  if (!ProgressViewerClassUsable())
    throw EProgressException("Класс окна визуализации \"ProgressViewerFormClass\" не зарегистрирован!");
  return new TProgressViewer(text, worker, argument, showCancel, percentMode);
}

TProgressViewer::TProgressViewer(const std::string& text, TProgressWorker worker, void* argument, bool showCancel,
                                 bool percentMode)
    : settings_(ProgressViewerSettings()),
      formats_(ModuleFormatSettings()),
      display_(DisplayName()),
      percentMode_(percentMode),
      cancelWanted_(showCancel),
      cancelShown_(showCancel),
      workArea_(LastWorkArea()) {
  geometry_ = PlaceProgressWindow(workArea_, 450, 70);
  mainText_ = text;
  AddStartingLines(lines_, text, defaults_, settings_);
  if (reinterpret_cast<std::uintptr_t>(worker) > 0xFFFF)
    worker_ = std::make_unique<TAdditionalThread>(worker, argument, this);
  Start();
}

TProgressViewer::~TProgressViewer() = default;

void TProgressViewer::AddLine(std::int32_t number, const std::string& text, std::uint8_t alignment, bool wordWrap,
                              TProgressColor color, std::uint8_t fontStyle, int fontSize, const std::string& fontName) {
  std::lock_guard<std::mutex> guard(lineLock_);
  lines_.AddLine(number, text, alignment, wordWrap, color, fontStyle, fontSize, fontName, defaults_, settings_);
  layoutValid_ = false;
}

void TProgressViewer::SetMainText(const std::string& text) {
  std::lock_guard<std::mutex> guard(lineLock_);
  mainText_ = text;
  SetMainTextLine(lines_, text, defaults_, settings_);
  layoutValid_ = false;
}

void TProgressViewer::ChangeStringParams(std::int32_t number, const std::vector<int>& codes,
                                         const std::vector<TVariant>& values) {
  std::lock_guard<std::mutex> guard(lineLock_);
  lines_.ChangeStringParams(number, codes, values);
  layoutValid_ = false;
}

void TProgressViewer::SetPosition(double position) { position_ = position; }

void TProgressViewer::SetWidth(int width) {
  std::lock_guard<std::mutex> guard(sizeLock_);
  requestedWidth_ = width;
}

void TProgressViewer::SetShowCancel(bool show) {
  std::lock_guard<std::mutex> guard(sizeLock_);
  cancelWanted_ = show;
}

void TProgressViewer::SetOnCancel(TProgressCancelEvent event) {
  std::lock_guard<std::mutex> guard(sizeLock_);
  onCancel_ = std::move(event);
}

void TProgressViewer::SetTextBackground(TProgressColor color) {
  std::lock_guard<std::mutex> guard(lineLock_);
  textBackground_ = color;
  layoutValid_ = false;
}

void TProgressViewer::SetLineDefaults(const TProgressLineDefaults& defaults) {
  std::lock_guard<std::mutex> guard(lineLock_);
  defaults_ = defaults;
}

void TProgressViewer::Cancel() {
  cancelled_ = true;
  TProgressCancelEvent event;
  {
    std::lock_guard<std::mutex> guard(sizeLock_);
    event = onCancel_;
  }
  try {
    if (event) event(this);
  } catch (...) {
    // The operator asked to cancel; a failing handler must not end the window.
  }
}

TProgressGeometry TProgressViewer::Geometry() const {
  std::lock_guard<std::mutex> guard(sizeLock_);
  return geometry_;
}

int TProgressViewer::BlockHeight() const {
  std::lock_guard<std::mutex> guard(lineLock_);
  return blockHeight_;
}

QImage TProgressViewer::FrameCopy() const {
  std::lock_guard<std::mutex> guard(lineLock_);
  return picture_.Frame().copy();
}

std::vector<TProgressLine> TProgressViewer::Lines() const {
  std::lock_guard<std::mutex> guard(lineLock_);
  return lines_.Items();
}

void TProgressViewer::Resize(int width, int height) {
  TProgressGeometry placed;
  {
    std::lock_guard<std::mutex> guard(sizeLock_);
    const TProgressGeometry limited = LimitProgressSize(geometry_, width, height);
    if (limited.width == geometry_.width && limited.height == geometry_.height) return;
    placed = PlaceProgressWindow(workArea_, limited.width, limited.height);
    geometry_ = placed;
  }
  if (window_) window_->MoveAndShow(placed);
  layoutValid_ = false;
}

void TProgressViewer::ApplyPendingSize() {
  int width = 0;
  bool resize = false;
  {
    std::lock_guard<std::mutex> guard(sizeLock_);
    if (requestedWidth_ != geometry_.width) {
      width = requestedWidth_;
      resize = true;
    }
    // The button is painted into the frame: the next frame shows or hides it.
    if (cancelWanted_ != cancelShown_) cancelShown_ = cancelWanted_;
  }
  if (resize) Resize(width, -1);
}

void TProgressViewer::DispatchMessages() {
  if (!window_) return;
  TProgressWindowEvent event;
  while (window_ && window_->NextEvent(event)) {
    if (event.Kind == TProgressWindowEvent::Destroyed) {
      // Destroyed from outside: from now on the viewer runs without a window.
      UnregisterProgressWindow(window_->Handle());
      window_.reset();
      windowHandle_ = 0;
      break;
    }
    WindowProc(window_->Handle(), event);
  }
  if (window_ && window_->Broken()) {
    UnregisterProgressWindow(window_->Handle());
    window_.reset();
    windowHandle_ = 0;
  }
}

int TProgressViewer::WindowProc(std::uint32_t handle, const TProgressWindowEvent& event) {
  TProgressViewer* viewer = FindProgressViewer(handle);
  switch (event.Kind) {
    case TProgressWindowEvent::Destroyed: return 0;
    case TProgressWindowEvent::Key:
      if (event.KeySym == kKeysymEscape && viewer) viewer->Cancel();
      return 0;
    case TProgressWindowEvent::CloseRequest: return 0;
    case TProgressWindowEvent::Click: {
      if (!viewer) return 0;
      const TProgressGeometry g = viewer->Geometry();
      bool shown;
      {
        std::lock_guard<std::mutex> guard(viewer->sizeLock_);
        shown = viewer->cancelShown_;
      }
      if (shown && ProgressCancelButtonRect(g.width, g.height).contains(event.X, event.Y)) viewer->Cancel();
      return 0;
    }
    case TProgressWindowEvent::Expose:
      if (viewer) viewer->PresentFrame();
      return 0;
  }
  return -1;
}

void TProgressViewer::PresentFrame() {
  std::lock_guard<std::mutex> guard(lineLock_);
  const QImage& frame = picture_.Frame();
  if (window_ && !frame.isNull())
    window_->Put(reinterpret_cast<const std::uint32_t*>(frame.constBits()), frame.width(), frame.height(),
                 static_cast<int>(frame.bytesPerLine() / 4));
}

void TProgressViewer::Tick() {
  std::lock_guard<std::mutex> guard(lineLock_);
  if (!layoutValid_) {
    try {
      const int width = Geometry().width;
      blockHeight_ = picture_.LayoutText(lines_.Items(), width, textBackground_);
      if (blockHeight_ > 0) Resize(width, blockHeight_ + 70);
      const TProgressGeometry g = Geometry();
      picture_.RebuildBackground(g.width, g.height);
    } catch (...) {
      // Tried again after the next change.
    }
    layoutValid_ = true;
  }
  if (!window_) return;
  try {
    TProgressFrameState state;
    const TProgressGeometry g = Geometry();
    state.Width = g.width;
    state.Height = g.height;
    state.PercentMode = percentMode_;
    if (percentMode_) {
      // Held within 0..100 for the picture only: writing it back could
      // overwrite a position the owner has just set.
      state.Position = ClampPercent(position_);
    } else {
      state.Position = NextMarqueePosition(position_, ProgressBarWidth(g.width));
      position_ = state.Position;
    }
    state.ShowPercentText = settings_.ShowPercentText;
    state.BarColor = settings_.BarColor;
    if (settings_.ShowElapsedTime)
      state.ElapsedText = ElapsedTimeText(settings_.ElapsedFormat, startTime_, TimeOf(Now()), formats_);
    {
      std::lock_guard<std::mutex> size(sizeLock_);
      state.CancelShown = cancelShown_;
    }
    state.CancelCaption = settings_.CancelCaption;
    state.FontName = settings_.DefFontName;
    picture_.PaintFrame(state);
    ++frames_;
    const QImage& frame = picture_.Frame();
    window_->Put(reinterpret_cast<const std::uint32_t*>(frame.constBits()), frame.width(), frame.height(),
                 static_cast<int>(frame.bytesPerLine() / 4));
  } catch (...) {
    // The next tick paints again.
  }
}

void TProgressViewer::Execute() {
  try {
    window_ = TXcbProgressWindow::Connect(display_);
    if (window_) {
      workArea_ = window_->WorkArea();
      foregroundWindow_ = window_->ActiveWindow();
      RememberWorkArea(workArea_);
      std::lock_guard<std::mutex> guard(sizeLock_);
      geometry_ = PlaceProgressWindow(workArea_, geometry_.width, geometry_.height);
    }
    ApplyPendingSize();
    if (window_) {
      if (window_->Create(kProgressWindowTitle, kProgressWindowClass, Geometry())) {
        window_->MoveAndShow(Geometry());
        RegisterProgressWindow(window_->Handle(), this);
        windowHandle_ = window_->Handle();
      } else {
        window_.reset();
      }
    }
    startTime_ = TimeOf(Now());
    if (worker_) worker_->Resume();

    while (!Terminated()) {
      ApplyPendingSize();
      DispatchMessages();
      Tick();
      DispatchMessages();
      SleepUnlessTerminated(settings_.TickInterval);
    }
  } catch (...) {
    // A failure outside the guarded painting (no thread for the worker, no
    // memory) ends the viewer early: nothing of it stays on screen or in the
    // registry, and the owner still holds it until Terminate.
    EndWindowAndWorker();
    throw;
  }
  EndWindowAndWorker();
}

void TProgressViewer::EndWindowAndWorker() {
  if (worker_) worker_->Terminate();
  if (window_) {
    const std::uint32_t handle = window_->Handle();
    window_->Hide();
    window_->Destroy();
    UnregisterProgressWindow(handle);
    windowHandle_ = 0;
    window_.reset();
  }
  // The worker is handed this viewer: it must have ended before the viewer
  // is freed.
  worker_.reset();
}

}  // namespace selvo
