// Kept reports posted again on the wire: oldest first, each with its label
// and measuring time in the target; removed once taken, moved aside when
// refused for good, left kept (with those after it) when the way fails.
#include "cli/kept_reports.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "scripted_peer.hpp"
#include "temporary_folder.hpp"

namespace {

namespace fs = std::filesystem;
using zelvor::test::ScriptedPeer;

const std::string oldest = "20240101T000000Z-001.report";
const std::string second = "20240101T000000Z-002.report";
const std::string newest = "20240102T120000Z-001.report";
const std::string report = "Near\nh:7:\nEND\n";

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct FlushCase {
  const char* name;
  std::string reply;
  std::size_t connections;  // posts the site sees
  int posted, setAside;
  bool stopped;
  std::vector<std::string> left, refused;
  std::vector<std::string> lines;
};

void PrintTo(const FlushCase& c, std::ostream* out) { *out << c.name; }

class KeptReportFlush : public testing::TestWithParam<FlushCase> {};

TEST_P(KeptReportFlush, PostsOldestFirstWithLabelAndTime) {
  const FlushCase& c = GetParam();
  zelvor::test::TemporaryFolder data{"kept"};
  const std::string folder = (data.path() / "").string();
  // Written newest first, so that only the names can give the order.
  for (const std::string& name : {newest, second, oldest}) data.write(name, report);
  data.write("notes.txt", "not a report name");
  data.write("20240103T000000Z-001.report.tmp", report);

  ScriptedPeer peer;
  peer.readRequest().send(c.reply).close();
  peer.start(c.connections);
  const zelvor::SiteInUse site{
      {"127.0.0.1", peer.port()},
      "http://127.0.0.1:" + std::to_string(peer.port()) + "/zelvor?handle="};
  std::vector<std::string> said;
  const auto done = zelvor::cli::postKeptReports(
      site, "lab-1", folder, [&](const std::string& line) { said.push_back(line); });

  EXPECT_EQ(done.posted, c.posted);
  EXPECT_EQ(done.setAside, c.setAside);
  EXPECT_EQ(done.stopped, c.stopped);
  const std::string targets[] = {
      "POST /zelvor?label=lab-1&measured_at=2024-01-01T00:00:00Z HTTP/1.0\r\n",
      "POST /zelvor?label=lab-1&measured_at=2024-01-01T00:00:00Z HTTP/1.0\r\n",
      "POST /zelvor?label=lab-1&measured_at=2024-01-02T12:00:00Z HTTP/1.0\r\n"};
  for (std::size_t i = 0; i < c.connections; ++i) {
    const std::string request = peer.received(i);
    EXPECT_TRUE(request.starts_with(targets[i])) << request;
    EXPECT_TRUE(request.ends_with("\r\n\r\n" + report)) << request;
  }
  std::vector<std::string> left = c.left;
  left.insert(left.begin(), "20240103T000000Z-001.report.tmp");
  left.push_back("notes.txt");
  std::sort(left.begin(), left.end());
  EXPECT_EQ(namesIn(data.path()), left);
  EXPECT_EQ(namesIn(data.path() / "refused"), c.refused);
  std::vector<std::string> expectedLines;
  for (const std::string& line : c.lines) {
    std::string expanded = line;
    // The folder with the system's own separator after it.
    if (const auto at = expanded.find("{refused}/"); at != std::string::npos)
      expanded.replace(at, 10, (data.path() / "refused" / "").string());
    if (const auto at = expanded.find("{port}"); at != std::string::npos)
      expanded.replace(at, 6, std::to_string(peer.port()));
    expectedLines.push_back(expanded);
  }
  EXPECT_EQ(said, expectedLines);
}

const std::string handleReply = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nHh";

INSTANTIATE_TEST_SUITE_P(
    Replies, KeptReportFlush,
    testing::Values(
        FlushCase{"AllTaken",
                  handleReply,
                  3,
                  3,
                  0,
                  false,
                  {},
                  {},
                  {"kept report " + oldest + " posted: http://127.0.0.1:{port}/zelvor?handle=Hh",
                   "kept report " + second + " posted: http://127.0.0.1:{port}/zelvor?handle=Hh",
                   "kept report " + newest + " posted: http://127.0.0.1:{port}/zelvor?handle=Hh"}},
        FlushCase{"AllRefusedForGood",
                  "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n",
                  3,
                  0,
                  3,
                  false,
                  {},
                  {oldest, second, newest},
                  {"kept report " + oldest +
                       ": Quorvane refused the results: HTTP Failure: 400 (127.0.0.1:{port}); "
                       "moved to {refused}/" +
                       oldest,
                   "kept report " + second +
                       ": Quorvane refused the results: HTTP Failure: 400 (127.0.0.1:{port}); "
                       "moved to {refused}/" +
                       second,
                   "kept report " + newest +
                       ": Quorvane refused the results: HTTP Failure: 400 (127.0.0.1:{port}); "
                       "moved to {refused}/" +
                       newest}},
        FlushCase{"BusySiteStopsTheRound",
                  "HTTP/1.0 503 Busy\r\nContent-Length: 0\r\n\r\n",
                  1,
                  0,
                  0,
                  true,
                  {oldest, second, newest},
                  {},
                  {"kept report " + oldest +
                   " stays kept: Quorvane refused the results: HTTP Failure: 503 "
                   "(127.0.0.1:{port})"}}),
    [](const testing::TestParamInfo<FlushCase>& info) { return std::string(info.param.name); });

}  // namespace
