// The unsent reports on Windows, under Wine: in the local application data
// folder, and failures that name the file and the system's error.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/unsent_reports.hpp"
#include "support/failure.hpp"
#include "temporary_folder.hpp"

namespace {

namespace fs = std::filesystem;
using zelvor::UnsentReports;

bool underWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string environment(const char* name) {
  char value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? value : "";
}

// The environment names the folder too, set up by the system apart from
// the shell's folder list the store asks.
TEST(UnsentReportsSystemFolder, IsBelowTheLocalApplicationData) {
  // On a real Windows machine this case would write into the user's folder.
  if (!underWine()) GTEST_SKIP() << "writes into the local application data: run only under Wine";
  const std::string local = environment("LOCALAPPDATA");
  ASSERT_FALSE(local.empty());
  const std::string folder = UnsentReports::defaultFolder();
  EXPECT_EQ(folder, local + "\\Kivrel\\Zelvor\\unsent\\");

  const std::string path = UnsentReports(folder).keep("A\r\nEND\n");
  EXPECT_EQ(fs::path(path).parent_path(), fs::path(local + "\\Kivrel\\Zelvor\\unsent"));
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            "A\r\nEND\n");
  in.close();
  fs::remove_all(local + "\\Kivrel");
}

TEST(UnsentReportsFailure, NamesTheFileAndTheSystemError) {
  const zelvor::test::TemporaryFolder data("unsent-failure");
  std::ofstream(data.path() / "blocker") << "in the way\n";
  const std::string blocked = (data.path() / "blocker" / "unsent" / "").string();
  try {
    UnsentReports(blocked).keep("A\nEND\n", std::chrono::sys_days(std::chrono::year(2024) / 3 / 1));
    ADD_FAILURE() << "kept below a file";
  } catch (const kelvo::Failure& failure) {
    EXPECT_EQ(failure.substr(0, failure.rfind(' ') + 1),
              blocked + "20240301T000000Z-001.report: Windows error ");
  }
}

}  // namespace
