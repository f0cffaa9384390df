// openInBrowser against a stand-in xdg-open first on PATH: the address
// arrives as one argument, unchanged, and only an exit status of 0 counts.
#include "app/browser_posix.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/browser.hpp"

namespace {

class Browser : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zelvor-browser-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* path = std::getenv("PATH");
    oldPath_ = path == nullptr ? "" : path;
    setenv("PATH", dir_.c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    std::remove((dir_ + "/xdg-open").c_str());
    std::remove((dir_ + "/arguments").c_str());
    rmdir(dir_.c_str());
  }

  // An xdg-open that writes its argument count and arguments, then exits
  // with `status`.
  void installLauncher(int status) {
    const std::string launcher = dir_ + "/xdg-open";
    std::ofstream(launcher) << "#!/bin/sh\n{ echo \"$#\"; printf '%s\\n' \"$@\"; } > '" << dir_
                            << "/arguments'\nexit " << status << "\n";
    chmod(launcher.c_str(), 0755);
  }

  std::string recorded() const {
    std::ifstream in(dir_ + "/arguments");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string dir_;
  std::string oldPath_;
};

TEST_F(Browser, AddressReachesTheLauncherAsOneUnchangedArgument) {
  installLauncher(0);
  const std::string address = "http://localhost/zelvor?handle=a b;$(touch x)'\"*";
  EXPECT_TRUE(zelvor::openInBrowser(address));
  EXPECT_EQ(recorded(), "1\n" + address + "\n");
}

TEST_F(Browser, OnlyExitStatusZeroIsSuccess) {
  installLauncher(3);
  EXPECT_FALSE(zelvor::openInBrowser("http://localhost/zelvor?handle=h"));
  EXPECT_EQ(recorded(), "1\nhttp://localhost/zelvor?handle=h\n");
}

// A launcher that runs the browser itself returns only when the browser
// closes; the job goes on once the wait is over and counts the page open.
TEST_F(Browser, LauncherStillRunningAfterTheWaitCountsAsLaunched) {
  const std::string launcher = dir_ + "/xdg-open";
  std::ofstream(launcher) << "#!/bin/sh\necho $$ > '" << dir_
                          << "/arguments'\nexec /bin/sleep 30\n";
  chmod(launcher.c_str(), 0755);
  EXPECT_TRUE(zelvor::openInBrowserWaiting("http://localhost/zelvor?handle=h", 300));
  const std::string pid = recorded();
  ASSERT_FALSE(pid.empty());
  const pid_t launcherPid = static_cast<pid_t>(std::stol(pid));
  EXPECT_EQ(kill(launcherPid, 0), 0) << "the launcher was left to run";
  kill(launcherPid, SIGKILL);
}

TEST_F(Browser, LauncherFailingWithinTheWaitIsAFailure) {
  installLauncher(4);
  EXPECT_FALSE(zelvor::openInBrowserWaiting("http://localhost/zelvor?handle=h", 10000));
}

TEST_F(Browser, MissingLauncherIsAFailure) {
  EXPECT_FALSE(zelvor::openInBrowser("http://localhost/zelvor?handle=h"));
}

}  // namespace
