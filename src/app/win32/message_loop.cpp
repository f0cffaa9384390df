#include "app/win32/message_loop.hpp"

#include "support/failure.hpp"

namespace zelvor {

namespace {
// Dispatches every queued message; true with `quitCode` set when a WM_QUIT
// came, which ends the draining at once.
bool drainQueue(int& quitCode) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quitCode = static_cast<int>(message.wParam);
      return true;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return false;
}
}  // namespace

int runMessageLoop(HANDLE stop) {
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT);
    // A wait that cannot be made would fail again at once, for ever.
    if (woken == WAIT_FAILED) throw kelvo::Failure::lastError();
    // The event stays set, so this quit is posted again after every wait;
    // draining right after it always takes it, so it is never posted over a
    // quit of another code still waiting in the queue.
    if (woken == WAIT_OBJECT_0 && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
      PostQuitMessage(0);
    }
    if (woken == WAIT_OBJECT_0 || woken == WAIT_OBJECT_0 + 1) {
      int quitCode = 0;
      if (drainQueue(quitCode)) return quitCode;
    }
  }
}

}  // namespace zelvor
