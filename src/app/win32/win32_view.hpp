// The View of the Win32 window for every thread: each call is posted to the
// window's thread as a message, which the window's procedure passes to
// deliverViewMessage.
//
// Threading contract: any thread may call the View members. They copy their
// arguments into the message and return without waiting for the window's
// thread, which carries the calls out in the order they were posted. Two
// calls wait or act at once instead: showError from a job waits until its
// box is closed (or the loop is over), and showError and hideAndQuit on the
// window's own thread act there and then. selectedClass asks the target,
// whose answer must not need the window's thread.
#pragma once

#include <windows.h>

#include <string>

#include "app/view.hpp"
#include "support/sync.hpp"

namespace zelvor {

class Win32View final : public View {
 public:
  // `window` is the window whose procedure passes its messages to
  // deliverViewMessage with `target`, the View that does the work on the
  // window's thread. `stop` is the program's stop event. Made on the
  // window's thread.
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
  void addClass(const std::string& name) override;
  void selectClass(int position) override;
  int selectedClass() override;
  void startProgressTimer() override;
  void stopProgressTimer() override;
  void showError(const std::string& text) override;
  // From a job after the stop event was set (as Workflow::requestShutdown
  // does), the window's thread is asked to quit with 0, the code the loop
  // itself gives the stop event, so the two agree whichever comes first.
  void hideAndQuit(int exitCode) override;

  // Once the window's loop is over: nothing is posted any more, and a job
  // waiting for its error box goes on at once.
  void endLoop();

 private:
  bool onWindowThread() const noexcept;
  bool post(UINT message, WPARAM wParam, LPARAM lParam = 0) noexcept;
  void postText(UINT message, const std::string& text);

  HWND window_;
  View& target_;
  kelvo::Event& stop_;
  DWORD windowThread_;
  kelvo::Event loopOver_;
};

// On the window's thread: carries out on `target` the View call that the
// message brings, and frees what it carried. False, doing nothing, for any
// message that is not one of Win32View's.
bool deliverViewMessage(UINT message, WPARAM wParam, LPARAM lParam, View& target);

}  // namespace zelvor
