// The user's base folders as the XDG base directory rules name them, for
// the POSIX files that keep the program's files: settings and reports.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace zelvor {

// $HOME, or the user's entry in the password database when HOME is unset or
// empty. Empty when neither knows it.
inline std::string homeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  std::vector<char> buffer(static_cast<std::size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr) {
    return "";
  }
  return found->pw_dir;
}

// The folder the environment variable `variable` names, or `belowHome`
// (such as "/.config") in the home folder when it is unset, empty or
// relative: a relative one would make the place depend on the working
// folder, and the rules say to ignore it. Empty when the home is unknown.
inline std::string xdgBaseFolder(const char* variable, const char* belowHome) {
  const char* named = std::getenv(variable);
  if (named != nullptr && named[0] == '/') return named;
  const std::string home = homeFolder();
  if (home.empty()) return "";
  return home + belowHome;
}

}  // namespace zelvor
