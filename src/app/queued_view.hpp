// The View for every thread over the window's own View: each call waits in a
// CallQueue until the window's thread carries it out on that View.
//
// Threading contract: any thread may call the View members. They copy their
// arguments into the queue and return without waiting for the window's
// thread, which carries the calls out in the order they were made; none is
// dropped while the loop runs. Two calls wait or act at once instead:
// showError from a job waits until its box is closed (or the loop is over),
// and showError and hideAndQuit on the window's own thread act there and
// then. selectedClass asks the target, whose answer must not need the
// window's thread. After endLoop every call is dropped.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/call_queue.hpp"
#include "app/view.hpp"
#include "support/sync.hpp"

namespace zelvor {

class QueuedView : public View {
 public:
  // What the window's toolkit provides.
  struct Window {
    // Does each call's work on the window's thread: its showError is the
    // error box, its hideAndQuit the window's own quit.
    View& target;
    // Asks the window's thread to call deliverQueued soon, without waiting;
    // false when the request could not be made.
    CallQueue::Wake wake;
    // True on the window's thread.
    std::function<bool()> isWindowThread;
    // A job's quit, carried out on the window's thread.
    std::function<void(int exitCode)> quitForJob;
  };

  // `stop` is the program's stop event. Made on the window's thread.
  QueuedView(Window window, kelvo::Event& stop);
  QueuedView(const QueuedView&) = delete;
  QueuedView& operator=(const QueuedView&) = delete;

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

  // On the window's thread, when woken: carries out every call that waits,
  // in order.
  void deliverQueued();

  // Once the window's loop is over: the calls still waiting and all later
  // ones are dropped, and a job waiting for its error box goes on at once.
  void endLoop();

 private:
  struct BoxRequest;
  class BoxClosing;
  void boxClosed(BoxRequest& request);

  View& target_;
  const std::function<bool()> isWindowThread_;
  const std::function<void(int)> quitForJob_;
  kelvo::Event& stop_;
  // Jobs waiting for their error box to close, or for the loop's end.
  std::mutex boxLock_;
  std::condition_variable boxClosed_;
  bool loopOver_ = false;
  // Last, so that no call is carried out before the members above exist.
  CallQueue calls_;
};

}  // namespace zelvor
