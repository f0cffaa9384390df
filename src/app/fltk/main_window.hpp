// The program's one window: the picture, the class list, Go and Exit laid
// over it, and the status bar with its progress bar at the foot.
//
// Threading contract: every widget belongs to the window's thread, the one
// that runs the FLTK loop. That thread calls Fl::lock() once, before any
// other thread starts, so that Fl::awake works. Job threads never touch
// widgets, nor any member of MainWindow but selectedClass(): they hand their
// work to the window's thread with Fl::awake(callback, data), which is what
// FltkView does for them. So each member below, bar selectedClass(), is for
// the window's thread only.
#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_RGB_Image.H>

#include <atomic>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/bmp_image.hpp"
#include "app/view.hpp"

namespace zelvor {

class MainWindow : public Fl_Double_Window, public View {
 public:
  // The controls whose hints the status bar shows.
  enum class Control { none, classList, go, exit };

  // What the window asks of the program, always on the window's thread.
  struct Handlers {
    // The Go button and Alt+G (even while Go is disabled).
    std::function<void()> go;
    // The Exit button, Alt+X and the close box.
    std::function<void()> exit;
    // The mouse moved onto another control, or onto none.
    std::function<void(Control)> hover;
    // Every 250 ms while the progress timer runs.
    std::function<void()> progressTick;
  };

  // The client area's parts, in pixels.
  static constexpr int pictureWidth = 341;
  static constexpr int pictureHeight = 163;
  static constexpr int statusHeight = 20;
  static constexpr double tickSeconds = 0.25;

  // `picture` is the backdrop, `icon` the window's icon (depth 4), or an
  // empty image for none. Placed with its client area's corner at (x, y).
  MainWindow(int x, int y, const std::string& title, DecodedImage picture, DecodedImage icon,
             Handlers handlers);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Who asked the loop to end, and with what exit code.
  struct Quit {
    enum class By { window, job };
    By by;
    int exitCode;
  };

  // The View, for the window's thread. Once a quit has run, showError shows
  // no more boxes.
  void setStatusText(const std::string& text) override;
  void setProgressPosition(int position) override;
  void setProgressVisible(bool visible) override;
  void setBusyCursor(bool busy) override;
  void setClassListEnabled(bool enabled) override;
  void setGoEnabled(bool enabled) override;
  void clearClasses() override;
  void addClasses(const std::vector<std::string>& names) override;
  // An out-of-range position leaves the selection as it is.
  void selectClass(int position) override;
  // The selected position, or -1; the one member any thread may call. Kept
  // up to date by the window's thread whenever the selection changes.
  int selectedClass() override { return selection_.load(); }
  void startProgressTimer() override;
  void stopProgressTimer() override;
  void showError(const std::string& text) override;
  // The window's own quit (the user closed it), which overrides a job's.
  void hideAndQuit(int exitCode) override;
  // A job's quit, handed over by FltkView; it does not override the
  // window's own.
  void quitForJob(int exitCode);
  // The quit that has run, if any.
  const std::optional<Quit>& quit() const noexcept { return quit_; }

  // The modal error box captioned "Error", also before any window exists.
  static void showErrorBox(const std::string& text);

  // Where the window is (or was, when hidden through hideWindow), in the
  // terms the constructor takes: FLTK places a window by the corner of its
  // client area, asking the window manager for static gravity, so this is
  // that corner too and a saved position comes back unmoved.
  std::pair<int, int> clientPosition();
  // Hides the window, remembering its place for clientPosition().
  void hideWindow();

  int handle(int event) override;

 private:
  static void onClose(Fl_Widget* widget, void* window);
  static void onGo(Fl_Widget* widget, void* window);
  static void onExit(Fl_Widget* widget, void* window);
  static void onChoice(Fl_Widget* widget, void* window);
  static void onTick(void* window);

  // The control under the mouse, at window coordinates; a disabled control
  // does not count, as it takes no mouse input.
  Control controlAt(int x, int y) const;
  void trackHover(Control control);
  int classCount() const { return static_cast<int>(labels_.size()); }
  void rebuildMenu();

  Handlers handlers_;
  DecodedImage picturePixels_;
  DecodedImage iconPixels_;
  Fl_RGB_Image pictureImage_;
  Fl_RGB_Image iconImage_;
  // The children, in drawing order; the window's group holds them but does
  // not delete them, since they are members (see the destructor).
  Fl_Box picture_;
  Fl_Choice classList_;
  Fl_Button go_;
  Fl_Button exit_;
  Fl_Box status_;
  Fl_Progress progress_;
  // The list's menu, built from our own labels so that FLTK reads no menu
  // syntax ('/', '_', '\\') into a class name.
  std::deque<std::string> labels_;
  std::vector<Fl_Menu_Item> menu_;
  std::atomic<int> selection_{-1};
  Control hovered_ = Control::none;
  bool timerRunning_ = false;
  std::pair<int, int> lastPosition_;
  std::optional<Quit> quit_;
};

}  // namespace zelvor
