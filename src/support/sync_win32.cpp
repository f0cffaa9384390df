#include <windows.h>

#include "support/failure.hpp"
#include "support/native_event_win32.hpp"
#include "support/owned_handle_win32.hpp"
#include "support/sync.hpp"

namespace kelvo {

namespace {
// The handle, or Failure with the creating call's last error.
HANDLE checked(HANDLE handle) {
  if (handle == nullptr) throw Failure::lastError();
  return handle;
}
}  // namespace

struct Event::Handle : OwnedHandle {
  using OwnedHandle::OwnedHandle;
};

Event::Event()
    : handle_(std::make_unique<Handle>(checked(CreateEventA(nullptr, TRUE, FALSE, nullptr)))) {}

Event::~Event() = default;

void Event::set() { SetEvent(handle_->get()); }

bool Event::wait(std::uint32_t timeoutMs) {
  return WaitForSingleObject(handle_->get(), timeoutMs) == WAIT_OBJECT_0;
}

HANDLE nativeHandle(Event& event) noexcept { return event.handle().get(); }

struct Mutex::Handle : OwnedHandle {
  using OwnedHandle::OwnedHandle;
};

Mutex::Mutex()
    : handle_(std::make_unique<Handle>(checked(CreateMutexA(nullptr, FALSE, nullptr)))) {}

Mutex::~Mutex() = default;

// A mutex abandoned by a thread that ended while holding it is owned by the
// waiter all the same; counting it as not taken would leave it held forever.
bool Mutex::acquire(std::uint32_t timeoutMs) {
  const DWORD result = WaitForSingleObject(handle_->get(), timeoutMs);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void Mutex::release() { ReleaseMutex(handle_->get()); }

}  // namespace kelvo
