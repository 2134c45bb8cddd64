// The waiting window on an X server, through a connection of its own (xcb).
// One object belongs to one thread: the viewer's thread creates it, puts its
// frames on screen with it and reads the window's events from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/ProgressViewer.h"

struct xcb_connection_t;

namespace selvo {

inline constexpr std::uint32_t kKeysymEscape = 0xff1b;

// What the window procedure gets from the window.
struct TProgressWindowEvent {
  enum TKind { Key, CloseRequest, Click, Expose, Destroyed } Kind = Expose;
  std::uint32_t KeySym = 0;  // Key
  int X = 0, Y = 0;          // Click, in window coordinates
};

class TXcbProgressWindow {
 public:
  // Connects to the display (empty: none); null when there is no display or
  // the connection fails.
  static std::unique_ptr<TXcbProgressWindow> Connect(const std::string& display);
  ~TXcbProgressWindow();
  TXcbProgressWindow(const TXcbProgressWindow&) = delete;
  TXcbProgressWindow& operator=(const TXcbProgressWindow&) = delete;

  // The desktop work area (_NET_WORKAREA when a window manager tells it,
  // else the whole screen).
  TWorkArea WorkArea();
  // The window that has the focus (_NET_ACTIVE_WINDOW), 0 when unknown.
  std::uint32_t ActiveWindow();
  // A tool window above the others, no parent, not decorated, that ignores
  // close requests; not yet shown. False when the server refuses it.
  bool Create(const std::string& title, const std::string& className, const TProgressGeometry& geometry);
  std::uint32_t Handle() const { return window_; }
  void MoveAndShow(const TProgressGeometry& geometry);
  void Hide();
  void Destroy();
  // Puts 0xAARRGGBB pixels (rows `stride` pixels apart) at (0, 0). Screens
  // that do not take 32-bit true colour pixels show nothing.
  void Put(const std::uint32_t* pixels, int width, int height, int stride);
  // The next waiting event of the window, without blocking.
  bool NextEvent(TProgressWindowEvent& event);
  bool Broken() const;

 private:
  explicit TXcbProgressWindow(xcb_connection_t* connection, int screen);
  std::uint32_t Atom(const char* name);
  void SetSizeHints(const TProgressGeometry& geometry);

  xcb_connection_t* connection_ = nullptr;
  int screenNumber_ = 0;
  std::uint32_t root_ = 0;
  std::uint32_t window_ = 0;
  std::uint32_t gc_ = 0;
  std::uint32_t deleteAtom_ = 0;
  std::uint32_t protocolsAtom_ = 0;
  bool canPut_ = false;
  bool swapBytes_ = false;
  std::uint8_t depth_ = 0;
  std::uint32_t maxRequestBytes_ = 0;
  int minKeycode_ = 0;
  int keysymsPerKeycode_ = 0;
  std::unique_ptr<std::uint32_t[]> keysyms_;
  int keycodeCount_ = 0;
};

// Helpers for a second client (tests): the keycode of a keysym on that
// connection (0 when none), and the windows named `title` among the root's
// children.
std::uint8_t XcbKeycodeOf(xcb_connection_t* connection, std::uint32_t keysym);
std::vector<std::uint32_t> XcbFindWindowsByName(xcb_connection_t* connection, const std::string& title);

}  // namespace selvo
