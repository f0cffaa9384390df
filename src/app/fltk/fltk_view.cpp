// Carrying View calls over to the window's thread, the blocking error box,
// and the loop that also ends on the stop event.
#include "app/fltk/fltk_view.hpp"

#include <FL/Fl.H>
#include <FL/fl_ask.H>

#include <memory>
#include <utility>

namespace zelvor {

FltkView::FltkView(MainWindow& window)
    : window_(window),
      windowThread_(std::this_thread::get_id()),
      calls_([this] { return Fl::awake(runQueued, this) == 0; }) {}

void FltkView::setStatusText(const std::string& text) {
  calls_.post([this, text] { window_.setStatusText(text); });
}

void FltkView::setProgressPosition(int position) {
  calls_.post([this, position] { window_.setProgressPosition(position); });
}

void FltkView::setProgressVisible(bool visible) {
  calls_.post([this, visible] { window_.setProgressVisible(visible); });
}

void FltkView::setBusyCursor(bool busy) {
  calls_.post([this, busy] { window_.setBusyCursor(busy); });
}

void FltkView::setClassListEnabled(bool enabled) {
  calls_.post([this, enabled] { window_.setClassListEnabled(enabled); });
}

void FltkView::setGoEnabled(bool enabled) {
  calls_.post([this, enabled] { window_.setGoEnabled(enabled); });
}

void FltkView::clearClasses() {
  calls_.post([this] { window_.clearClasses(); });
}

void FltkView::addClasses(const std::vector<std::string>& names) {
  calls_.post([this, names] { window_.addClasses(names); });
}

void FltkView::selectClass(int position) {
  calls_.post([this, position] { window_.selectClass(position); });
}

int FltkView::selectedClass() { return window_.selectionCopy(); }

void FltkView::startProgressTimer() {
  calls_.post([this] { window_.startProgressTimer(); });
}

void FltkView::stopProgressTimer() {
  calls_.post([this] { window_.stopProgressTimer(); });
}

void FltkView::showError(const std::string& text) {
  if (quitting_.load() || loopOver_.load()) return;
  if (onWindowThread()) {
    showErrorBox(text);
    return;
  }
  auto closed = std::make_shared<bool>(false);
  const bool posted = calls_.post([this, text, closed] {
    if (!quitting_.load()) showErrorBox(text);
    {
      std::lock_guard lock(boxLock_);
      *closed = true;
    }
    boxClosed_.notify_all();
  });
  if (!posted) return;
  std::unique_lock lock(boxLock_);
  boxClosed_.wait(lock, [&] { return *closed || loopOver_.load(); });
}

void FltkView::hideAndQuit(int exitCode) {
  if (onWindowThread()) {
    quitting_.store(true);
    window_.hideWindow();
    quitHere_ = true;
    quitHereCode_ = exitCode;
    return;
  }
  calls_.post([this, exitCode] {
    quitting_.store(true);
    window_.hideWindow();
    quitPosted_ = true;
    quitPostedCode_ = exitCode;
  });
}

int FltkView::run(kelvo::Event& stop) {
  for (;;) {
    if (quitHere_) return quitHereCode_;
    if (stop.isSet()) return 0;
    if (quitPosted_) return quitPostedCode_;
    // No time-out: an idle window wakes nobody. Whoever sets the stop event
    // also posts the hideAndQuit that wakes this wait.
    Fl::wait(waitForever);
  }
}

void FltkView::endLoop() {
  quitting_.store(true);
  {
    std::lock_guard lock(boxLock_);
    loopOver_.store(true);
  }
  boxClosed_.notify_all();
  calls_.close();
}

void FltkView::runQueued(void* view) { static_cast<FltkView*>(view)->calls_.runQueued(); }

void FltkView::showErrorBox(const std::string& text) {
  fl_message_title("Error");
  fl_alert("%s", text.c_str());
}

}  // namespace zelvor
