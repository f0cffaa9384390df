// The seam between the portable program and its window toolkit: everything
// the jobs and the status area do to the window goes through View.
//
// Threading contract: the jobs call a View from their own threads. An
// implementation hands each call to the window's thread (FLTK: Fl::awake;
// Win32: a posted message) and returns without waiting for it, except
// showError, which returns once the user has closed the box. So a caller may
// hold its own locks while it calls, as long as it is not the window's
// thread waiting for them.
#pragma once

#include <string>
#include <vector>

namespace zelvor {

class View {
 public:
  virtual ~View() = default;

  // The progress bar's full position, its empty one being 0.
  static constexpr int progressRange = 10000;

  // The status bar's text, and the progress bar laid over it (position 0 to
  // progressRange).
  virtual void setStatusText(const std::string& text) = 0;
  virtual void setProgressPosition(int position) = 0;
  virtual void setProgressVisible(bool visible) = 0;

  // The busy look (app-starting cursor) or the ready look (arrow).
  virtual void setBusyCursor(bool busy) = 0;
  // The class list and the Go button; the Exit button is never disabled.
  virtual void setClassListEnabled(bool enabled) = 0;
  virtual void setGoEnabled(bool enabled) = 0;

  // The class list: emptied, filled at the end in order, one entry selected.
  // The names come in one call, so that a long list is one hand-over to the
  // window's thread rather than one per class.
  virtual void clearClasses() = 0;
  virtual void addClasses(const std::vector<std::string>& names) = 0;
  virtual void selectClass(int position) = 0;
  // The selected position, or -1 when nothing is selected. Answered without
  // waiting for the window's thread.
  virtual int selectedClass() = 0;

  // The 250 ms tick that drives the progress bar while a run measures.
  virtual void startProgressTimer() = 0;
  virtual void stopProgressTimer() = 0;

  // A modal error box captioned "Error"; returns when the user closed it.
  virtual void showError(const std::string& text) = 0;
  // Hides the window and ends the main loop with `exitCode`.
  virtual void hideAndQuit(int exitCode) = 0;
};

}  // namespace zelvor
