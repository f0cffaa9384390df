// The test window's class, procedure and pump.
#include "message_window.hpp"

#include <stdexcept>

namespace zelvor::test {

namespace {
constexpr const char* className = "ZelvorTestMessageWindow";
constexpr ULONGLONG pollMs = 10;
}  // namespace

MessageWindow::MessageWindow(Handler handler) : handler_(std::move(handler)) {
  WNDCLASSA description{};
  description.lpfnWndProc = procedure;
  description.hInstance = GetModuleHandleA(nullptr);
  description.lpszClassName = className;
  // Already registered by an earlier window of this process: fine.
  RegisterClassA(&description);
  window_ = CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            description.hInstance, this);
  if (window_ == nullptr) throw std::runtime_error("cannot make a message-only window");
}

MessageWindow::~MessageWindow() {
  SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

LRESULT CALLBACK MessageWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self != nullptr && self->handler_(message, wParam, lParam)) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    // `done` may turn true without any message, by another thread's doing.
    const DWORD slice = static_cast<DWORD>(deadline - now < pollMs ? deadline - now : pollMs);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
  }
}

}  // namespace zelvor::test
