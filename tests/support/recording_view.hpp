// A View that writes down every call, in order, from any thread, so that
// tests can check the window's phases call by call.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "app/view.hpp"

namespace zelvor::test {

class RecordingView : public View {
 public:
  // Every call so far, e.g. "status:Fetching data from Quorvane",
  // "progress:5000", "progressVisible:1", "busy:1", "list:0", "go:1",
  // "clear", "add:A", "select:0", "timer:1", "error:Bad network
  // configuration", "quit:1".
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }
  // What selectedClass answers; selectClass sets it too.
  void setSelection(int position) {
    std::lock_guard lock(mutex_);
    selection_ = position;
  }

  void setStatusText(const std::string& text) override { record("status:" + text); }
  void setProgressPosition(int position) override {
    record("progress:" + std::to_string(position));
  }
  void setProgressVisible(bool visible) override { record(flag("progressVisible", visible)); }
  void setBusyCursor(bool busy) override { record(flag("busy", busy)); }
  void setClassListEnabled(bool enabled) override { record(flag("list", enabled)); }
  void setGoEnabled(bool enabled) override { record(flag("go", enabled)); }
  void clearClasses() override {
    record("clear");
    setSelection(-1);
  }
  void addClasses(const std::vector<std::string>& names) override {
    std::string entry = "classes:";
    for (std::size_t i = 0; i < names.size(); ++i) entry += (i == 0 ? "" : "|") + names[i];
    record(entry);
  }
  void selectClass(int position) override {
    record("select:" + std::to_string(position));
    setSelection(position);
  }
  int selectedClass() override {
    std::lock_guard lock(mutex_);
    return selection_;
  }
  void startProgressTimer() override { record("timer:1"); }
  void stopProgressTimer() override { record("timer:0"); }
  void showError(const std::string& text) override { record("error:" + text); }
  void hideAndQuit(int exitCode) override { record("quit:" + std::to_string(exitCode)); }

 private:
  static std::string flag(const char* name, bool on) {
    return std::string(name) + (on ? ":1" : ":0");
  }
  void record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  int selection_ = -1;
};

}  // namespace zelvor::test
