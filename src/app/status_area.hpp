// The status area at the foot of the window (a hint, a job's status text or
// the progress bar, by fixed rules) and the busy and ready looks.
#pragma once

#include <string>

#include "app/view.hpp"
#include "ping/run_state.hpp"
#include "support/sync.hpp"

namespace zelvor {

class StatusArea {
 public:
  // Once `stop` is set, nothing here changes the window any more.
  StatusArea(View& view, kelvo::Event& stop, ProgressCounter& progress);

  // The hint for the control under the mouse; empty for none. A hint takes
  // precedence over everything else in the status area.
  void setHint(const std::string& text);
  // The running job's status text (empty for none) and the progress of its
  // ping run (0 to 1).
  void setJobStatus(const std::string& text, double progress);
  // Copies the progress of the running ping run into the status area; a
  // finished run (1 or more) leaves it as it is.
  void onProgressTick();

  // App-starting cursor, class list and Go button disabled.
  void showBusy();
  // Arrow cursor, class list and Go button enabled.
  void showReady();

 private:
  enum class Mode { hint, progress, status };
  Mode mode() const;
  // Applies the mode to the view; `modeChanged` also switches the progress
  // bar and the status text over. Called with the lock held.
  void refresh(bool modeChanged);
  void setLook(bool busy);

  View& view_;
  kelvo::Event& stop_;
  ProgressCounter& progress_;
  kelvo::Mutex lock_;
  std::string hint_;
  std::string jobStatus_;
  double fraction_ = 0;
};

}  // namespace zelvor
