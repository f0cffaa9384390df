#include "app/status_area.hpp"

namespace zelvor {

StatusArea::StatusArea(View& view, kelvo::Event& stop, ProgressCounter& progress)
    : view_(view), stop_(stop), progress_(progress) {}

// A fraction that is not a number compares false everywhere, so it falls to
// status mode.
StatusArea::Mode StatusArea::mode() const {
  if (!hint_.empty()) return Mode::hint;
  if (fraction_ > 0) return Mode::progress;
  return Mode::status;
}

void StatusArea::refresh(bool modeChanged) {
  switch (mode()) {
    case Mode::hint:
      if (modeChanged) view_.setProgressVisible(false);
      view_.setStatusText(hint_);
      break;
    case Mode::progress:
      if (modeChanged) view_.setStatusText("");
      view_.setProgressPosition(static_cast<int>(fraction_ * View::progressRange));
      if (modeChanged) view_.setProgressVisible(true);
      break;
    case Mode::status:
      if (modeChanged) view_.setProgressVisible(false);
      view_.setStatusText(jobStatus_);
      break;
  }
}

void StatusArea::setHint(const std::string& text) {
  if (stop_.isSet()) return;
  kelvo::MutexLock lock(lock_);
  const bool changed = hint_ != text;
  hint_ = text;
  refresh(changed);
}

void StatusArea::setJobStatus(const std::string& text, double progress) {
  if (stop_.isSet()) return;
  kelvo::MutexLock lock(lock_);
  jobStatus_ = text;
  const double old = fraction_;
  fraction_ = progress;
  const bool changed = (hint_.empty() && progress > 0 && old == 0) || (old > 0 && progress == 0);
  refresh(changed);
}

void StatusArea::onProgressTick() {
  const double fraction = progress_.fraction();
  if (fraction >= 1) return;
  setJobStatus("", fraction);
}

void StatusArea::showBusy() { setLook(true); }

void StatusArea::showReady() { setLook(false); }

void StatusArea::setLook(bool busy) {
  if (stop_.isSet()) return;
  view_.setBusyCursor(busy);
  if (!stop_.isSet()) view_.setClassListEnabled(!busy);
  if (!stop_.isSet()) view_.setGoEnabled(!busy);
}

}  // namespace zelvor
