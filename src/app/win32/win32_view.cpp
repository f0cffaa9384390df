// View calls as queued closures, and the wake message that has the window's
// thread carry them out.
#include "app/win32/win32_view.hpp"

#include <atomic>
#include <memory>
#include <utility>

#include "support/native_event_win32.hpp"

namespace zelvor {

namespace {

// An error box a job waits for. Shared by the job and the queued call, since
// either may be done with it first.
struct BoxRequest {
  explicit BoxRequest(std::string text) : text(std::move(text)) {}
  const std::string text;
  kelvo::Event closed;
  // Cleared when the job stops waiting: a box nobody waits for is not shown.
  std::atomic<bool> awaited{true};
};

// Tells the waiting job that its box is over, however the showing ended.
class BoxClosing {
 public:
  explicit BoxClosing(BoxRequest& request) noexcept : request_(request) {}
  ~BoxClosing() { request_.closed.set(); }
  BoxClosing(const BoxClosing&) = delete;
  BoxClosing& operator=(const BoxClosing&) = delete;

 private:
  BoxRequest& request_;
};

}  // namespace

Win32View::Win32View(HWND window, View& target, kelvo::Event& stop)
    : window_(window), target_(target), stop_(stop), windowThread_(GetCurrentThreadId()) {}

void Win32View::setStatusText(const std::string& text) {
  post([text](View& target) { target.setStatusText(text); });
}

void Win32View::setProgressPosition(int position) {
  post([position](View& target) { target.setProgressPosition(position); });
}

void Win32View::setProgressVisible(bool visible) {
  post([visible](View& target) { target.setProgressVisible(visible); });
}

void Win32View::setBusyCursor(bool busy) {
  post([busy](View& target) { target.setBusyCursor(busy); });
}

void Win32View::setClassListEnabled(bool enabled) {
  post([enabled](View& target) { target.setClassListEnabled(enabled); });
}

void Win32View::setGoEnabled(bool enabled) {
  post([enabled](View& target) { target.setGoEnabled(enabled); });
}

void Win32View::clearClasses() {
  post([](View& target) { target.clearClasses(); });
}

void Win32View::addClasses(const std::vector<std::string>& names) {
  post([names](View& target) { target.addClasses(names); });
}

void Win32View::selectClass(int position) {
  post([position](View& target) { target.selectClass(position); });
}

int Win32View::selectedClass() { return target_.selectedClass(); }

void Win32View::startProgressTimer() {
  post([](View& target) { target.startProgressTimer(); });
}

void Win32View::stopProgressTimer() {
  post([](View& target) { target.stopProgressTimer(); });
}

void Win32View::showError(const std::string& text) {
  if (onWindowThread()) {
    if (!loopIsOver()) target_.showError(text);
    return;
  }
  const auto request = std::make_shared<BoxRequest>(text);
  post([request](View& target) {
    const BoxClosing closing(*request);
    if (request->awaited.load()) target.showError(request->text);
  });
  // A call dropped because the loop is over finds loopEnded_ set already.
  HANDLE ends[] = {kelvo::nativeHandle(request->closed), kelvo::nativeHandle(loopEnded_)};
  WaitForMultipleObjects(2, ends, FALSE, INFINITE);
  request->awaited.store(false);
}

void Win32View::hideAndQuit(int exitCode) {
  if (onWindowThread()) {
    target_.hideAndQuit(exitCode);
    return;
  }
  const int code = stop_.isSet() ? 0 : exitCode;
  post([code](View& target) { target.hideAndQuit(code); });
}

// One call at a time rather than the whole queue at once: a call that shows
// a box runs the box's own loop, which must carry on with the calls behind
// it, and in their order.
void Win32View::deliverQueued() {
  {
    const std::lock_guard lock(mutex_);
    wakePending_ = false;
  }
  Call call;
  while (takeNext(call)) call(target_);
}

void Win32View::endLoop() {
  // Declared first, so that the dropped calls are freed after the lock is
  // released.
  std::deque<Call> dropped;
  const std::lock_guard lock(mutex_);
  loopOver_ = true;
  loopEnded_.set();
  dropped.swap(calls_);
}

bool Win32View::onWindowThread() const noexcept { return GetCurrentThreadId() == windowThread_; }

bool Win32View::loopIsOver() {
  const std::lock_guard lock(mutex_);
  return loopOver_;
}

void Win32View::post(Call call) {
  const std::lock_guard lock(mutex_);
  if (loopOver_) return;
  calls_.push_back(std::move(call));
  wakeLocked();
}

// Wakes the window again while calls remain, so that a box opened by this
// call does not hold back the ones behind it.
bool Win32View::takeNext(Call& call) {
  const std::lock_guard lock(mutex_);
  if (calls_.empty()) return false;
  call = std::move(calls_.front());
  calls_.pop_front();
  if (!calls_.empty()) wakeLocked();
  return true;
}

// PostMessageA neither waits for the window's thread nor sends it anything
// at once, so it is safe under the lock.
void Win32View::wakeLocked() noexcept {
  if (!wakePending_) wakePending_ = PostMessageA(window_, wakeMessage, 0, 0) != 0;
}

}  // namespace zelvor
