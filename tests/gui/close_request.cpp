// zelvor_close_request WINDOW: asks an X window to close the way a window
// manager's close box does, with a WM_DELETE_WINDOW message. xdotool can only
// destroy a window, which no program ever sees as a close request.
//
// Exits 0 once the message is sent, 1 when the window does not take
// WM_DELETE_WINDOW (a window manager would then destroy it), 2 on bad use or
// when the display cannot be opened.
#include <X11/Xlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace zelvor::test {

namespace {

// The connection to the display named by $DISPLAY.
class DisplayConnection {
 public:
  DisplayConnection() : display_(XOpenDisplay(nullptr)) {}
  ~DisplayConnection() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  DisplayConnection(const DisplayConnection&) = delete;
  DisplayConnection& operator=(const DisplayConnection&) = delete;

  Display* get() const noexcept { return display_; }

 private:
  Display* display_;
};

// The list XGetWMProtocols hands out.
class ProtocolList {
 public:
  ProtocolList(Display* display, Window window) {
    if (XGetWMProtocols(display, window, &atoms_, &count_) == 0) {
      atoms_ = nullptr;
      count_ = 0;
    }
  }
  ~ProtocolList() {
    if (atoms_ != nullptr) XFree(atoms_);
  }
  ProtocolList(const ProtocolList&) = delete;
  ProtocolList& operator=(const ProtocolList&) = delete;

  bool contains(Atom atom) const noexcept {
    for (int i = 0; i < count_; ++i) {
      if (atoms_[i] == atom) return true;
    }
    return false;
  }

 private:
  Atom* atoms_ = nullptr;
  int count_ = 0;
};

bool parseWindow(const char* text, Window& window) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || value == 0) return false;
  window = value;
  return true;
}

int run(int argc, char** argv) {
  Window window = 0;
  if (argc != 2 || !parseWindow(argv[1], window)) {
    std::fprintf(stderr, "usage: zelvor_close_request WINDOW-ID\n");
    return 2;
  }
  const DisplayConnection connection;
  Display* const display = connection.get();
  if (display == nullptr) {
    std::fprintf(stderr, "zelvor_close_request: cannot open the display\n");
    return 2;
  }
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  if (!ProtocolList(display, window).contains(deleteWindow)) {
    std::fprintf(stderr, "zelvor_close_request: window 0x%lx does not take WM_DELETE_WINDOW\n",
                 window);
    return 1;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = protocols;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(deleteWindow);
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  return 0;
}

}  // namespace

}  // namespace zelvor::test

int main(int argc, char** argv) { return zelvor::test::run(argc, argv); }
