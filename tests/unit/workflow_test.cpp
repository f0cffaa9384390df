// Both jobs over a recording view and scripted services: each phase's calls
// in order, every failure's box, the report kept when the site did not take
// it, and a stop at each step.
#include "app/workflow.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/string_ids.hpp"
#include "app/unsent_reports.hpp"
#include "recording_view.hpp"
#include "support/failure.hpp"
#include "temporary_folder.hpp"

namespace {

using Calls = std::vector<std::string>;
using namespace std::string_literals;
namespace text = zelvor::text;

const std::map<std::uint32_t, std::string> texts = {
    {text::siteHost, "site.test"},
    {text::listPath, "/zv_fetch"},
    {text::resultsPath, "/zelvor"},
    {text::resultsAddress, "http://site.test/zelvor?handle="},
    {text::fetching, "Fetching data from Quorvane"},
    {text::posting, "Posting results to Quorvane"},
    {text::connectError, "Error connecting to "},
    {text::browserError, "Unable to launch default browser"},
    {text::networkError, "Bad network configuration"},
    {text::resultsRefused, "Quorvane refused the results: "},
    {text::resultsKept, "The results were kept in the file"},
    {text::resultsLost, "The results could not be kept and are lost:"},
};

// The port shows only when it is not 80, as in an address.
std::string hostAndPort(const std::string& host, std::uint16_t port) {
  return port == 80 ? host : host + ":" + std::to_string(port);
}

const Calls busy = {"busy:1", "list:0", "go:0"};
const Calls ready = {"busy:0", "list:1", "go:1"};

Calls join(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A test's calls from Go to the end of a run whose post failed with `box`.
Calls failedPostCalls(const std::string& box) {
  return join(
      {busy,
       {"status:", "timer:1", "status:Posting results to Quorvane", "error:" + box, "timer:0"},
       ready,
       {"status:"}});
}

struct KeptFile {
  std::string name, bytes;
};

// Every file in `folder`, by name; none when there is no folder.
std::vector<KeptFile> keptFiles(const std::filesystem::path& folder) {
  std::vector<KeptFile> files;
  if (!std::filesystem::exists(folder)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    files.push_back({entry.path().filename().string(),
                     {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}});
  }
  std::sort(files.begin(), files.end(),
            [](const KeptFile& a, const KeptFile& b) { return a.name < b.name; });
  return files;
}

const std::regex keptName("[0-9]{8}T[0-9]{6}Z-[0-9]{3}\\.report");

class WorkflowTest : public testing::Test {
 protected:
  WorkflowTest() {
    services.fetch = [this](const std::string& host, const std::string& path, std::uint16_t port) {
      fetched.push_back(hostAndPort(host, port) + path);
      if (fetchFailure) fetchFailure();
      return list;
    };
    services.post = [this](const std::string& host, const std::string& path,
                           const std::string& body, std::uint16_t port) {
      posted.push_back(hostAndPort(host, port) + path + "|" + body);
      if (postFailure) postFailure();
      return handle;
    };
    services.ping = [this](std::vector<zelvor::ServerEntry>& servers, const zelvor::Settings& s) {
      pingedWith.push_back(s.loops);
      if (pingFailure) pingFailure();
      for (zelvor::ServerEntry& server : servers) server.samples = {{nullptr, 7}, {"TIMEOUT", 0}};
    };
    services.openBrowser = [this](const std::string& address) {
      opened.push_back(address);
      return browserWorks;
    };
    services.text = [](std::uint32_t id) { return texts.at(id); };
    services.sleep = [this](std::uint32_t ms) { slept.push_back(ms); };
    services.raisePriority = [this] { ++raised; };
    services.keepUnsent = [this](const std::string& report) {
      if (keepFailure) keepFailure();
      return zelvor::UnsentReports(unsentFolder()).keep(report);
    };
  }

  // The store's folder, with the separator it ends with.
  std::string unsentFolder() const { return (unsentPath / "").string(); }

  // The one report kept since the last call, whose name must have the
  // store's shape; the folder is emptied for the next.
  KeptFile takeTheKeptReport() {
    const std::vector<KeptFile> files = keptFiles(unsentPath);
    std::filesystem::remove_all(unsentPath);
    if (files.size() != 1) {
      ADD_FAILURE() << files.size() << " files kept";
      return {};
    }
    EXPECT_TRUE(std::regex_match(files[0].name, keptName)) << files[0].name;
    return files[0];
  }

  zelvor::Workflow& workflow() {
    if (!workflow_) workflow_.emplace(view, status, stop, settings, services, std::nullopt);
    return *workflow_;
  }

  // Runs the fetch of `list`, then forgets its calls.
  void fetchFirst() {
    workflow().fetchJob();
    view.clearCalls();
  }

  zelvor::test::RecordingView view;
  kelvo::Event stop;
  zelvor::ProgressCounter progress;
  zelvor::StatusArea status{view, stop, progress};
  zelvor::Settings settings;
  zelvor::WorkflowServices services;

  std::string list = "A:h1:80\nB:h2:80\nA:h3:80\n";
  std::string handle = "H42";
  bool browserWorks = true;
  std::function<void()> fetchFailure, pingFailure, postFailure, keepFailure;
  std::vector<std::string> fetched, posted, opened;
  std::vector<std::int32_t> pingedWith;
  std::vector<std::uint32_t> slept;
  int raised = 0;
  zelvor::test::TemporaryFolder data{"workflow"};
  const std::filesystem::path unsentPath = data.path() / "unsent";

 private:
  std::optional<zelvor::Workflow> workflow_;
};

TEST_F(WorkflowTest, FetchFillsTheListInOrderAndSelectsTheFirstClass) {
  workflow().fetchJob();
  EXPECT_EQ(fetched, (std::vector<std::string>{"site.test/zv_fetch"}));
  EXPECT_EQ(view.calls(), join({{"status:Fetching data from Quorvane"},
                                busy,
                                {"clear", "classes:A|B", "select:0"},
                                ready,
                                {"status:"}}));
  ASSERT_EQ(workflow().catalogue().size(), 2u);
  EXPECT_EQ(workflow().catalogue()[0].servers.size(), 2u);
  EXPECT_TRUE(workflow().jobLock().isFree());
}

TEST_F(WorkflowTest, FailedFetchShowsTheHostAndLeavesTheControlsDisabled) {
  for (const auto& failure : std::vector<std::function<void()>>{
           [] { throw kelvo::Failure("Socket error 111"); }, [] { throw std::bad_alloc(); }}) {
    fetchFailure = failure;
    view.clearCalls();
    workflow().fetchJob();
    EXPECT_EQ(view.calls(),
              join({{"status:Fetching data from Quorvane"},
                    busy,
                    {"clear", "error:Error connecting to site.test", "busy:0", "status:"}}));
    EXPECT_TRUE(workflow().jobLock().isFree());
  }
}

// The compiled-in host (site.test in these texts) must appear nowhere.
TEST_F(WorkflowTest, SiteOverrideIsFetchedPostedOpenedAndNamedInTheBox) {
  struct Case {
    zelvor::SiteAddress site;
    std::string fetched, posted, opened, box;
  };
  const Case cases[] = {
      {{"other.test", 8080},
       "other.test:8080/zv_fetch",
       "other.test:8080/zelvor",
       "http://other.test:8080/zelvor?handle=H42",
       "Error connecting to other.test:8080"},
      {{"192.0.2.7", 80},
       "192.0.2.7/zv_fetch",
       "192.0.2.7/zelvor",
       "http://192.0.2.7/zelvor?handle=H42",
       "Error connecting to 192.0.2.7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fetched);
    fetched.clear();
    posted.clear();
    opened.clear();
    zelvor::Workflow flow(view, status, stop, settings, services, c.site);
    flow.fetchJob();
    view.setSelection(1);
    flow.testJob();
    EXPECT_EQ(fetched, std::vector<std::string>{c.fetched});
    EXPECT_EQ(posted, std::vector<std::string>{c.posted + "|B\nh2:7:\nh2::TIMEOUT\nEND\n"});
    EXPECT_EQ(opened, std::vector<std::string>{c.opened});

    postFailure = [] { throw kelvo::Failure("Socket error 111"); };
    view.clearCalls();
    flow.testJob();
    postFailure = nullptr;
    const std::string kept = unsentFolder() + takeTheKeptReport().name;
    EXPECT_EQ(view.calls(),
              failedPostCalls(c.box + "\nThe results were kept in the file\n" + kept));

    fetchFailure = [] { throw kelvo::Failure("Socket error 111"); };
    view.clearCalls();
    flow.fetchJob();
    fetchFailure = nullptr;
    EXPECT_EQ(view.calls(), join({{"status:Fetching data from Quorvane"},
                                  busy,
                                  {"clear", "error:" + c.box, "busy:0", "status:"}}));
  }
}

TEST_F(WorkflowTest, EmptyListEnablesTheControlsOverNothing) {
  list = "# no servers today\n";
  workflow().fetchJob();
  EXPECT_EQ(view.calls(), join({{"status:Fetching data from Quorvane"},
                                busy,
                                {"clear", "classes:", "select:0"},
                                ready,
                                {"status:"}}));
  EXPECT_TRUE(workflow().catalogue().empty());
}

TEST_F(WorkflowTest, TestMeasuresPostsTheReportAndOpensTheResultsPage) {
  fetchFirst();
  view.setSelection(0);
  workflow().testJob();
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(pingedWith, (std::vector<std::int32_t>{3}));
  EXPECT_EQ(posted, (std::vector<std::string>{
                        "site.test/zelvor|A\nh1:7:\nh1::TIMEOUT\nh3:7:\nh3::TIMEOUT\nEND\n"}));
  EXPECT_EQ(opened, (std::vector<std::string>{"http://site.test/zelvor?handle=H42"}));
  EXPECT_EQ(slept, (std::vector<std::uint32_t>{1500}));
  EXPECT_EQ(view.calls(),
            join({busy,
                  {"status:", "timer:1", "status:Posting results to Quorvane", "timer:0"},
                  ready,
                  {"status:"}}));
  EXPECT_FALSE(std::filesystem::exists(unsentPath));
}

// The label goes into the post's target when it has the shape; a stored
// label of another shape is never sent.
TEST_F(WorkflowTest, StoredLabelOfTheShapeGoesWithThePost) {
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, "site.test/zelvor|"},
      {"lab-1.b_2", "site.test/zelvor?label=lab-1.b_2|"},
      {"lab 1", "site.test/zelvor|"},
      {"", "site.test/zelvor|"},
  };
  fetchFirst();
  view.setSelection(1);
  for (const auto& [label, target] : cases) {
    settings.label = label;
    posted.clear();
    workflow().testJob();
    EXPECT_EQ(posted, std::vector<std::string>{target + "B\nh2:7:\nh2::TIMEOUT\nEND\n"});
  }
}

TEST_F(WorkflowTest, EmptyHandleOpensTheBareResultsAddress) {
  fetchFirst();
  view.setSelection(1);
  handle = "";
  workflow().testJob();
  EXPECT_EQ(opened, (std::vector<std::string>{"http://site.test/zelvor?handle="}));
  EXPECT_EQ(posted.at(0), "site.test/zelvor|B\nh2:7:\nh2::TIMEOUT\nEND\n");
}

TEST_F(WorkflowTest, NoValidSelectionEndsTheTestAtOnce) {
  fetchFirst();
  for (const int selection : {-1, 2}) {
    view.setSelection(selection);
    view.clearCalls();
    workflow().testJob();
    EXPECT_EQ(view.calls(), join({busy, {"status:", "timer:1", "timer:0"}, ready, {"status:"}}));
  }
  EXPECT_TRUE(pingedWith.empty());
  EXPECT_TRUE(posted.empty());
}

TEST_F(WorkflowTest, FailedRunShowsBadNetworkConfigurationAndPostsNothing) {
  fetchFirst();
  view.setSelection(0);
  pingFailure = [] { throw kelvo::Failure("Ping never succeeded"); };
  workflow().testJob();
  EXPECT_TRUE(posted.empty());
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(view.calls(),
            join({busy,
                  {"status:", "timer:1", "error:Bad network configuration", "timer:0"},
                  ready,
                  {"status:"}}));
}

// A site that could not be reached or did not answer is named as the fetch
// names it; a site that answered with a failure status refused the report.
TEST_F(WorkflowTest, FailedPostKeepsTheReportAndSaysWhyAndWhere) {
  struct Case {
    const char* what;
    std::function<void()> failure;
    std::string reason;
  };
  const Case cases[] = {
      {"connection refused", [] { throw kelvo::Failure("Socket error 111"); },
       "Error connecting to site.test"},
      {"no reply", [] { throw kelvo::Failure("Bad HTTP Response: "); },
       "Error connecting to site.test"},
      {"out of memory", [] { throw std::bad_alloc(); }, "Error connecting to site.test"},
      {"a bad report", [] { throw kelvo::Failure("HTTP Failure: 400"); },
       "Quorvane refused the results: HTTP Failure: 400"},
      {"a report too large", [] { throw kelvo::Failure("HTTP Failure: 413"); },
       "Quorvane refused the results: HTTP Failure: 413"},
  };
  fetchFirst();
  view.setSelection(0);
  const std::string report = "A\nh1:7:\nh1::TIMEOUT\nh3:7:\nh3::TIMEOUT\nEND\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    postFailure = c.failure;
    posted.clear();
    view.clearCalls();
    workflow().testJob();
    EXPECT_EQ(posted, std::vector<std::string>{"site.test/zelvor|" + report});
    const KeptFile kept = takeTheKeptReport();
    EXPECT_EQ(kept.bytes, report);
    EXPECT_EQ(view.calls(), failedPostCalls(c.reason + "\nThe results were kept in the file\n" +
                                            unsentFolder() + kept.name));
  }
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(slept.empty());
  EXPECT_FALSE(stop.isSet());
}

