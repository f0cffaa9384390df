// The unsent reports on POSIX systems: below the user's data folder, made
// for its owner only, and a write cut short leaving nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/unsent_reports.hpp"
#include "scoped_env_posix.hpp"
#include "support/failure.hpp"
#include "temporary_folder.hpp"

namespace {

namespace fs = std::filesystem;
using zelvor::UnsentReports;
using zelvor::test::ScopedEnv;

std::string keepFailure(const UnsentReports& store, const std::string& report,
                        std::chrono::system_clock::time_point time) {
  try {
    return "kept in " + store.keep(report, time);
  } catch (const kelvo::Failure& text) {
    return text;
  }
}

TEST(UnsentReportsDefaultFolder, FollowsXdgDataHomeThenHome) {
  struct Case {
    const char* xdgDataHome;  // null: unset
    const char* home;
    std::string expected;
  };
  const Case cases[] = {
      {"/data", "/home/u", "/data/Kivrel/Zelvor/unsent/"},
      {"/data", nullptr, "/data/Kivrel/Zelvor/unsent/"},
      {"", "/home/u", "/home/u/.local/share/Kivrel/Zelvor/unsent/"},
      {nullptr, "/home/u", "/home/u/.local/share/Kivrel/Zelvor/unsent/"},
      {"relative/data", "/home/u", "/home/u/.local/share/Kivrel/Zelvor/unsent/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("XDG_DATA_HOME=") + (c.xdgDataHome ? c.xdgDataHome : "(unset)") +
                 " HOME=" + (c.home ? c.home : "(unset)"));
    const ScopedEnv xdg("XDG_DATA_HOME", c.xdgDataHome);
    const ScopedEnv home("HOME", c.home);
    EXPECT_EQ(UnsentReports::defaultFolder(), c.expected);
  }
}

TEST(UnsentReportsSystemFolder, IsMadeBelowXdgDataHomeForItsOwnerOnly) {
  const zelvor::test::TemporaryFolder data("unsent-data");
  const ScopedEnv xdg("XDG_DATA_HOME", data.path().c_str());
  const mode_t oldMask = ::umask(022);
  const std::string path = UnsentReports(UnsentReports::defaultFolder()).keep("A\nEND\n");
  ::umask(oldMask);

  const fs::path folder = data.path() / "Kivrel/Zelvor/unsent";
  EXPECT_EQ(fs::path(path).parent_path(), folder);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            "A\nEND\n");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  for (const char* made : {"Kivrel", "Kivrel/Zelvor", "Kivrel/Zelvor/unsent"}) {
    SCOPED_TRACE(made);
    EXPECT_EQ(fs::status(data.path() / made).permissions(), fs::perms::owner_all);
  }
}

TEST(UnsentReportsFailure, SaysWhichFileAndWhy) {
  const zelvor::test::TemporaryFolder data("unsent-failure");
  const auto time = std::chrono::sys_days(std::chrono::year(2024) / 3 / 1);
  const std::string name = "20240301T000000Z-001.report";

  std::ofstream(data.path() / "blocker") << "in the way\n";
  const std::string blocked = (data.path() / "blocker/unsent/").string();
  EXPECT_EQ(keepFailure(UnsentReports(blocked), "A\nEND\n", time),
            blocked + name + ": Not a directory");

  // A file size limit below the report cuts the write short after some
  // bytes: the half-written copy must go with the failure.
  const std::string folder = (data.path() / "unsent/").string();
  rlimit oldLimit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  rlimit small = oldLimit;
  small.rlim_cur = 10;
  const auto oldAction = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string failure = keepFailure(UnsentReports(folder), std::string(100, 'x'), time);
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  ::signal(SIGXFSZ, oldAction);
  EXPECT_EQ(failure, folder + name + ": File too large");
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
