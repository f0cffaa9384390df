// The program's one window: the picture as background, the class list, Go
// and Exit, and the status bar with the progress bar inside it.
//
// Threading contract: the window, its controls, the picture and the font
// belong to the thread that made the MainWindow, which also runs its loop.
// Every member is for that thread only, except selectedClass and jobView,
// which any thread may call. Job threads reach the window through jobView,
// which queues their calls for this thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "app/view.hpp"
#include "app/win32/backdrop_image.hpp"
#include "app/win32/gdi_object.hpp"
#include "app/win32/owned_window.hpp"
#include "app/win32/win32_view.hpp"
#include "app/win32/window_class.hpp"
#include "app/win32/window_input.hpp"
#include "support/sync.hpp"

namespace zelvor {

class MainWindow final : public View {
 public:
  // What the window asks of the program, on the window's thread.
  class Listener {
   public:
    virtual ~Listener() = default;
    // Go: the Go button or Alt+G (also while Go is disabled). Exit: the Exit
    // button, Alt+X, or closing the window.
    virtual void onCommand(Command command) = 0;
    // The mouse moved onto another control, or onto the background.
    virtual void onHover(Control control) = 0;
    // Every 250 ms while the progress timer runs.
    virtual void onProgressTick() = 0;
  };

  // A caption with the system menu and a minimize box; no sizing border, so
  // no maximising either.
  static constexpr DWORD windowStyle =
      WS_POPUP | WS_BORDER | WS_DLGFRAME | WS_SYSMENU | WS_MINIMIZEBOX;
  static constexpr int outerWidth = 347;
  static constexpr int outerHeight = 206;
  static constexpr int pictureId = 151;
  static constexpr int iconId = 101;
  static constexpr UINT tickMs = 250;

  // Registers the window class named `title` and makes the window, titled
  // `title`, at (x, y), hidden, with its controls in the busy look. `stop` is
  // the program's stop event. Throws a Failure when any part cannot be made,
  // except the picture (see BackdropImage).
  MainWindow(HINSTANCE module, const std::string& title, int x, int y, Listener& listener,
             kelvo::Event& stop);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // The window of an instance already running: shown (a minimised one stays
  // minimised) and brought to the front. False when there is none.
  static bool raiseRunning(const std::string& title);

  HWND handle() const noexcept { return window_.get(); }
  // The View for every thread, which hands the calls to this window.
  Win32View& jobView() noexcept { return jobView_; }
  void show();
  // The first failure that handling a message threw (in the window's
  // procedure or the hint hook), which also ended the loop with a quit
  // message; none while all went well.
  const std::optional<std::string>& failure() const noexcept { return failure_; }
  // Where the window is, or would be when restored from a minimised state;
  // none when that cannot be read.
  std::optional<POINT> restoredPosition() const;
  // The error box, owned by the window, also once it is hidden and its loop
  // is over.
  void showErrorBox(const std::string& text);

  // The View, for the window's thread. selectedClass answers on any thread.
  // Once hideAndQuit has run, showError shows no more boxes.
  void setStatusText(const std::string& text) override;
  void setProgressPosition(int position) override;
  void setProgressVisible(bool visible) override;
  void setBusyCursor(bool busy) override;
  void setClassListEnabled(bool enabled) override;
  void setGoEnabled(bool enabled) override;
  void clearClasses() override;
  void addClasses(const std::vector<std::string>& names) override;
  void selectClass(int position) override;
  int selectedClass() override { return selection_.load(); }
  void startProgressTimer() override;
  void stopProgressTimer() override;
  void showError(const std::string& text) override;
  void hideAndQuit(int exitCode) override;

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK hintHook(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
  static MainWindow* owning(HWND window) noexcept;
  void recordFailure();

  HWND create(HINSTANCE module, const std::string& title, int x, int y);
  void buildControls(HINSTANCE module);
  LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void eraseBackground(HDC target);
  void onCommandFrom(HWND sender, WORD notification);
  void hover(HWND window);
  Control controlOf(HWND window) const noexcept;
  void readSelection();

  Listener& listener_;
  WindowClass class_;
  BackdropImage backdrop_;
  GdiObject font_;
  // Destroyed before the picture, the font and the class it uses.
  OwnedWindow window_;
  // Served from the loop only, which runs once the window is whole.
  Win32View jobView_;
  // The controls, destroyed with the window.
  HWND status_ = nullptr;
  HWND progress_ = nullptr;
  HWND classList_ = nullptr;
  HWND go_ = nullptr;
  HWND exit_ = nullptr;
  HCURSOR cursor_ = nullptr;
  // The picture's extent: the window's outer size, measured at the first
  // erase.
  int extentWidth_ = 0;
  int extentHeight_ = 0;
  HoverTracker hovered_;
  std::atomic<int> selection_{-1};
  bool quitting_ = false;
  std::optional<std::string> failure_;
};

}  // namespace zelvor
