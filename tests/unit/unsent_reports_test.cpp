// The unsent reports' store on every platform: names that sort by time and
// never take an existing file's place, the exact bytes, the folder made when
// missing, and writes that leave either the whole file or nothing.
#include "app/unsent_reports.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/atomic_file.hpp"
#include "support/failure.hpp"
#include "temporary_folder.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using zelvor::UnsentReports;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The folder as the store takes it: with the system's separator at its end.
std::string asFolder(const fs::path& folder) { return (folder / "").string(); }

// 2024-02-29 23:59:59.750 UTC, a leap day's last second.
const system_clock::time_point leapDayEnd =
    sys_days(2024y / February / 29) + 23h + 59min + 59s + 750ms;

// Bytes a text file might not keep as they are: line ends of both kinds, a
// NUL, a byte above 127 and no line end at the end.
const std::string awkwardReport = std::string("A\r\nh1:7:\nh1::TIMEOUT\n\0\xff", 24) + "END";

TEST(UnsentReportName, IsTheUtcSecondThenTheCountInThreeDigits) {
  struct Case {
    system_clock::time_point time;
    int count;
    const char* name;
  };
  const Case cases[] = {
      {system_clock::time_point{}, 1, "19700101T000000Z-001.report"},
      {leapDayEnd, 7, "20240229T235959Z-007.report"},
      {sys_days(2000y / January / 1) + 9h + 5min + 3s, 999, "20000101T090503Z-999.report"},
      {sys_days(1969y / December / 31) + 23h + 59min + 59s + 1ms, 10,
       "19691231T235959Z-010.report"},
  };
  for (const Case& c : cases) EXPECT_EQ(zelvor::unsentReportName(c.time, c.count), c.name);
}

class UnsentReportsFolder : public ::testing::Test {
 protected:
  zelvor::test::TemporaryFolder temporary{"unsent"};
  const fs::path folder = temporary.path() / "data" / "unsent";
  const UnsentReports store{asFolder(folder)};
};

TEST_F(UnsentReportsFolder, KeepsTheExactBytesInAFolderItMakes) {
  const std::string path = store.keep(awkwardReport, leapDayEnd);
  EXPECT_EQ(path, asFolder(folder) + "20240229T235959Z-001.report");
  EXPECT_EQ(readFile(path), awkwardReport);
  EXPECT_EQ(entries(folder), std::vector<std::string>{"20240229T235959Z-001.report"});
}

// Names of one second count up in the order the reports came, and a file
// already there, whoever wrote it, is never replaced.
TEST_F(UnsentReportsFolder, NamesOfOneSecondCountUpPastTakenOnes) {
  fs::create_directories(folder);
  writeFile(folder / "20240229T235959Z-002.report", "someone else's\n");
  const std::string first = store.keep("first\n", leapDayEnd);
  const std::string second = store.keep("second\n", leapDayEnd);
  const std::string later = store.keep("later\n", leapDayEnd + 1s);
  EXPECT_EQ(first, asFolder(folder) + "20240229T235959Z-001.report");
  EXPECT_EQ(second, asFolder(folder) + "20240229T235959Z-003.report");
  EXPECT_EQ(later, asFolder(folder) + "20240301T000000Z-001.report");
  EXPECT_EQ(entries(folder), (std::vector<std::string>{
                                 "20240229T235959Z-001.report", "20240229T235959Z-002.report",
                                 "20240229T235959Z-003.report", "20240301T000000Z-001.report"}));
  EXPECT_EQ(readFile(first), "first\n");
  EXPECT_EQ(readFile(folder / "20240229T235959Z-002.report"), "someone else's\n");
  EXPECT_EQ(readFile(second), "second\n");
}

TEST_F(UnsentReportsFolder, KeepingFailsWithoutAFolderAndLeavesNothing) {
  // A file where the folder should go: no report can be kept below it.
  fs::create_directories(folder.parent_path());
  writeFile(folder, "in the way\n");
  EXPECT_THROW(store.keep("lost\n", leapDayEnd), kelvo::Failure);
  EXPECT_EQ(entries(folder.parent_path()), std::vector<std::string>{"unsent"});
  EXPECT_EQ(readFile(folder), "in the way\n");

  try {
    UnsentReports(std::string()).keep("lost\n", leapDayEnd);
    ADD_FAILURE() << "kept without a folder";
  } catch (const kelvo::Failure& failure) {
    EXPECT_EQ(failure, zelvor::unknownFolderText);
  }
}

// The atomic write both stores use: a name taken stays as it was when the
// new file must not replace it, and a failed move leaves no temporary file.
TEST_F(UnsentReportsFolder, AtomicWriteLeavesNoTemporaryFileWhenItCannotFinish) {
  using zelvor::ExistingFile;
  fs::create_directories(folder / "a folder");
  writeFile(folder / "taken", "old\n");
  EXPECT_FALSE(
      zelvor::writeFileAtomically((folder / "taken").string(), "new\n", ExistingFile::keep));
  EXPECT_THROW(
      zelvor::writeFileAtomically((folder / "a folder").string(), "new\n", ExistingFile::replace),
      kelvo::Failure);
  EXPECT_EQ(readFile(folder / "taken"), "old\n");
  EXPECT_EQ(entries(folder), (std::vector<std::string>{"a folder", "taken"}));
  EXPECT_TRUE(fs::is_empty(folder / "a folder"));

  EXPECT_TRUE(
      zelvor::writeFileAtomically((folder / "taken").string(), "new\n", ExistingFile::replace));
  EXPECT_EQ(readFile(folder / "taken"), "new\n");
  EXPECT_EQ(entries(folder), (std::vector<std::string>{"a folder", "taken"}));
}

}  // namespace
