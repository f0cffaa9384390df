// Thread below the platform seam, on CreateThread. The handle is closed when
// the Thread is destroyed; the thread itself runs on.
#include <windows.h>

#include "support/failure.hpp"
#include "support/owned_handle_win32.hpp"
#include "support/thread.hpp"

namespace kelvo {

namespace {

struct StartRecord {
  Thread::Body body;
  void* argument;
};

DWORD WINAPI threadEntry(LPVOID parameter) {
  const StartRecord record = *static_cast<StartRecord*>(parameter);
  delete static_cast<StartRecord*>(parameter);
  return detail::runThreadBody(record.body, record.argument);
}

}  // namespace

struct Thread::Handle : OwnedHandle {
  using OwnedHandle::OwnedHandle;
};

void Thread::HandleDeleter::operator()(Handle* handle) const noexcept { delete handle; }

Thread::HandlePtr Thread::launch(Body body, void* argument) {
  auto record = std::make_unique<StartRecord>(StartRecord{body, argument});
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, threadEntry, record.get(), 0, &threadId);
  if (thread == nullptr) throw Failure::lastError();
  record.release();  // the new thread frees it
  return HandlePtr(new Handle(thread));
}

detail::ThreadProbe Thread::probe(const Handle& handle, std::uint32_t& exitCode) {
  DWORD code = 0;
  if (!GetExitCodeThread(handle.get(), &code)) {
    return detail::ThreadProbe::unreadable;
  }
  if (code == STILL_ACTIVE) return detail::ThreadProbe::running;
  exitCode = code;
  return detail::ThreadProbe::ended;
}

}  // namespace kelvo
