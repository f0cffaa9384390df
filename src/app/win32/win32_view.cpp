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

// PostMessageA neither waits for the window's thread nor delivers anything
// at once.
Win32View::Win32View(HWND window, View& target, kelvo::Event& stop)
    : target_(target),
      stop_(stop),
      windowThread_(GetCurrentThreadId()),
      calls_([window] { return PostMessageA(window, wakeMessage, 0, 0) != 0; }) {}

void Win32View::setStatusText(const std::string& text) {
  calls_.post([this, text] { target_.setStatusText(text); });
}

void Win32View::setProgressPosition(int position) {
  calls_.post([this, position] { target_.setProgressPosition(position); });
}

void Win32View::setProgressVisible(bool visible) {
  calls_.post([this, visible] { target_.setProgressVisible(visible); });
}

void Win32View::setBusyCursor(bool busy) {
  calls_.post([this, busy] { target_.setBusyCursor(busy); });
}

void Win32View::setClassListEnabled(bool enabled) {
  calls_.post([this, enabled] { target_.setClassListEnabled(enabled); });
}

void Win32View::setGoEnabled(bool enabled) {
  calls_.post([this, enabled] { target_.setGoEnabled(enabled); });
}

void Win32View::clearClasses() {
  calls_.post([this] { target_.clearClasses(); });
}

void Win32View::addClasses(const std::vector<std::string>& names) {
  calls_.post([this, names] { target_.addClasses(names); });
}

void Win32View::selectClass(int position) {
  calls_.post([this, position] { target_.selectClass(position); });
}

int Win32View::selectedClass() { return target_.selectedClass(); }

void Win32View::startProgressTimer() {
  calls_.post([this] { target_.startProgressTimer(); });
}

void Win32View::stopProgressTimer() {
  calls_.post([this] { target_.stopProgressTimer(); });
}

void Win32View::showError(const std::string& text) {
  if (onWindowThread()) {
    if (!calls_.closed()) target_.showError(text);
    return;
  }
  const auto request = std::make_shared<BoxRequest>(text);
  calls_.post([this, request] {
    const BoxClosing closing(*request);
    if (request->awaited.load()) target_.showError(request->text);
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
  calls_.post([this, code] { target_.hideAndQuit(code); });
}

void Win32View::deliverQueued() { calls_.runQueued(); }

void Win32View::endLoop() {
  calls_.close();
  loopEnded_.set();
}

bool Win32View::onWindowThread() const noexcept { return GetCurrentThreadId() == windowThread_; }

}  // namespace zelvor
