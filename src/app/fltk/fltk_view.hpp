// The View of the FLTK window, and the loop that serves it: each call from a
// job is queued for the window's thread, which Fl::awake wakes.
//
// Threading contract (see also main_window.hpp): only the window's thread
// touches widgets. Any thread may call the View members; they copy their
// arguments into a closure queued for the window's thread, which runs the
// closures in call order; none is dropped while the loop runs. Nothing here waits for the window's
// thread except showError from a job, which waits for its box to close (or
// for the loop to end). run, endLoop and the constructor belong to the
// window's thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/call_queue.hpp"
#include "app/fltk/main_window.hpp"
#include "app/view.hpp"
#include "support/sync.hpp"

namespace zelvor {

class FltkView final : public View {
 public:
  // Made on the window's thread, which it then serves.
  explicit FltkView(MainWindow& window);
  FltkView(const FltkView&) = delete;
  FltkView& operator=(const FltkView&) = delete;

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
  void hideAndQuit(int exitCode) override;

  // Runs the FLTK loop until the window quits or `stop` is set, and gives
  // the exit code: that of a hideAndQuit made on the window's thread (the
  // user closed the window); 0 when a job set the stop event, whether or not
  // its hideAndQuit arrived first; otherwise the code of a job's
  // hideAndQuit. The loop looks at `stop` whenever it wakes; it sleeps
  // without a time-out, so a job that sets `stop` must then call a View
  // member (the workflow calls hideAndQuit) to wake it.
  int run(kelvo::Event& stop);
  // Once the loop is over: no error box shows any more, and every job
  // waiting for one goes on at once.
  void endLoop();

  // FLTK's own word for a wait without a time-out.
  static constexpr double waitForever = 1e20;

 private:
  bool onWindowThread() const { return std::this_thread::get_id() == windowThread_; }
  static void runQueued(void* view);
  void showErrorBox(const std::string& text);

  MainWindow& window_;
  const std::thread::id windowThread_;
  // Set once the window starts quitting: boxes not yet shown are dropped.
  std::atomic<bool> quitting_{false};
  // The window's thread's own view of how the loop should end.
  bool quitHere_ = false;
  int quitHereCode_ = 0;
  bool quitPosted_ = false;
  int quitPostedCode_ = 0;
  // Jobs waiting for their error box to close.
  std::mutex boxLock_;
  std::condition_variable boxClosed_;
  std::atomic<bool> loopOver_{false};
  // FLTK's queue of awake calls has a fixed size, and a call it cannot take
  // would be lost: the calls wait here instead, and FLTK carries only the
  // wake-ups.
  CallQueue calls_;
};

}  // namespace zelvor
