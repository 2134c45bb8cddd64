// The waiting window: a thread of its own lays out the text lines, paints
// every frame into off-screen images (QImage, Qt Gui only) and, when there is
// a display, puts them on screen through its own X connection. It keeps
// animating while the owner's thread is busy. Nothing of Qt Widgets is used.
//
//   TProgressViewer* viewer = TProgressViewer::Create("Загрузка данных");
//   ... long work on the owner's thread ...
//   viewer->Terminate();  // the viewer frees itself; forget the pointer
#pragma once

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/ProgressViewer.h"
#include "support/XcbProgressWindow.h"

namespace selvo {

// What a frame shows besides the background.
struct TProgressFrameState {
  int Width = 450, Height = 70;
  bool PercentMode = false;
  double Position = 0;  // percent, or the marquee block's left edge
  bool ShowPercentText = true;
  TProgressColor BarColor = 0xFFFF00;
  std::string ElapsedText;  // empty: none
  bool CancelShown = false;
  std::string CancelCaption;
  std::string FontName = "MS Sans Serif";
};

// The four off-screen images of a viewer and the painting into them. Not
// locked: the viewer guards it with its line lock. Text needs a
// QGuiApplication in the process; without one, lines measure 0 and no text
// is drawn.
class TProgressPicture {
 public:
  // Measures every line at the block width (window width - 20), sets its
  // Height and draws the text block; returns the block height.
  int LayoutText(std::vector<TProgressLine>& lines, int windowWidth, TProgressColor background);
  // Frame and background of width x height in button face, with the text
  // block at (10, 2).
  void RebuildBackground(int width, int height);
  // The frame: the background, the bar at (20, height - 60), the elapsed
  // time and the cancel button.
  void PaintFrame(const TProgressFrameState& state);

  const QImage& Frame() const { return frame_; }
  const QImage& TextBlock() const { return text_; }
  const QImage& Bar() const { return bar_; }

 private:
  QImage frame_, background_, text_, bar_;
};

// Screen colour of a 0x00BBGGRR colour.
QColor ProgressQColor(TProgressColor color);
// The font of a line at 96 dots per inch.
QFont ProgressLineFont(const std::string& name, int size, std::uint8_t style);
// The cancel button, in window coordinates.
QRect ProgressCancelButtonRect(int width, int height);

class TProgressViewer;
// Called on the worker thread with (argument, viewer).
using TProgressWorker = void (*)(void* argument, TProgressViewer* viewer);
// Called on the viewer's thread when the operator cancels.
using TProgressCancelEvent = std::function<void(TProgressViewer* sender)>;

// Runs a worker callback in a thread of its own, then waits until told to
// end. Owned by its viewer, which ends and frees it before freeing itself.
class TAdditionalThread {
 public:
  TAdditionalThread(TProgressWorker worker, void* argument, TProgressViewer* viewer);
  ~TAdditionalThread();  // terminates and waits for the thread
  void Resume();
  void Terminate();
  bool Terminated() const { return terminated_; }

 private:
  void Execute();

  TProgressWorker worker_;
  void* argument_;
  TProgressViewer* viewer_;
  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

class TProgressViewer final : public TProgressThread {
 public:
  // Starts a viewer showing `text`. Raises EProgressException when the
  // window class is not registered (module not started). A worker (any
  // pointer above 0xFFFF) runs in a second thread once the window is up.
  // The display is $DISPLAY; without one the viewer runs with nothing on
  // screen. A thread that cannot be started raises std::system_error (or
  // std::bad_alloc) here, or ends the viewer early when it is the worker's.
  // The viewer is freed after Terminate, and only then.
  static TProgressViewer* Create(const std::string& text, TProgressWorker worker = nullptr, void* argument = nullptr,
                                 bool showCancel = false, bool percentMode = false);

  // Owner's thread, any time before Terminate.
  void AddLine(std::int32_t number, const std::string& text, std::uint8_t alignment = paLeft, bool wordWrap = false,
               TProgressColor color = kDefaultLineColor, std::uint8_t fontStyle = kDefaultFontStyle,
               int fontSize = kDefaultFontSize, const std::string& fontName = "");
  void SetMainText(const std::string& text);
  // See TProgressLines::ChangeStringParams.
  void ChangeStringParams(std::int32_t number, const std::vector<int>& codes, const std::vector<TVariant>& values);
  void SetPosition(double position);
  double Position() const { return position_; }
  void SetWidth(int width);  // applied by the viewer's thread
  void SetShowCancel(bool show);
  void SetOnCancel(TProgressCancelEvent event);
  void SetTextBackground(TProgressColor color);
  void SetLineDefaults(const TProgressLineDefaults& defaults);
  bool Cancelled() const { return cancelled_; }
  // Sets the cancelled flag and calls the cancel event; its failures are
  // swallowed.
  void Cancel();

  // State as the viewer's thread last left it (for tests and tools).
  TProgressGeometry Geometry() const;
  std::uint32_t WindowHandle() const { return windowHandle_; }
  int BlockHeight() const;
  std::uint64_t FramesPainted() const { return frames_; }
  QImage FrameCopy() const;
  std::vector<TProgressLine> Lines() const;

  // The window procedure: answers 0 for what it handles, -1 for the rest.
  static int WindowProc(std::uint32_t handle, const TProgressWindowEvent& event);

 private:
  TProgressViewer(const std::string& text, TProgressWorker worker, void* argument, bool showCancel, bool percentMode);
  ~TProgressViewer() override;
  void Execute() override;
  // Hides and releases the window, leaves the registry, ends the worker.
  void EndWindowAndWorker();
  void ApplyPendingSize();
  void Resize(int width, int height);
  void DispatchMessages();
  void Tick();
  void PresentFrame();

  const TProgressViewerSettings settings_;  // module defaults as of creation
  const TFormatSettings formats_;
  const std::string display_;
  const bool percentMode_;

  // Line lock: the lines, the picture, the block height, the line defaults.
  mutable std::mutex lineLock_;
  TProgressLines lines_;
  TProgressLineDefaults defaults_;
  TProgressPicture picture_;
  TProgressColor textBackground_ = kButtonFaceColor;
  int blockHeight_ = 0;
  std::string mainText_;

  // Size lock: geometry, requested width, button visibility, cancel event.
  mutable std::mutex sizeLock_;
  TProgressGeometry geometry_;
  int requestedWidth_ = 450;
  bool cancelWanted_ = false;
  bool cancelShown_ = false;
  TProgressCancelEvent onCancel_;

  std::atomic<bool> layoutValid_{false};
  std::atomic<bool> cancelled_{false};
  std::atomic<double> position_{0};
  std::atomic<std::uint32_t> windowHandle_{0};
  std::atomic<std::uint64_t> frames_{0};

  // The viewer's thread only.
  TWorkArea workArea_;
  std::uint32_t foregroundWindow_ = 0;  // the focused window when the viewer connected
  std::unique_ptr<TXcbProgressWindow> window_;
  std::unique_ptr<TAdditionalThread> worker_;
  double startTime_ = 0;
};

}  // namespace selvo
