// Carrying View calls over to the window's thread, the blocking error box,
// and the loop that also ends on the stop event.
#include "app/fltk/fltk_view.hpp"

#include <FL/Fl.H>
#include <FL/fl_ask.H>

#include <chrono>
#include <memory>

namespace zelvor {

namespace {
// FLTK's queue of awake calls has a fixed size. A job finding it full waits
// a little for the window's thread to drain it, but not for ever.
constexpr int postAttempts = 100;
constexpr auto postRetryDelay = std::chrono::milliseconds(10);
}  // namespace

FltkView::FltkView(MainWindow& window)
    : window_(window), windowThread_(std::this_thread::get_id()) {}

void FltkView::setStatusText(const std::string& text) {
  post([this, text] { window_.setStatusText(text); });
}

void FltkView::setProgressPosition(int position) {
  post([this, position] { window_.setProgressPosition(position); });
}

void FltkView::setProgressVisible(bool visible) {
  post([this, visible] { window_.setProgressVisible(visible); });
}

void FltkView::setBusyCursor(bool busy) {
  post([this, busy] { window_.setBusyCursor(busy); });
}

void FltkView::setClassListEnabled(bool enabled) {
  post([this, enabled] { window_.setClassListEnabled(enabled); });
}

void FltkView::setGoEnabled(bool enabled) {
  post([this, enabled] { window_.setGoEnabled(enabled); });
}

void FltkView::clearClasses() {
  post([this] { window_.clearClasses(); });
}

void FltkView::addClass(const std::string& name) {
  post([this, name] { window_.addClass(name); });
}

void FltkView::selectClass(int position) {
  post([this, position] { window_.selectClass(position); });
}

int FltkView::selectedClass() { return window_.selectionCopy(); }

void FltkView::startProgressTimer() {
  post([this] { window_.startProgressTimer(); });
}

void FltkView::stopProgressTimer() {
  post([this] { window_.stopProgressTimer(); });
}

void FltkView::showError(const std::string& text) {
  if (quitting_.load() || loopOver_.load()) return;
  if (onWindowThread()) {
    showErrorBox(text);
    return;
  }
  auto closed = std::make_shared<bool>(false);
  const bool posted = post([this, text, closed] {
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
  post([this, exitCode] {
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
}

// The window's own thread could wait for ever on a full queue it alone
// drains, so there the work is simply done at once.
bool FltkView::post(std::function<void()> work) {
  if (loopOver_.load()) return false;
  auto job = std::make_unique<std::function<void()>>(std::move(work));
  for (int attempt = 1;; ++attempt) {
    if (Fl::awake(runPosted, job.get()) == 0) {
      // runPosted owns it from here.
      static_cast<void>(job.release());
      return true;
    }
    if (onWindowThread()) {
      (*job)();
      return true;
    }
    if (attempt == postAttempts || loopOver_.load()) return false;
    std::this_thread::sleep_for(postRetryDelay);
  }
}

void FltkView::runPosted(void* work) {
  const std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(work));
  (*job)();
}

void FltkView::showErrorBox(const std::string& text) {
  fl_message_title("Error");
  fl_alert("%s", text.c_str());
}

}  // namespace zelvor
