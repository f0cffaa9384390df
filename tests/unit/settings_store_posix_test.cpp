// The settings file: where it is, what a load makes of it, and that a save
// replaces it whole or not at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/file_settings_store.hpp"
#include "scoped_env_posix.hpp"
#include "settings_bounds.hpp"
#include "support/failure.hpp"

namespace zelvor {
void PrintTo(const Settings& settings, std::ostream* out);  // in settings_test.cpp
}

namespace {

namespace fs = std::filesystem;
using zelvor::FileSettingsStore;
using zelvor::Settings;
using zelvor::test::ScopedEnv;

const std::string defaultText =
    "loops=3\ntimeout_new=2000\nairborne_new=16\nthreads=4\nwinx=100\nwiny=100\n";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> entries(const fs::path& directory) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string saveFailure(FileSettingsStore& store, const Settings& settings) {
  try {
    store.save(settings);
  } catch (const kelvo::Failure& text) {
    return text;
  }
  return "saved";
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zelvor-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_F(SettingsFile, LoadGivesDefaultsForWhatIsNotASettingsFile) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
  };
  const std::string atLimit =
      "loops=9\n" + std::string(FileSettingsStore::maxFileBytes - 9, '#') + "\n";
  ASSERT_EQ(atLimit.size(), FileSettingsStore::maxFileBytes);
  const Case cases[] = {
      {"missing", [](const fs::path&) {}},
      {"a directory", [](const fs::path& p) { fs::create_directory(p); }},
      // Opening a FIFO without O_NONBLOCK would wait here for a writer.
      {"a FIFO", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
      {"one byte over the limit", [&](const fs::path& p) { writeFile(p, atLimit + "#"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = dir_ / c.what;
    c.make(path);
    EXPECT_EQ(FileSettingsStore(path.string()).load(), Settings{});
  }
  const fs::path full = dir_ / "at the limit";
  writeFile(full, atLimit);
  EXPECT_EQ(FileSettingsStore(full.string()).load(), Settings{.loops = 9});
}

TEST_F(SettingsFile, SaveWritesTheExactTextAndLoadReadsItBack) {
  const fs::path path = dir_ / "Zelvor.conf";
  writeFile(path, "# a longer file than the one that replaces it\nloops=1\n" + defaultText);
  FileSettingsStore store(path.string());
  const Settings saved{.loops = -1, .timeoutNew = 2147483647, .threads = 0, .winy = -2000};
  store.save(saved);
  EXPECT_EQ(readFile(path),
            "loops=-1\ntimeout_new=2147483647\nairborne_new=16\nthreads=0\nwinx=100\n"
            "winy=-2000\n");
  EXPECT_EQ(store.load(), saved);
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(entries(dir_), std::vector<std::string>{"Zelvor.conf"});
}

// The site and the ip go back as they were stored, even when the program
// cannot use them.
TEST_F(SettingsFile, SiteAndIpAreSavedBackAsTheyWereLoaded) {
  struct Case {
    std::string stored, saved;
  };
  const Case cases[] = {
      {"site=example.test:8080\nloops=5\n",
       "loops=5\ntimeout_new=2000\nairborne_new=16\nthreads=4\nwinx=100\nwiny=100\n"
       "site=example.test:8080\n"},
      {"site=h:0\r\nwinx=7\r\n",
       "loops=3\ntimeout_new=2000\nairborne_new=16\nthreads=4\nwinx=7\nwiny=100\nsite=h:0\n"},
      {"# no site\nthreads=2\n",
       "loops=3\ntimeout_new=2000\nairborne_new=16\nthreads=2\nwinx=100\nwiny=100\n"},
      {"ip=6\n",
       "loops=3\ntimeout_new=2000\nairborne_new=16\nthreads=4\nwinx=100\nwiny=100\nip=6\n"},
      {"ip=v6\r\nsite=h\n",
       "loops=3\ntimeout_new=2000\nairborne_new=16\nthreads=4\nwinx=100\nwiny=100\nsite=h\n"
       "ip=v6\n"},
  };
  const fs::path path = dir_ / "Zelvor.conf";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    writeFile(path, c.stored);
    FileSettingsStore store(path.string());
    store.save(store.load());
    EXPECT_EQ(readFile(path), c.saved);
  }
}

// A value outside its bounds is the user's to correct: the run takes the
// default, the file keeps what was written.
TEST_F(SettingsFile, ValueOutsideItsBoundsIsUsedAsTheDefaultAndSavedAsWritten) {
  const fs::path path = dir_ / "Zelvor.conf";
  for (const zelvor::test::BoundEdge& edge : zelvor::test::settingsBoundEdges()) {
    const std::string line = std::string(edge.name) + "=" + std::to_string(edge.stored) + "\n";
    SCOPED_TRACE(line);
    writeFile(path, line);
    FileSettingsStore store(path.string());
    const Settings loaded = store.load();
    EXPECT_EQ(loaded.*zelvor::test::settingMember(edge.name), edge.stored);
    EXPECT_EQ(zelvor::settingsInUse(loaded).*zelvor::test::settingMember(edge.name), edge.used);
    store.save(loaded);
    const std::string saved = readFile(path);
    EXPECT_NE(saved.find(line), std::string::npos) << saved;
    EXPECT_EQ(store.load(), loaded);
  }
}

TEST_F(SettingsFile, SaveMakesTheMissingDirectoriesForItsOwnerOnly) {
  const mode_t oldMask = ::umask(022);
  FileSettingsStore store((dir_ / "config/Kivrel/Zelvor.conf").string());
  store.save(Settings{});
  ::umask(oldMask);
  EXPECT_EQ(readFile(dir_ / "config/Kivrel/Zelvor.conf"), defaultText);
  for (const char* made : {"config", "config/Kivrel"}) {
    SCOPED_TRACE(made);
    EXPECT_EQ(fs::status(dir_ / made).permissions(), fs::perms::owner_all);
  }
}

TEST_F(SettingsFile, FailedSaveLeavesWhatWasThereAndNoTemporaryFile) {
  struct Case {
    const char* what;
    std::string target;  // below the case's own directory
    std::function<void(const fs::path&)> make;
    std::string reason;
  };
  const Case cases[] = {
      {"a file on the way", "blocker/Kivrel/Zelvor.conf",
       [](const fs::path& d) { writeFile(d / "blocker", "loops=9\n"); }, "Not a directory"},
      {"a directory at the target", "Zelvor.conf",
       [](const fs::path& d) { fs::create_directories(d / "Zelvor.conf/kept"); }, "Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path caseDir = dir_ / c.what;
    fs::create_directory(caseDir);
    c.make(caseDir);
    const std::vector<std::string> before = entries(caseDir);
    FileSettingsStore store((caseDir / c.target).string());
    EXPECT_EQ(saveFailure(store, Settings{}),
              "Settings not saved: " + (caseDir / c.target).string() + ": " + c.reason);
    EXPECT_EQ(entries(caseDir), before);
  }
  EXPECT_EQ(readFile(dir_ / "a file on the way/blocker"), "loops=9\n");
  EXPECT_TRUE(fs::is_directory(dir_ / "a directory at the target/Zelvor.conf/kept"));
}

// A file size limit below the text cuts the write short after some bytes:
// the half-written copy must go and the old file stay as it was.
TEST_F(SettingsFile, WriteCutShortKeepsThePreviousFile) {
  const fs::path path = dir_ / "Zelvor.conf";
  writeFile(path, "loops=9\n");
  FileSettingsStore store(path.string());

  rlimit oldLimit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  rlimit small = oldLimit;
  small.rlim_cur = 10;
  const auto oldAction = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string failure = saveFailure(store, Settings{});
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  ::signal(SIGXFSZ, oldAction);

  EXPECT_EQ(failure, "Settings not saved: " + path.string() + ": File too large");
  EXPECT_EQ(readFile(path), "loops=9\n");
  EXPECT_EQ(entries(dir_), std::vector<std::string>{"Zelvor.conf"});
}

TEST(SettingsFileDefaultPath, FollowsXdgConfigHomeThenHome) {
  struct Case {
    const char* xdgConfigHome;  // null: unset
    const char* home;
    std::string expected;
  };
  const Case cases[] = {
      {"/cfg", "/home/u", "/cfg/Kivrel/Zelvor.conf"},
      {"/cfg", nullptr, "/cfg/Kivrel/Zelvor.conf"},
      {"", "/home/u", "/home/u/.config/Kivrel/Zelvor.conf"},
      {nullptr, "/home/u", "/home/u/.config/Kivrel/Zelvor.conf"},
      {"relative/cfg", "/home/u", "/home/u/.config/Kivrel/Zelvor.conf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("XDG_CONFIG_HOME=") + (c.xdgConfigHome ? c.xdgConfigHome : "(unset)") +
                 " HOME=" + (c.home ? c.home : "(unset)"));
    const ScopedEnv xdg("XDG_CONFIG_HOME", c.xdgConfigHome);
    const ScopedEnv home("HOME", c.home);
    EXPECT_EQ(FileSettingsStore::defaultPath(), c.expected);
  }
}

TEST_F(SettingsFile, SystemStoreIsTheFileBelowXdgConfigHome) {
  const ScopedEnv xdg("XDG_CONFIG_HOME", dir_.c_str());
  const auto store = zelvor::systemSettingsStore();
  store->save(Settings{.threads = 9});
  EXPECT_EQ(readFile(dir_ / "Kivrel/Zelvor.conf"),
            "loops=3\ntimeout_new=2000\nairborne_new=16\nthreads=9\nwinx=100\nwiny=100\n");
  EXPECT_EQ(zelvor::systemSettingsStore()->load(), Settings{.threads = 9});
}

}  // namespace
