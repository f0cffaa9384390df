// View calls as posted messages: how each is carried and carried out.
#include "app/win32/win32_view.hpp"

#include <atomic>
#include <memory>

#include "support/native_event_win32.hpp"

namespace zelvor {

namespace {

// One message per View call. A text travels as a std::string that the
// message owns; an error box as a shared BoxRequest.
enum ViewMessage : UINT {
  setStatusTextMessage = WM_APP + 0x40,
  setProgressPositionMessage,
  setProgressVisibleMessage,
  setBusyCursorMessage,
  setClassListEnabledMessage,
  setGoEnabledMessage,
  clearClassesMessage,
  addClassMessage,
  selectClassMessage,
  startProgressTimerMessage,
  stopProgressTimerMessage,
  showErrorMessage,
  hideAndQuitMessage,
};

// An error box a job waits for. Shared by the job and the message, since
// either may be done with it first.
struct BoxRequest {
  explicit BoxRequest(std::string text) : text(std::move(text)) {}
  const std::string text;
  kelvo::Event closed;
  // Cleared when the job stops waiting: a box nobody waits for is not shown.
  std::atomic<bool> awaited{true};
};
using SharedBoxRequest = std::shared_ptr<BoxRequest>;

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

template <class Payload>
std::unique_ptr<Payload> takePayload(LPARAM lParam) {
  return std::unique_ptr<Payload>(reinterpret_cast<Payload*>(lParam));
}

}  // namespace

Win32View::Win32View(HWND window, View& target, kelvo::Event& stop)
    : window_(window), target_(target), stop_(stop), windowThread_(GetCurrentThreadId()) {}

void Win32View::setStatusText(const std::string& text) { postText(setStatusTextMessage, text); }

void Win32View::setProgressPosition(int position) {
  post(setProgressPositionMessage, static_cast<WPARAM>(position));
}

void Win32View::setProgressVisible(bool visible) { post(setProgressVisibleMessage, visible); }

void Win32View::setBusyCursor(bool busy) { post(setBusyCursorMessage, busy); }

void Win32View::setClassListEnabled(bool enabled) { post(setClassListEnabledMessage, enabled); }

void Win32View::setGoEnabled(bool enabled) { post(setGoEnabledMessage, enabled); }

void Win32View::clearClasses() { post(clearClassesMessage, 0); }

void Win32View::addClass(const std::string& name) { postText(addClassMessage, name); }

void Win32View::selectClass(int position) {
  post(selectClassMessage, static_cast<WPARAM>(position));
}

int Win32View::selectedClass() { return target_.selectedClass(); }

void Win32View::startProgressTimer() { post(startProgressTimerMessage, 0); }

void Win32View::stopProgressTimer() { post(stopProgressTimerMessage, 0); }

void Win32View::showError(const std::string& text) {
  if (loopOver_.isSet()) return;
  if (onWindowThread()) {
    target_.showError(text);
    return;
  }
  auto request = std::make_shared<BoxRequest>(text);
  auto carried = std::make_unique<SharedBoxRequest>(request);
  if (!post(showErrorMessage, 0, reinterpret_cast<LPARAM>(carried.get()))) return;
  static_cast<void>(carried.release());
  HANDLE ends[] = {kelvo::nativeHandle(request->closed), kelvo::nativeHandle(loopOver_)};
  WaitForMultipleObjects(2, ends, FALSE, INFINITE);
  request->awaited.store(false);
}

void Win32View::hideAndQuit(int exitCode) {
  if (onWindowThread()) {
    target_.hideAndQuit(exitCode);
    return;
  }
  post(hideAndQuitMessage, static_cast<WPARAM>(stop_.isSet() ? 0 : exitCode));
}

void Win32View::endLoop() { loopOver_.set(); }

bool Win32View::onWindowThread() const noexcept { return GetCurrentThreadId() == windowThread_; }

// A message that cannot be posted (the window is gone, or its queue is full)
// is dropped: the window could not have shown it anyway.
bool Win32View::post(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (loopOver_.isSet()) return false;
  return PostMessageA(window_, message, wParam, lParam) != 0;
}

void Win32View::postText(UINT message, const std::string& text) {
  auto carried = std::make_unique<std::string>(text);
  if (post(message, 0, reinterpret_cast<LPARAM>(carried.get()))) {
    static_cast<void>(carried.release());
  }
}

bool deliverViewMessage(UINT message, WPARAM wParam, LPARAM lParam, View& target) {
  const bool flag = wParam != 0;
  const int number = static_cast<int>(wParam);
  switch (message) {
    case setStatusTextMessage:
      target.setStatusText(*takePayload<std::string>(lParam));
      return true;
    case setProgressPositionMessage:
      target.setProgressPosition(number);
      return true;
    case setProgressVisibleMessage:
      target.setProgressVisible(flag);
      return true;
    case setBusyCursorMessage:
      target.setBusyCursor(flag);
      return true;
    case setClassListEnabledMessage:
      target.setClassListEnabled(flag);
      return true;
    case setGoEnabledMessage:
      target.setGoEnabled(flag);
      return true;
    case clearClassesMessage:
      target.clearClasses();
      return true;
    case addClassMessage:
      target.addClass(*takePayload<std::string>(lParam));
      return true;
    case selectClassMessage:
      target.selectClass(number);
      return true;
    case startProgressTimerMessage:
      target.startProgressTimer();
      return true;
    case stopProgressTimerMessage:
      target.stopProgressTimer();
      return true;
    case showErrorMessage: {
      const SharedBoxRequest request = *takePayload<SharedBoxRequest>(lParam);
      const BoxClosing closing(*request);
      if (request->awaited.load()) target.showError(request->text);
      return true;
    }
    case hideAndQuitMessage:
      target.hideAndQuit(number);
      return true;
    default:
      return false;
  }
}

}  // namespace zelvor
