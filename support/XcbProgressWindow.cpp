#include "support/XcbProgressWindow.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace selvo {
namespace {

template <typename T>
struct TReply {
  T* p = nullptr;
  explicit TReply(T* reply) : p(reply) {}
  ~TReply() { std::free(p); }
  TReply(const TReply&) = delete;
  TReply& operator=(const TReply&) = delete;
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

xcb_screen_t* ScreenOf(xcb_connection_t* c, int number) {
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; it.rem && i < number; ++i) xcb_screen_next(&it);
  return it.rem ? it.data : nullptr;
}

void SetProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type, std::uint8_t format,
                 std::uint32_t count, const void* data) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, format, count, data);
}

std::string WindowName(xcb_connection_t* c, xcb_window_t w) {
  TReply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 256), nullptr));
  if (!reply || reply->format != 8) return {};
  return std::string(static_cast<const char*>(xcb_get_property_value(reply.p)),
                     static_cast<std::size_t>(xcb_get_property_value_length(reply.p)));
}

}  // namespace

std::unique_ptr<TXcbProgressWindow> TXcbProgressWindow::Connect(const std::string& display) {
  if (display.empty()) return nullptr;
  // Connecting reads the authority file through libXau, whose file name
  // lives in one static buffer: one connect at a time.
  static std::mutex connecting;
  int screen = 0;
  xcb_connection_t* c = nullptr;
  {
    std::lock_guard<std::mutex> guard(connecting);
    c = xcb_connect(display.c_str(), &screen);
  }
  if (xcb_connection_has_error(c) || !ScreenOf(c, screen)) {
    xcb_disconnect(c);
    return nullptr;
  }
  return std::unique_ptr<TXcbProgressWindow>(new TXcbProgressWindow(c, screen));
}

TXcbProgressWindow::TXcbProgressWindow(xcb_connection_t* connection, int screen)
    : connection_(connection), screenNumber_(screen) {
  xcb_screen_t* s = ScreenOf(connection_, screenNumber_);
  root_ = s->root;
  depth_ = s->root_depth;
  const xcb_setup_t* setup = xcb_get_setup(connection_);
  // Frames are 32-bit 0xAARRGGBB; the screen must take such pixels as they are.
  for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
    if (f.data->depth == depth_ && f.data->bits_per_pixel == 32 && depth_ >= 24) canPut_ = true;
  swapBytes_ = setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST;
  maxRequestBytes_ = xcb_get_maximum_request_length(connection_) * 4;

  minKeycode_ = setup->min_keycode;
  keycodeCount_ = setup->max_keycode - setup->min_keycode + 1;
  TReply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
      connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, static_cast<std::uint8_t>(keycodeCount_)),
      nullptr));
  if (map) {
    keysymsPerKeycode_ = map->keysyms_per_keycode;
    const int n = xcb_get_keyboard_mapping_keysyms_length(map.p);
    keysyms_.reset(new std::uint32_t[static_cast<std::size_t>(std::max(n, 1))]);
    std::memcpy(keysyms_.get(), xcb_get_keyboard_mapping_keysyms(map.p), sizeof(std::uint32_t) * n);
  }
  protocolsAtom_ = Atom("WM_PROTOCOLS");
  deleteAtom_ = Atom("WM_DELETE_WINDOW");
}

TXcbProgressWindow::~TXcbProgressWindow() {
  Destroy();
  xcb_disconnect(connection_);
}

std::uint32_t TXcbProgressWindow::Atom(const char* name) {
  TReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
  return reply ? reply->atom : static_cast<std::uint32_t>(XCB_ATOM_NONE);
}

bool TXcbProgressWindow::Broken() const { return xcb_connection_has_error(connection_) != 0; }

TWorkArea TXcbProgressWindow::WorkArea() {
  xcb_screen_t* s = ScreenOf(connection_, screenNumber_);
  TWorkArea area{0, 0, s->width_in_pixels, s->height_in_pixels};
  TReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      connection_, xcb_get_property(connection_, 0, root_, Atom("_NET_WORKAREA"), XCB_ATOM_CARDINAL, 0, 4), nullptr));
  if (reply && reply->format == 32 && xcb_get_property_value_length(reply.p) >= 16) {
    const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.p));
    area = TWorkArea{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[0] + v[2]),
                     static_cast<int>(v[1] + v[3])};
  }
  return area;
}

