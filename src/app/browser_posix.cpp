// The browser through xdg-open, started directly rather than through a
// shell: the address ends in a handle the site chose, and it must reach the
// launcher as one argument whatever characters it holds.
#include "app/browser_posix.hpp"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "app/browser.hpp"

extern char** environ;

namespace zelvor {

namespace {

constexpr auto pollInterval = std::chrono::milliseconds(20);

// The launcher's state once it has ended, or nothing while it runs.
enum class LauncherState { running, succeeded, failed };

LauncherState poll(pid_t child) {
  int status = 0;
  pid_t ended = 0;
  do {
    ended = ::waitpid(child, &status, WNOHANG);
  } while (ended < 0 && errno == EINTR);
  if (ended == 0) return LauncherState::running;
  if (ended < 0) return LauncherState::failed;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? LauncherState::succeeded
                                                       : LauncherState::failed;
}

// A launcher left running is still reaped when it ends, so that it does not
// linger as a zombie for the rest of the program's life.
void reapLater(pid_t child) {
  std::thread([child] {
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace

bool openInBrowserWaiting(const std::string& address, std::uint32_t waitMs) {
  std::string program = "xdg-open";
  std::string argument = address;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    const LauncherState state = poll(child);
    if (state != LauncherState::running) return state == LauncherState::succeeded;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(pollInterval);
  }
  reapLater(child);
  return true;
}

bool openInBrowser(const std::string& address) {
  return openInBrowserWaiting(address, launcherWaitMs);
}

}  // namespace zelvor