TEST_F(WorkflowTest, ReportThatCannotBeKeptIsSaidToBeLost) {
  fetchFirst();
  view.setSelection(1);
  for (const auto& [failure, reason] : std::vector<std::pair<std::string, std::string>>{
           {"Socket error 110", "Error connecting to site.test"},
           {"HTTP Failure: 503", "Quorvane refused the results: HTTP Failure: 503"}}) {
    SCOPED_TRACE(failure);
    postFailure = [failure = failure] { throw kelvo::Failure(failure); };
    keepFailure = [] { throw kelvo::Failure("/data/unsent/x.report: No space left on device"); };
    view.clearCalls();
    workflow().testJob();
    EXPECT_EQ(view.calls(),
              failedPostCalls(reason + "\nThe results could not be kept and are lost:\n"
                                       "/data/unsent/x.report: No space left on device"));
  }
  EXPECT_TRUE(keptFiles(unsentPath).empty());
  EXPECT_TRUE(opened.empty());
}

TEST_F(WorkflowTest, BrowserFailureEndsTheProgram) {
  fetchFirst();
  view.setSelection(0);
  browserWorks = false;
  workflow().testJob();
  EXPECT_TRUE(stop.isSet());
  EXPECT_TRUE(slept.empty());
  EXPECT_FALSE(std::filesystem::exists(unsentPath));
  // After the stop nothing else changes on screen.
  EXPECT_EQ(view.calls(), join({busy,
                                {"status:", "timer:1", "status:Posting results to Quorvane",
                                 "error:Unable to launch default browser", "quit:1", "timer:0"}}));
  EXPECT_TRUE(workflow().jobLock().isFree());
}

