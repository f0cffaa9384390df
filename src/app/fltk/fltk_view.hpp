// The View of the FLTK window for every thread, and the loop that serves it:
// a QueuedView (app/queued_view.hpp holds the threading contract) whose
// wake-up is Fl::awake, so FLTK's fixed-size queue of awake calls carries
// only wake-ups and never loses a call. run, endLoop and the constructor
// belong to the window's thread.
#pragma once

#include <optional>

#include "app/fltk/main_window.hpp"
#include "app/queued_view.hpp"
#include "support/sync.hpp"

namespace zelvor {

class FltkView final : public QueuedView {
 public:
  // Made on the window's thread, which it then serves. `stop` is the
  // program's stop event.
  FltkView(MainWindow& window, kelvo::Event& stop);

  // Runs the FLTK loop until the window quits or `stop` is set, and gives
  // the exit code by loopExitCode. The loop looks at `stop` whenever it
  // wakes; it sleeps without a time-out, so a job that sets `stop` must then
  // call a View member (the workflow calls hideAndQuit) to wake it.
  int run();

  // The exit code once the loop is to end: that of the window's own quit
  // (the user closed the window); else 0 when the stop event is set, whether
  // or not a job's quit came first; else the code of a job's quit.
  static std::optional<int> loopExitCode(const std::optional<MainWindow::Quit>& quit, bool stopSet);

  // FLTK's own word for a wait without a time-out.
  static constexpr double waitForever = 1e20;

 private:
  static void deliver(void* view);

  MainWindow& window_;
  kelvo::Event& stop_;
};

}  // namespace zelvor
