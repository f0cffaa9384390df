// A message-only window on the calling thread that hands every message to a
// handler, and a bounded pump, for tests of what reaches a window's thread.
// Message-only windows need no display, so these tests run anywhere Wine
// does.
#pragma once

#include <windows.h>

#include <functional>

namespace zelvor::test {

class MessageWindow {
 public:
  // True when the handler took the message; others go to DefWindowProcA.
  using Handler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam)>;

  explicit MessageWindow(Handler handler);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  HWND get() const noexcept { return window_; }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  Handler handler_;
  HWND window_ = nullptr;
};

// Serves the calling thread's queue until `done` holds or `timeoutMs` has
// passed; gives `done`'s last answer.
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

}  // namespace zelvor::test
