// The program's controller: the fetch job, which fills the class list from
// the site's server list, and the test job, which measures the chosen
// class, posts the report and opens the results page; with the stop event,
// the job lock and the error box they share.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.hpp"
#include "app/site_address.hpp"
#include "app/status_area.hpp"
#include "app/view.hpp"
#include "catalogue/catalogue.hpp"
#include "support/sync.hpp"

namespace zelvor {

// What the jobs need beyond the window, replaced by scripted parts in tests.
struct WorkflowServices {
  // The exchanges with the site. Both throw Failures; a reply with a failure
  // status throws "HTTP Failure: " and its code (net/http_client.hpp).
  std::function<std::string(const std::string& host, const std::string& path, std::uint16_t port)>
      fetch;
  std::function<std::string(const std::string& host, const std::string& path,
                            const std::string& body, std::uint16_t port)>
      post;
  // Keeps a report the site did not take and returns the full path of its
  // file; throws a Failure when it could not.
  std::function<std::string(const std::string& report)> keepUnsent;
  // Measures `servers` with the four measuring settings; throws a Failure when
  // no echo succeeded.
  std::function<void(std::vector<ServerEntry>& servers, const Settings& settings)> ping;
  // Opens `address` in the user's browser; false when it could not.
  std::function<bool(const std::string& address)> openBrowser;
  // A text of the string table.
  std::function<std::string(std::uint32_t id)> text;
  std::function<void(std::uint32_t ms)> sleep;
  // Raises the calling thread's priority, best effort.
  std::function<void()> raisePriority;
};

class Workflow {
 public:
  // The pause after the browser was launched, with the posting text still
  // showing, so that the user sees what happened.
  static constexpr std::uint32_t afterLaunchMs = 1500;

  // Without a `site`, the jobs talk to the compiled-in host on port 80.
  Workflow(View& view, StatusArea& status, kelvo::Event& stop, const Settings& settings,
           WorkflowServices services, std::optional<SiteAddress> site);
  Workflow(const Workflow&) = delete;
  Workflow& operator=(const Workflow&) = delete;

  // Sets the stop event, then hides the window and ends the main loop with
  // exit code 1.
  void requestShutdown();
  // The error box; then requestShutdown when `shutDown`.
  void showError(const std::string& text, bool shutDown);

  // Each starts its job on a thread of its own, detached. startTestJob does
  // nothing while a job holds the job lock.
  void startFetchJob();
  void startTestJob();

  // The jobs themselves, run on the calling thread.
  void fetchJob();
  void testJob();

  kelvo::Mutex& jobLock() { return jobLock_; }
  // Replaced only by the fetch job, read only by the test job, both under
  // the job lock.
  const ServerCatalogue& catalogue() const { return catalogue_; }

 private:
  static std::uint32_t fetchJobBody(void* workflow);
  static std::uint32_t testJobBody(void* workflow);
  // The fetch job's exchange, from the site's list to the filled class list.
  void fillClassList();
  // The chosen class's report; none when nothing was chosen, the stop event
  // came or the measuring failed (which the error box has told).
  std::optional<std::string> measureAndReport();
  void postAndOpen(const std::string& report);
  // After a post that failed with `failure`: keeps the report and says why
  // it was not taken and where it went.
  void keepUnsent(const std::string& report, const SiteAddress& site, const std::string& failure);
  SiteInUse siteInUse() const;

  View& view_;
  StatusArea& status_;
  kelvo::Event& stop_;
  const Settings& settings_;
  WorkflowServices services_;
  const std::optional<SiteAddress> site_;
  kelvo::Mutex jobLock_;
  ServerCatalogue catalogue_;
};

}  // namespace zelvor
