// The owner of one Windows kernel handle, closed when the owner goes.
#pragma once

#include <windows.h>

namespace kelvo {

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  HANDLE get() const noexcept { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace kelvo
