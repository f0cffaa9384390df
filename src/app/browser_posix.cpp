// The browser through xdg-open, started directly rather than through a
// shell: the address ends in a handle the site chose, and it must reach the
// launcher as one argument whatever characters it holds.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

#include "app/browser.hpp"

extern char** environ;

namespace zelvor {

bool openInBrowser(const std::string& address) {
  std::string program = "xdg-open";
  std::string argument = address;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace zelvor
