// Zelvor on Linux from start to end: the command line, one instance a user,
// the settings, the window and its loop, and an exit that stays safe with a
// job still running.
//
// Threading: main() is the window's thread. It calls Fl::lock() before the
// first job starts; the jobs reach the window only through FltkView.
#include <FL/Fl.H>
#include <sys/resource.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "app/bmp_image.hpp"
#include "app/failure_text.hpp"
#include "app/fltk/command_line.hpp"
#include "app/fltk/embedded_files.hpp"
#include "app/fltk/fltk_view.hpp"
#include "app/fltk/main_window.hpp"
#include "app/fltk/single_instance.hpp"
#include "app/post_target.hpp"
#include "app/program_exit.hpp"
#include "app/program_state.hpp"
#include "app/settings.hpp"
#include "app/site_address.hpp"
#include "app/site_services.hpp"
#include "app/status_area.hpp"
#include "app/string_ids.hpp"
#include "app/workflow.hpp"
#include "catalogue/vantage_label.hpp"
#include "ping/run_state.hpp"
#include "support/resource_string.hpp"
#include "support/sync.hpp"

namespace zelvor {

namespace {

constexpr int iconSide = 32;

// Nice values: the window a little above normal, a measuring thread (and the
// workers it starts, which inherit its value) more, so that replies are
// read as soon as they arrive. Without the privilege to raise them the
// program simply runs at normal priority.
constexpr int windowNice = -5;
constexpr int measuringNice = -10;

// On Linux, PRIO_PROCESS with id 0 sets the calling thread alone.
void raisePriority(int nice) { static_cast<void>(::setpriority(PRIO_PROCESS, 0, nice)); }

constexpr const char* refusedSiteSetting =
    "zelvor: the setting site=%s is not HOST[:PORT]; using %s\n";

// Without this line the user could only wonder why their setting made no
// difference.
void reportRefusedSetting(const std::string& stored) {
  std::fprintf(stderr, refusedSiteSetting, stored.c_str(),
               kelvo::resourceString(text::siteHost).c_str());
}

// Everything the jobs share with the window.
class Program final : public ProgramState {
 public:
  Program(const Settings& loaded, std::optional<SiteAddress> site, DecodedImage picture,
          DecodedImage icon)
      : ProgramState(loaded),
        window(loaded.winx, loaded.winy, kelvo::resourceString(text::title), std::move(picture),
               std::move(icon), handlers()),
        view(window, stop),
        status(view, stop, progress),
        workflow(view, status, stop, settings, services(), std::move(site)) {}

  MainWindow window;
  FltkView view;
  StatusArea status;
  Workflow workflow;

 private:
  // Called only once the loop runs, when every member exists.
  MainWindow::Handlers handlers() {
    MainWindow::Handlers handlers;
    handlers.go = [this] { workflow.startTestJob(); };
    handlers.exit = [this] { workflow.requestShutdown(); };
    handlers.hover = [this](MainWindow::Control control) {
      switch (control) {
        case MainWindow::Control::go:
          status.setHint(kelvo::resourceString(text::goHint));
          break;
        case MainWindow::Control::exit:
          status.setHint(kelvo::resourceString(text::exitHint));
          break;
        case MainWindow::Control::classList:
          status.setHint(kelvo::resourceString(text::listHint));
          break;
        case MainWindow::Control::none:
          status.setHint("");
          break;
      }
    };
    handlers.progressTick = [this] { status.onProgressTick(); };
    return handlers;
  }

  WorkflowServices services() {
    WorkflowServices services = siteServices(runState);
    services.raisePriority = [] { raisePriority(measuringNice); };
    return services;
  }
};

// Made once and never destroyed, so that a job still running when the
// process ends finds everything it uses in place, through the exit's static
// destruction too. Held here so that leak checkers see it as reachable.
Program* program = nullptr;

int run(int argc, const char* const* argv) {
  const std::variant<CommandLine, int> parsed = parseCommandLine(argc, argv, std::cout, std::cerr);
  if (const int* exitCode = std::get_if<int>(&parsed)) return *exitCode;
  const CommandLine& commandLine = std::get<CommandLine>(parsed);

  SingleInstance instance;
  if (instance.role() == SingleInstance::Role::other) return 0;

  std::unique_ptr<SettingsStore> store;
  try {
    store = systemSettingsStore();
    const Settings settings = store->load();
    SiteChoice site = chooseSite(commandLine.site, settings.site);
    if (site.settingRefused) reportRefusedSetting(*settings.site);
    if (settings.label && !isVantageLabel(*settings.label))
      std::fprintf(stderr, "zelvor: %s\n", refusedLabelSetting(*settings.label).c_str());
    if (const auto refused = refusedIpSetting(settings.ip))
      std::fprintf(stderr, "zelvor: %s\n", refused->c_str());
    DecodedImage picture = decodeBmp(embedded::backdropBitmap());
    DecodedImage icon = decodeIcon(embedded::iconFile(), iconSide);
    // The dialog grey the picture is drawn to melt into.
    Fl::background(212, 208, 200);
    program = new Program(settings, std::move(site.site), std::move(picture), std::move(icon));
    raisePriority(windowNice);
    Fl::lock();
    instance.serve([] {
      if (program->window.shown()) program->window.show();
    });
    program->window.show();
    program->workflow.startFetchJob();
  } catch (...) {
    const std::string failure = currentFailureText();
    std::fprintf(stderr, "zelvor: %s\n", failure.c_str());
    MainWindow::showErrorBox(failure);
    return 1;
  }

  int exitCode = 0;
  std::optional<std::string> failure;
  try {
    exitCode = program->view.run();
  } catch (...) {
    failure = currentFailureText();
  }
  ExitSteps steps;
  steps.showFailure = MainWindow::showErrorBox;
  steps.hideWindow = [] { program->window.hideWindow(); };
  steps.saveSettings = [&store] {
    Settings toSave = program->settings;
    std::tie(toSave.winx, toSave.winy) = program->window.clientPosition();
    try {
      store->save(toSave);
    } catch (...) {
      std::fprintf(stderr, "zelvor: %s\n", currentFailureText().c_str());
    }
  };
  return endRun(program->view, program->workflow.jobLock(), *program, exitCode, failure, steps);
}

}  // namespace

}  // namespace zelvor

int main(int argc, char** argv) { return zelvor::run(argc, argv); }