TEST_F(WorkflowTest, StopDuringTheRunPostsNothingAndChangesNothing) {
  fetchFirst();
  view.setSelection(0);
  pingFailure = [this] { stop.set(); };
  workflow().testJob();
  EXPECT_TRUE(posted.empty());
  EXPECT_EQ(view.calls(), join({busy, {"status:", "timer:1", "timer:0"}}));
}

TEST_F(WorkflowTest, StopBeforeTheJobsLeavesTheWindowAlone) {
  stop.set();
  workflow().fetchJob();
  workflow().testJob();
  EXPECT_TRUE(fetched.empty());
  EXPECT_TRUE(pingedWith.empty());
  EXPECT_EQ(view.calls(), Calls{});
}

TEST_F(WorkflowTest, StopDuringTheFetchKeepsTheOldCatalogue) {
  fetchFailure = [this] { stop.set(); };
  workflow().fetchJob();
  EXPECT_TRUE(workflow().catalogue().empty());
  EXPECT_EQ(view.calls(), join({{"status:Fetching data from Quorvane"}, busy, {"clear"}}));
}

TEST_F(WorkflowTest, RequestShutdownSetsTheStopEventAndQuitsWithOne) {
  workflow().requestShutdown();
  EXPECT_TRUE(stop.isSet());
  EXPECT_EQ(view.calls(), (Calls{"quit:1"}));
}

TEST_F(WorkflowTest, GoWhileAJobHoldsTheLockIsIgnored) {
  fetchFirst();
  view.setSelection(0);
  {
    kelvo::MutexLock held(workflow().jobLock());
    std::thread([this] { workflow().startTestJob(); }).join();
  }
  EXPECT_TRUE(view.calls().empty());
  workflow().startTestJob();
  // The job runs on its own thread: wait, bounded, for its normal end.
  for (int i = 0; i < 500 && view.calls().size() < 11; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kelvo::MutexLock waitForTheJob(workflow().jobLock());
  EXPECT_EQ(view.calls().size(), 11u);
  EXPECT_EQ(posted.size(), 1u);
}

}  // namespace
