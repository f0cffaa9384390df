#include "app/win32/main_window.hpp"

#include <commctrl.h>

#include "app/failure_text.hpp"
#include "support/failure.hpp"

namespace zelvor {

namespace {

// The controls' places in the window's client area; the picture leaves room
// for them. The list's height includes its dropped-down part.
constexpr RECT classListRect = {89, 87, 326, 240};
constexpr int goX = 168;
constexpr int exitX = 248;
constexpr int buttonY = 126;
constexpr int buttonWidth = 78;
constexpr int buttonHeight = 26;

constexpr const char* buttonFontFace = "MS Sans Serif";
constexpr int buttonFontHeight = -13;
constexpr const char* statusWindowFailure = "Error Initializing status-window";
constexpr const char* errorCaption = "Error";
constexpr UINT_PTR progressTimerId = 1;

HGDIOBJ createButtonFont() {
  const HFONT font = CreateFontA(buttonFontHeight, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE,
                                 ANSI_CHARSET, 0, 0, 0, 0, buttonFontFace);
  if (font == nullptr) throw kelvo::Failure::lastError();
  return font;
}

WNDCLASSA describeClass(HINSTANCE module, const std::string& title, WNDPROC procedure) {
  WNDCLASSA description{};
  description.style = CS_OWNDC;
  description.lpfnWndProc = procedure;
  description.hInstance = module;
  description.hIcon = LoadIconA(module, MAKEINTRESOURCEA(MainWindow::iconId));
  // No class cursor: the window sets its own on every WM_SETCURSOR.
  description.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
  description.lpszClassName = title.c_str();
  return description;
}

// A child control, visible. With a hook, the hook becomes its window
// procedure and the one it replaced is kept in its GWLP_USERDATA.
HWND createChild(HINSTANCE module, HWND parent, const char* className, const char* text,
                 DWORD style, const RECT& rect, WNDPROC hook, HGDIOBJ font) {
  const HWND child = CreateWindowExA(0, className, text, style | WS_CHILD | WS_VISIBLE, rect.left,
                                     rect.top, rect.right - rect.left, rect.bottom - rect.top,
                                     parent, nullptr, module, nullptr);
  if (child == nullptr) throw kelvo::Failure::lastError();
  if (hook != nullptr) {
    SetWindowLongPtrA(child, GWLP_USERDATA, GetWindowLongPtrA(child, GWLP_WNDPROC));
    SetWindowLongPtrA(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hook));
  }
  if (font != nullptr) SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return child;
}

}  // namespace

MainWindow::MainWindow(HINSTANCE module, const std::string& title, int x, int y, Listener& listener,
                       kelvo::Event& stop)
    : listener_(listener),
      class_(describeClass(module, title, procedure)),
      backdrop_(module, pictureId),
      font_(createButtonFont()),
      window_(create(module, title, x, y)),
      jobView_(window_.get(), *this, stop) {
  buildControls(module);
}

HWND MainWindow::create(HINSTANCE module, const std::string& title, int x, int y) {
  const HWND window = CreateWindowExA(0, title.c_str(), title.c_str(), windowStyle, x, y,
                                      outerWidth, outerHeight, nullptr, nullptr, module, this);
  if (window == nullptr) throw kelvo::Failure::lastError();
  return window;
}

void MainWindow::buildControls(HINSTANCE module) {
  InitCommonControls();
  const HWND window = window_.get();
  status_ = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | WS_BORDER, "", window, 0);
  if (status_ == nullptr) throw kelvo::Failure(statusWindowFailure);

  // The progress bar covers the status bar's text part but its top line.
  RECT bar{};
  GetClientRect(status_, &bar);
  bar.top += 1;
  progress_ =
      createChild(module, status_, PROGRESS_CLASSA, nullptr, PBS_SMOOTH, bar, nullptr, nullptr);
  ShowWindow(progress_, SW_HIDE);
  SendMessageA(progress_, PBM_SETRANGE, 0, MAKELPARAM(0, progressRange));
  SendMessageA(progress_, PBM_SETPOS, 0, 0);

  // The list keeps the system font; only the buttons get the dialog font.
  classList_ = createChild(module, window, "COMBOBOX", nullptr, CBS_DROPDOWNLIST | CBS_HASSTRINGS,
                           classListRect, hintHook, nullptr);
  const auto buttonAt = [&](const char* text, int left) {
    const RECT rect{left, buttonY, left + buttonWidth, buttonY + buttonHeight};
    return createChild(module, window, "BUTTON", text, BS_PUSHBUTTON, rect, hintHook, font_.get());
  };
  go_ = buttonAt("&Go", goX);
  exit_ = buttonAt("E&xit", exitX);

  // Busy until the fetch job has filled the list.
  setBusyCursor(true);
  setClassListEnabled(false);
  setGoEnabled(false);
}

bool MainWindow::raiseRunning(const std::string& title) {
  const HWND running = FindWindowA(title.c_str(), nullptr);
  if (running == nullptr) return false;
  ShowWindow(running, SW_SHOW);
  SetForegroundWindow(running);
  return true;
}

void MainWindow::show() { ShowWindow(window_.get(), SW_SHOWNORMAL); }

