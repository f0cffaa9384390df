// The View of the Win32 window for every thread: the calls wait in the
// view's own queue, and a wake message with no payload has the window's
// thread carry them out.
//
// Threading contract: any thread may call the View members. They copy their
// arguments into the queue and return without waiting for the window's
// thread, which carries the calls out in the order they were made. Two calls
// wait or act at once instead: showError from a job waits until its box is
// closed (or the loop is over), and showError and hideAndQuit on the
// window's own thread act there and then. selectedClass asks the target,
// whose answer must not need the window's thread.
//
// Why a queue rather than a message per call: a posted message can be lost
// once the thread's message queue is full, and one that carried a pointer
// could be forged by any process on the desktop. The wake message carries
// nothing, so a forged one merely serves the queue early.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/call_queue.hpp"
#include "app/view.hpp"
#include "support/sync.hpp"

namespace zelvor {

class Win32View final : public View {
 public:
  // Posted to the window, wParam and lParam 0, when calls wait.
  static constexpr UINT wakeMessage = WM_APP + 0x40;

  // `window` is the window whose procedure calls deliverQueued on
  // wakeMessage; `target` is the View that does the work on the window's
  // thread. `stop` is the program's stop event. Made on the window's thread.
  Win32View(HWND window, View& target, kelvo::Event& stop);
  Win32View(const Win32View&) = delete;
  Win32View& operator=(const Win32View&) = delete;

  void setStatusText(const std::string& text) override;
  void setProgressPosition(int position) override;
  void setProgressVisible(bool visible) override;
  void setBusyCursor(bool busy) override;
  void setClassListEnabled(bool enabled) override;
  void setGoEnabled(bool enabled) override;
  void clearClasses() override;
  void addClasses(const std::vector<std::string>& names) override;
  void selectClass(int position) override;
  int selectedClass() override;
  void startProgressTimer() override;
  void stopProgressTimer() override;
  void showError(const std::string& text) override;
  // From a job after the stop event was set (as Workflow::requestShutdown
  // does), the window's thread is asked to quit with 0, the code the loop
  // itself gives the stop event, so the two agree whichever comes first.
  void hideAndQuit(int exitCode) override;

  // On the window's thread, for wakeMessage: carries out on the target every
  // call that waits, in order.
  void deliverQueued();

  // Once the window's loop is over: the calls still waiting and all later
  // ones are dropped, and a job waiting for its error box goes on at once.
  void endLoop();

 private:
  bool onWindowThread() const noexcept;

  View& target_;
  kelvo::Event& stop_;
  const DWORD windowThread_;
  CallQueue calls_;
  // Set once the loop is over, for the jobs waiting for their boxes.
  kelvo::Event loopEnded_;
};

}  // namespace zelvor
