// Zelvor on Windows from start to end: one instance, the settings, the
// window and its loop, and an exit that stays safe with a job still running.
//
// Threading: WinMain's thread is the window's thread. The jobs reach the
// window only through Win32View.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/failure_text.hpp"
#include "app/program_exit.hpp"
#include "app/program_state.hpp"
#include "app/settings.hpp"
#include "app/site_address.hpp"
#include "app/site_services.hpp"
#include "app/status_area.hpp"
#include "app/string_ids.hpp"
#include "app/win32/main_window.hpp"
#include "app/win32/message_loop.hpp"
#include "app/win32/window_input.hpp"
#include "app/workflow.hpp"
#include "ping/run_state.hpp"
#include "support/native_event_win32.hpp"
#include "support/resource_string.hpp"
#include "support/sync.hpp"

namespace zelvor {

namespace {

// Everything the jobs share with the window.
class Program final : public ProgramState, public MainWindow::Listener {
 public:
  // A stored site that is not an address counts as none: the program
  // writes no log to say so, and the value is saved back as it was.
  Program(HINSTANCE module, const std::string& title, const Settings& loaded)
      : ProgramState(loaded),
        window(module, title, loaded.winx, loaded.winy, *this, stop),
        status(window.jobView(), stop, progress),
        workflow(window.jobView(), status, stop, settings, services(),
                 chooseSite(std::nullopt, loaded.site).site) {}

  MainWindow window;
  StatusArea status;
  Workflow workflow;

  // Called only once the loop runs, when every member exists.
  void onCommand(Command command) override {
    if (command == Command::go) workflow.startTestJob();
    if (command == Command::exit) workflow.requestShutdown();
  }
  void onHover(Control control) override {
    const std::uint32_t id = hintTextId(control);
    status.setHint(id == 0 ? std::string() : kelvo::resourceString(id));
  }
  void onProgressTick() override { status.onProgressTick(); }

 private:
  WorkflowServices services() {
    WorkflowServices services = siteServices(runState);
    // The test job (and the measuring threads it starts) above the window's
    // thread, so that replies are read as soon as they arrive.
    services.raisePriority = [] {
      SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    };
    return services;
  }
};

// Made once and never destroyed, so that a job still running when the
// process ends finds everything it uses in place.
Program* program = nullptr;

// A failure before the window exists: a box of its own.
int failStarting(const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), "Error", MB_ICONERROR);
  return 1;
}

// The program writes no log: settings that cannot be saved are simply not
// kept.
void saveQuietly(SettingsStore& store, const Settings& settings) {
  try {
    store.save(settings);
  } catch (...) {
  }
}

int run(HINSTANCE module) {
  std::string title;
  try {
    title = kelvo::resourceString(text::title);
  } catch (...) {
    return failStarting(currentFailureText());
  }
  if (MainWindow::raiseRunning(title)) return 0;

  std::unique_ptr<SettingsStore> store;
  Settings settings;
  const HWND previouslyActive = GetActiveWindow();
  int exitCode = 0;
  std::optional<std::string> failure;
  try {
    store = systemSettingsStore();
    settings = store->load();
    program = new Program(module, title, settings);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    program->window.show();
    program->workflow.startFetchJob();
    exitCode = runMessageLoop(kelvo::nativeHandle(program->stop));
    failure = program->window.failure();
  } catch (...) {
    failure = currentFailureText();
  }
  if (program == nullptr) {
    // No window and no job: the settings go back as they came.
    failStarting(failure.value_or(unknownFailureText));
    if (store) saveQuietly(*store, settings);
    return 1;
  }
  ExitSteps steps;
  steps.showFailure = [](const std::string& text) { program->window.showErrorBox(text); };
  steps.hideWindow = [previouslyActive] {
    ShowWindow(program->window.handle(), SW_HIDE);
    SetActiveWindow(previouslyActive);
  };
  steps.saveSettings = [&store] {
    Settings toSave = program->settings;
    if (const std::optional<POINT> position = program->window.restoredPosition()) {
      toSave.winx = position->x;
      toSave.winy = position->y;
    }
    saveQuietly(*store, toSave);
  };
  return endRun(program->window.jobView(), program->workflow.jobLock(), *program, exitCode, failure,
                steps);
}

}  // namespace

}  // namespace zelvor

int WINAPI WinMain(HINSTANCE module, HINSTANCE, LPSTR, int) { return zelvor::run(module); }
