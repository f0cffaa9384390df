#include "app/workflow.hpp"

#include <optional>
#include <string_view>

#include "app/failed_post.hpp"
#include "app/failure_text.hpp"
#include "app/post_target.hpp"
#include "app/string_ids.hpp"
#include "catalogue/report.hpp"
#include "support/thread.hpp"

namespace zelvor {

namespace {

// Between the lines of a box: a path, long as it may be, has one of its own.
constexpr const char* boxLineBreak = "\n";

// A job runs on detached: nobody waits for it but the exit, through the job
// lock, so its Thread is let go as soon as it has started.
void startDetached(kelvo::Thread::Body body, void* argument) {
  const kelvo::Thread letGo(body, argument);
}

}  // namespace

Workflow::Workflow(View& view, StatusArea& status, kelvo::Event& stop, const Settings& settings,
                   WorkflowServices services, std::optional<SiteAddress> site)
    : view_(view),
      status_(status),
      stop_(stop),
      settings_(settings),
      services_(std::move(services)),
      site_(std::move(site)) {}

void Workflow::requestShutdown() {
  stop_.set();
  view_.hideAndQuit(1);
}

void Workflow::showError(const std::string& text, bool shutDown) {
  view_.showError(text);
  if (shutDown) requestShutdown();
}

void Workflow::startFetchJob() { startDetached(fetchJobBody, this); }

void Workflow::startTestJob() {
  if (!jobLock_.isFree()) return;
  startDetached(testJobBody, this);
}

std::uint32_t Workflow::fetchJobBody(void* workflow) {
  static_cast<Workflow*>(workflow)->fetchJob();
  return 0;
}

std::uint32_t Workflow::testJobBody(void* workflow) {
  static_cast<Workflow*>(workflow)->testJob();
  return 0;
}

void Workflow::fetchJob() {
  kelvo::MutexLock lock(jobLock_);
  status_.setJobStatus(services_.text(text::fetching), 0);
  status_.showBusy();
  if (stop_.isSet()) return;
  view_.clearClasses();
  fillClassList();
  status_.setJobStatus("", 0);
}

void Workflow::fillClassList() {
  std::string shownSite;
  // Whatever ends the fetch, out of memory included, the user gets the same
  // box and the job its normal end.
  try {
    const SiteAddress site = siteInUse().address;
    shownSite = siteAuthority(site);
    if (stop_.isSet()) return;
    const std::string body = services_.fetch(site.host, services_.text(text::listPath), site.port);
    if (stop_.isSet()) return;
    catalogue_ = parseServerList(body);
    std::vector<std::string> names;
    names.reserve(catalogue_.size());
    for (const ServerClass& serverClass : catalogue_) names.push_back(serverClass.name);
    view_.addClasses(names);
    view_.selectClass(0);
    status_.showReady();
  } catch (...) {
    showError(services_.text(text::connectError) + shownSite, false);
    if (!stop_.isSet()) view_.setBusyCursor(false);
  }
}

void Workflow::testJob() {
  services_.raisePriority();
  kelvo::MutexLock lock(jobLock_);
  status_.showBusy();
  status_.setHint("");
  if (stop_.isSet()) return;
  view_.startProgressTimer();
  if (const std::optional<std::string> report = measureAndReport()) postAndOpen(*report);
  view_.stopProgressTimer();
  status_.showReady();
  status_.setJobStatus("", 0);
}

std::optional<std::string> Workflow::measureAndReport() {
  try {
    const int selected = view_.selectedClass();
    if (selected < 0 || static_cast<std::size_t>(selected) >= catalogue_.size()) return {};
    ServerClass& chosen = catalogue_[static_cast<std::size_t>(selected)];
    services_.ping(chosen.servers, settings_);
    if (stop_.isSet()) return {};
    return formatClassReport(chosen);
  } catch (...) {
    showError(services_.text(text::networkError), false);
    return {};
  }
}

void Workflow::postAndOpen(const std::string& report) {
  std::string handle;
  SiteInUse site;
  try {
    status_.setJobStatus(services_.text(text::posting), 0);
    site = siteInUse();
    const std::string target = postTarget(services_.text(text::resultsPath),
                                          labelInUse(std::nullopt, settings_.label), std::nullopt);
    handle = services_.post(site.address.host, target, report, site.address.port);
  } catch (...) {
    // Whatever goes wrong in telling the user, the job still ends normally.
    try {
      keepUnsent(report, site.address, currentFailureText());
    } catch (...) {
    }
    return;
  }
  try {
    if (services_.openBrowser(site.resultsAddress + handle)) {
      services_.sleep(afterLaunchMs);
    } else {
      showError(services_.text(text::browserError), true);
    }
  } catch (...) {
  }
}

void Workflow::keepUnsent(const std::string& report, const SiteAddress& site,
                          const std::string& failure) {
  const UnpostedReport unposted = keepUnposted(
      failure, site, [&] { return services_.keepUnsent(report); }, services_.text);
  showError(
      unposted.failure.reason + boxLineBreak + unposted.fate + boxLineBreak + unposted.fateDetail,
      false);
}

// The compiled-in site keeps the address of its own string, which the
// build writes beside its host.
SiteInUse Workflow::siteInUse() const {
  return zelvor::siteInUse(site_, services_.text(text::siteHost),
                           services_.text(text::resultsAddress), services_.text(text::resultsPath));
}

}  // namespace zelvor
