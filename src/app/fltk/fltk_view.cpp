#include "app/fltk/fltk_view.hpp"

#include <FL/Fl.H>

#include <thread>

namespace zelvor {

FltkView::FltkView(MainWindow& window, kelvo::Event& stop)
    : QueuedView({.target = window,
                  .wake = [this] { return Fl::awake(deliver, this) == 0; },
                  .isWindowThread =
                      [thread = std::this_thread::get_id()] {
                        return std::this_thread::get_id() == thread;
                      },
                  .quitForJob = [&window](int exitCode) { window.quitForJob(exitCode); }},
                 stop),
      window_(window),
      stop_(stop) {}

int FltkView::run() {
  for (;;) {
    if (const std::optional<int> exitCode = loopExitCode(window_.quit(), stop_.isSet())) {
      return *exitCode;
    }
    // No time-out: an idle window wakes nobody. Whoever sets the stop event
    // also posts the hideAndQuit that wakes this wait.
    Fl::wait(waitForever);
  }
}

std::optional<int> FltkView::loopExitCode(const std::optional<MainWindow::Quit>& quit,
                                          bool stopSet) {
  using By = MainWindow::Quit::By;
  if (quit && quit->by == By::window) return quit->exitCode;
  if (stopSet) return 0;
  if (quit) return quit->exitCode;
  return std::nullopt;
}

void FltkView::deliver(void* view) { static_cast<FltkView*>(view)->deliverQueued(); }

}  // namespace zelvor
