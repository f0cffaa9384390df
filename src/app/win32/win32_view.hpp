// The View of the Win32 window for every thread: a QueuedView whose wake is
// a message with no payload, on which the window's thread carries the calls
// out (app/queued_view.hpp holds the threading contract).
//
// Why a queue rather than a message per call: a posted message can be lost
// once the thread's message queue is full, and one that carried a pointer
// could be forged by any process on the desktop. The wake message carries
// nothing, so a forged one merely serves the queue early.
#pragma once

#include <windows.h>

#include "app/queued_view.hpp"
#include "app/view.hpp"
#include "support/sync.hpp"

namespace zelvor {

class Win32View final : public QueuedView {
 public:
  // Posted to the window, wParam and lParam 0, when calls wait.
  static constexpr UINT wakeMessage = WM_APP + 0x40;

  // `window` is the window whose procedure calls deliverQueued on
  // wakeMessage; `target` is the View that does the work on the window's
  // thread, a job's quit included. `stop` is the program's stop event. Made
  // on the window's thread.
  Win32View(HWND window, View& target, kelvo::Event& stop);
};

}  // namespace zelvor