std::uint32_t TXcbProgressWindow::ActiveWindow() {
  TReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      connection_, xcb_get_property(connection_, 0, root_, Atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1),
      nullptr));
  if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.p) < 4) return 0;
  return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.p));
}

bool TXcbProgressWindow::Create(const std::string& title, const std::string& className, const TProgressGeometry& g) {
  xcb_screen_t* s = ScreenOf(connection_, screenNumber_);
  const xcb_window_t w = xcb_generate_id(connection_);
  const std::uint32_t values[] = {s->white_pixel, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS |
                                                      XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
  xcb_void_cookie_t made = xcb_create_window_checked(
      connection_, XCB_COPY_FROM_PARENT, w, root_, static_cast<std::int16_t>(g.left), static_cast<std::int16_t>(g.top),
      static_cast<std::uint16_t>(g.width), static_cast<std::uint16_t>(g.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
      s->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
  if (xcb_generic_error_t* error = xcb_request_check(connection_, made)) {
    std::free(error);
    return false;
  }
  window_ = w;

  SetProperty(connection_, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(title.size()),
              title.data());
  SetProperty(connection_, w, Atom("_NET_WM_NAME"), Atom("UTF8_STRING"), 8, static_cast<std::uint32_t>(title.size()),
              title.data());
  const std::string wmClass = className + '\0' + className + '\0';
  SetProperty(connection_, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(wmClass.size()),
              wmClass.data());
  // The window stays when asked to close: the close request is delivered to
  // us instead of ending the connection.
  SetProperty(connection_, w, protocolsAtom_, XCB_ATOM_ATOM, 32, 1, &deleteAtom_);
  const std::uint32_t type = Atom("_NET_WM_WINDOW_TYPE_UTILITY");
  SetProperty(connection_, w, Atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &type);
  const std::uint32_t state[] = {Atom("_NET_WM_STATE_ABOVE"), Atom("_NET_WM_STATE_SKIP_TASKBAR")};
  SetProperty(connection_, w, Atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2, state);
  const std::uint32_t motif[] = {2 /* decorations given */, 0, 0 /* none */, 0, 0};
  const std::uint32_t motifAtom = Atom("_MOTIF_WM_HINTS");
  SetProperty(connection_, w, motifAtom, motifAtom, 32, 5, motif);
  const std::uint32_t hints[9] = {1 /* input */, 1};
  SetProperty(connection_, w, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
  SetSizeHints(g);

  const std::uint32_t gcValues[] = {0};
  gc_ = xcb_generate_id(connection_);
  xcb_create_gc(connection_, gc_, w, XCB_GC_GRAPHICS_EXPOSURES, gcValues);
  xcb_flush(connection_);
  return true;
}

void TXcbProgressWindow::SetSizeHints(const TProgressGeometry& g) {
  // Position and size chosen by the program, fixed size.
  std::uint32_t hints[18] = {};
  hints[0] = 1 | 2 | 4 | 8 | 16 | 32;
  hints[1] = static_cast<std::uint32_t>(g.left);
  hints[2] = static_cast<std::uint32_t>(g.top);
  hints[3] = hints[5] = hints[7] = static_cast<std::uint32_t>(g.width);
  hints[4] = hints[6] = hints[8] = static_cast<std::uint32_t>(g.height);
  SetProperty(connection_, window_, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
}

void TXcbProgressWindow::MoveAndShow(const TProgressGeometry& g) {
  if (!window_) return;
  SetSizeHints(g);
  const std::uint32_t values[] = {static_cast<std::uint32_t>(g.left), static_cast<std::uint32_t>(g.top),
                                  static_cast<std::uint32_t>(g.width), static_cast<std::uint32_t>(g.height),
                                  XCB_STACK_MODE_ABOVE};
  xcb_configure_window(connection_, window_,
                       XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT |
                           XCB_CONFIG_WINDOW_STACK_MODE,
                       values);
  xcb_map_window(connection_, window_);
  xcb_flush(connection_);
}

void TXcbProgressWindow::Hide() {
  if (!window_) return;
  xcb_unmap_window(connection_, window_);
  xcb_flush(connection_);
}

void TXcbProgressWindow::Destroy() {
  if (!window_) return;
  xcb_free_gc(connection_, gc_);
  xcb_destroy_window(connection_, window_);
  xcb_flush(connection_);
  window_ = 0;
  gc_ = 0;
}

void TXcbProgressWindow::Put(const std::uint32_t* pixels, int width, int height, int stride) {
  if (!window_ || !canPut_ || width <= 0 || height <= 0) return;
  const std::uint32_t rowBytes = static_cast<std::uint32_t>(width) * 4;
  // A request holds at most maxRequestBytes_: send the frame in bands of rows.
  const int rowsPerRequest = std::max<int>(1, static_cast<int>((maxRequestBytes_ - 64) / rowBytes));
  std::vector<std::uint32_t> band;
  for (int y = 0; y < height; y += rowsPerRequest) {
    const int rows = std::min(rowsPerRequest, height - y);
    band.resize(static_cast<std::size_t>(rows) * width);
    for (int r = 0; r < rows; ++r) {
      const std::uint32_t* src = pixels + static_cast<std::size_t>(y + r) * stride;
      std::uint32_t* dst = band.data() + static_cast<std::size_t>(r) * width;
      if (swapBytes_) {
        for (int x = 0; x < width; ++x) dst[x] = __builtin_bswap32(src[x]);
      } else {
        std::memcpy(dst, src, rowBytes);
      }
    }
    xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, static_cast<std::uint16_t>(width),
                  static_cast<std::uint16_t>(rows), 0, static_cast<std::int16_t>(y), 0, depth_,
                  static_cast<std::uint32_t>(band.size() * 4), reinterpret_cast<const std::uint8_t*>(band.data()));
  }
  xcb_flush(connection_);
}

bool TXcbProgressWindow::NextEvent(TProgressWindowEvent& out) {
  while (xcb_generic_event_t* e = xcb_poll_for_event(connection_)) {
    const std::uint8_t type = e->response_type & 0x7f;
    bool wanted = false;
    switch (type) {
      case XCB_KEY_PRESS: {
        const auto* k = reinterpret_cast<xcb_key_press_event_t*>(e);
        out = TProgressWindowEvent{TProgressWindowEvent::Key, 0, 0, 0};
        const int index = (k->detail - minKeycode_) * keysymsPerKeycode_;
        if (keysyms_ && k->detail >= minKeycode_ && k->detail - minKeycode_ < keycodeCount_)
          out.KeySym = keysyms_[static_cast<std::size_t>(index)];
        wanted = true;
        break;
      }
      case XCB_BUTTON_PRESS: {
        const auto* b = reinterpret_cast<xcb_button_press_event_t*>(e);
        if (b->detail == 1) {
          out = TProgressWindowEvent{TProgressWindowEvent::Click, 0, b->event_x, b->event_y};
          wanted = true;
        }
        break;
      }
      case XCB_EXPOSE:
        if (reinterpret_cast<xcb_expose_event_t*>(e)->count == 0) {
          out = TProgressWindowEvent{TProgressWindowEvent::Expose, 0, 0, 0};
          wanted = true;
        }
        break;
      case XCB_CLIENT_MESSAGE: {
        const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
        if (m->type == protocolsAtom_ && m->format == 32 && m->data.data32[0] == deleteAtom_) {
          out = TProgressWindowEvent{TProgressWindowEvent::CloseRequest, 0, 0, 0};
          wanted = true;
        }
        break;
      }
      case XCB_DESTROY_NOTIFY:
        if (reinterpret_cast<xcb_destroy_notify_event_t*>(e)->window == window_) {
          out = TProgressWindowEvent{TProgressWindowEvent::Destroyed, 0, 0, 0};
          wanted = true;
        }
        break;
      default: break;
    }
    std::free(e);
    if (wanted) return true;
  }
  return false;
}

std::uint8_t XcbKeycodeOf(xcb_connection_t* c, std::uint32_t keysym) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  const int count = setup->max_keycode - setup->min_keycode + 1;
  TReply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
      c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr));
  if (!map) return 0;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.p);
  for (int k = 0; k < count; ++k)
    if (syms[k * map->keysyms_per_keycode] == keysym) return static_cast<std::uint8_t>(setup->min_keycode + k);
  return 0;
}

std::vector<std::uint32_t> XcbFindWindowsByName(xcb_connection_t* c, const std::string& title) {
  std::vector<std::uint32_t> found;
  xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  TReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, s->root), nullptr));
  if (!tree) return found;
  const xcb_window_t* children = xcb_query_tree_children(tree.p);
  for (int i = 0; i < xcb_query_tree_children_length(tree.p); ++i)
    if (WindowName(c, children[i]) == title) found.push_back(children[i]);
  return found;
}

}  // namespace selvo