std::optional<POINT> MainWindow::restoredPosition() const {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(window_.get(), &placement)) return std::nullopt;
  return POINT{placement.rcNormalPosition.left, placement.rcNormalPosition.top};
}

void MainWindow::showErrorBox(const std::string& text) {
  MessageBoxA(window_.get(), text.c_str(), errorCaption, MB_ICONERROR);
}

MainWindow* MainWindow::owning(HWND window) noexcept {
  return reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT CALLBACK MainWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  MainWindow* self = owning(window);
  if (self == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  try {
    return self->handleMessage(window, message, wParam, lParam);
  } catch (...) {
    self->recordFailure();
    return 0;
  }
}

LRESULT CALLBACK MainWindow::hintHook(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND parent = GetParent(control);
  MainWindow* self = owning(parent);
  if (self != nullptr) {
    try {
      if (message == WM_MOUSEMOVE) self->hover(control);
    } catch (...) {
      self->recordFailure();
    }
    // A control with the focus gets the Alt keys; they are the window's,
    // whatever has the focus.
    if (message == WM_SYSCHAR) return SendMessageA(parent, message, wParam, lParam);
  }
  const auto replaced = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(control, GWLP_USERDATA));
  if (replaced == nullptr) return DefWindowProcA(control, message, wParam, lParam);
  return CallWindowProcA(replaced, control, message, wParam, lParam);
}

// Called inside a catch: no exception may unwind through the system's
// dispatching. The first failure ends the loop; the program shows it once
// the loop is over.
void MainWindow::recordFailure() {
  if (!failure_) failure_ = currentFailureText();
  PostQuitMessage(1);
}

LRESULT MainWindow::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case Win32View::wakeMessage:
      jobView_.deliverQueued();
      return 0;
    case WM_CLOSE:
    case WM_DESTROY:
      // Closing only hides the window; the program ends with its loop.
      listener_.onCommand(Command::exit);
      return 0;
    case WM_ERASEBKGND:
      eraseBackground(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_SETCURSOR:
      SetCursor(cursor_);
      return TRUE;
    case WM_SYSCHAR: {
      const Command command = sysCharCommand(wParam);
      if (command != Command::none) listener_.onCommand(command);
      return 0;
    }
    case WM_COMMAND:
      onCommandFrom(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      return 0;
    case WM_TIMER:
      listener_.onProgressTick();
      return 0;
    case WM_MOUSEMOVE:
      hover(window);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

void MainWindow::eraseBackground(HDC target) {
  if (extentWidth_ == 0) {
    RECT outer{};
    GetWindowRect(window_.get(), &outer);
    extentWidth_ = outer.right - outer.left;
    extentHeight_ = outer.bottom - outer.top;
  }
  backdrop_.draw(target, extentWidth_, extentHeight_);
}

// The buttons are told apart by their handles: no control has an id.
void MainWindow::onCommandFrom(HWND sender, WORD notification) {
  if (sender == exit_) {
    listener_.onCommand(Command::exit);
  } else if (sender == go_) {
    listener_.onCommand(Command::go);
  } else if (sender == classList_ && notification == CBN_SELCHANGE) {
    readSelection();
  }
}

void MainWindow::hover(HWND window) {
  if (hovered_.moveTo(window)) listener_.onHover(controlOf(window));
}

Control MainWindow::controlOf(HWND window) const noexcept {
  if (window == go_) return Control::go;
  if (window == exit_) return Control::exit;
  if (window == classList_) return Control::classList;
  return Control::none;
}

void MainWindow::readSelection() {
  selection_.store(static_cast<int>(SendMessageA(classList_, CB_GETCURSEL, 0, 0)));
}

void MainWindow::setStatusText(const std::string& text) {
  SendMessageA(status_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::setProgressPosition(int position) {
  SendMessageA(progress_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void MainWindow::setProgressVisible(bool visible) {
  ShowWindow(progress_, visible ? SW_SHOW : SW_HIDE);
}

// The new cursor shows at the next WM_SETCURSOR, when the mouse next moves.
void MainWindow::setBusyCursor(bool busy) {
  cursor_ = LoadCursorA(nullptr, busy ? IDC_APPSTARTING : IDC_ARROW);
}

void MainWindow::setClassListEnabled(bool enabled) { EnableWindow(classList_, enabled); }

void MainWindow::setGoEnabled(bool enabled) { EnableWindow(go_, enabled); }

void MainWindow::clearClasses() {
  SendMessageA(classList_, CB_RESETCONTENT, 0, 0);
  readSelection();
}

void MainWindow::addClasses(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    SendMessageA(classList_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
}

// A position past the end leaves nothing selected.
void MainWindow::selectClass(int position) {
  SendMessageA(classList_, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
  readSelection();
}

void MainWindow::startProgressTimer() { SetTimer(window_.get(), progressTimerId, tickMs, nullptr); }

void MainWindow::stopProgressTimer() { KillTimer(window_.get(), progressTimerId); }

void MainWindow::showError(const std::string& text) {
  if (!quitting_) showErrorBox(text);
}

void MainWindow::hideAndQuit(int exitCode) {
  quitting_ = true;
  ShowWindow(window_.get(), SW_HIDE);
  PostQuitMessage(exitCode);
}

}  // namespace zelvor
