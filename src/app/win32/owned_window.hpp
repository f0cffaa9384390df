// The owner of one window, destroyed when the owner goes.
#pragma once

#include <windows.h>

namespace zelvor {

class OwnedWindow {
 public:
  explicit OwnedWindow(HWND window) noexcept : window_(window) {}
  // The window's object pointer (GWLP_USERDATA) is cleared first, so that the
  // object, which is going too, hears nothing of the destruction.
  ~OwnedWindow() {
    if (window_ == nullptr) return;
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  OwnedWindow(const OwnedWindow&) = delete;
  OwnedWindow& operator=(const OwnedWindow&) = delete;

  HWND get() const noexcept { return window_; }

 private:
  HWND window_;
};

}  // namespace zelvor
