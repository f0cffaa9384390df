// The console's control handler, which Windows runs on a thread of its own:
// it only sets an event that the watching thread waits on.
#include <windows.h>

#include <atomic>

#include "cli/interrupt_watch.hpp"
#include "support/owned_handle_win32.hpp"

namespace zelvor::cli {

namespace {

std::atomic<HANDLE> interruptEvent{nullptr};

BOOL WINAPI onControl(DWORD kind) {
  if (kind != CTRL_C_EVENT && kind != CTRL_BREAK_EVENT) return FALSE;
  if (const HANDLE event = interruptEvent.load()) SetEvent(event);
  return TRUE;
}

}  // namespace

struct InterruptWatch::State {
  kelvo::OwnedHandle event{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

// Windows has no SIGTERM for a console program to take: a service stop comes
// another way, so `alsoTerminate` changes nothing here.
InterruptWatch::InterruptWatch(bool) : state_(std::make_unique<State>()) {
  interruptEvent.store(state_->event.get());
  SetConsoleCtrlHandler(onControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(onControl, FALSE);
  interruptEvent.store(nullptr);
}

bool InterruptWatch::wait(std::uint32_t timeoutMs) {
  if (state_->event.get() == nullptr) {
    Sleep(timeoutMs);
    return false;
  }
  return WaitForSingleObject(state_->event.get(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace zelvor::cli
