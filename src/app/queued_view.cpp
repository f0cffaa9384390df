#include "app/queued_view.hpp"

#include <atomic>
#include <memory>
#include <utility>

namespace zelvor {

// An error box a job waits for. Shared by the job and the queued call, since
// either may be done with it first.
struct QueuedView::BoxRequest {
  explicit BoxRequest(std::string text) : text(std::move(text)) {}
  const std::string text;
  // Guarded by boxLock_.
  bool closed = false;
  // Cleared when the job stops waiting: a box nobody waits for is not shown.
  std::atomic<bool> awaited{true};
};

// Tells the waiting job that its box is over, however the showing ended.
class QueuedView::BoxClosing {
 public:
  BoxClosing(QueuedView& view, BoxRequest& request) noexcept : view_(view), request_(request) {}
  ~BoxClosing() { view_.boxClosed(request_); }
  BoxClosing(const BoxClosing&) = delete;
  BoxClosing& operator=(const BoxClosing&) = delete;

 private:
  QueuedView& view_;
  BoxRequest& request_;
};

QueuedView::QueuedView(Window window, kelvo::Event& stop)
    : target_(window.target),
      isWindowThread_(std::move(window.isWindowThread)),
      quitForJob_(std::move(window.quitForJob)),
      stop_(stop),
      calls_(std::move(window.wake)) {}

void QueuedView::setStatusText(const std::string& text) {
  calls_.post([this, text] { target_.setStatusText(text); });
}

void QueuedView::setProgressPosition(int position) {
  calls_.post([this, position] { target_.setProgressPosition(position); });
}

void QueuedView::setProgressVisible(bool visible) {
  calls_.post([this, visible] { target_.setProgressVisible(visible); });
}

void QueuedView::setBusyCursor(bool busy) {
  calls_.post([this, busy] { target_.setBusyCursor(busy); });
}

void QueuedView::setClassListEnabled(bool enabled) {
  calls_.post([this, enabled] { target_.setClassListEnabled(enabled); });
}

void QueuedView::setGoEnabled(bool enabled) {
  calls_.post([this, enabled] { target_.setGoEnabled(enabled); });
}

void QueuedView::clearClasses() {
  calls_.post([this] { target_.clearClasses(); });
}

void QueuedView::addClasses(const std::vector<std::string>& names) {
  calls_.post([this, names] { target_.addClasses(names); });
}

void QueuedView::selectClass(int position) {
  calls_.post([this, position] { target_.selectClass(position); });
}

int QueuedView::selectedClass() { return target_.selectedClass(); }

void QueuedView::startProgressTimer() {
  calls_.post([this] { target_.startProgressTimer(); });
}

void QueuedView::stopProgressTimer() {
  calls_.post([this] { target_.stopProgressTimer(); });
}

void QueuedView::showError(const std::string& text) {
  if (isWindowThread_()) {
    if (!calls_.closed()) target_.showError(text);
    return;
  }
  const auto request = std::make_shared<BoxRequest>(text);
  // A call dropped because the loop is over finds loopOver_ set.
  calls_.post([this, request] {
    const BoxClosing closing(*this, *request);
    if (request->awaited.load()) target_.showError(request->text);
  });
  std::unique_lock lock(boxLock_);
  boxClosed_.wait(lock, [&] { return request->closed || loopOver_; });
  request->awaited.store(false);
}

void QueuedView::hideAndQuit(int exitCode) {
  if (isWindowThread_()) {
    target_.hideAndQuit(exitCode);
    return;
  }
  const int code = stop_.isSet() ? 0 : exitCode;
  calls_.post([this, code] { quitForJob_(code); });
}

void QueuedView::deliverQueued() { calls_.runQueued(); }

void QueuedView::endLoop() {
  {
    const std::lock_guard lock(boxLock_);
    loopOver_ = true;
  }
  boxClosed_.notify_all();
  calls_.close();
}

void QueuedView::boxClosed(BoxRequest& request) {
  {
    const std::lock_guard lock(boxLock_);
    request.closed = true;
  }
  boxClosed_.notify_all();
}

}  // namespace zelvor
