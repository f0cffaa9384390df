// The real zelvor-site, started for a test on 127.0.0.1 with a free port,
// a list file and a data file in a folder of the test's own; its log is
// collected while it runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "site/store.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor::test {

// Stores `count` one-sample runs received `ageMs` ago, from several threads
// at once; their handles.
std::vector<std::string> storeAgedRuns(site::Store& store, int count, std::int64_t ageMs);

// A connection to 127.0.0.1:`port` from the loopback address `from`, with
// 20 s time-outs on its sends and receives. Throws a text when it cannot
// connect.
kelvo::OwnedFd connectFrom(std::uint16_t port, const char* from);

// The status line's code, the head and the body of the whole reply to
// `request`, sent as it is on a connection of its own to 127.0.0.1:`port`
// from the loopback address `from`. Throws a text when it cannot connect.
struct Reply {
  int status = 0;
  std::string head;
  std::string body;
};
Reply exchange(std::uint16_t port, const std::string& request, const char* from = "127.0.0.1");

class SiteProcess {
 public:
  // Starts the site and waits until it listens; throws a text when it does
  // not start (with its log).
  SiteProcess(const std::string& listFile, const std::string& dataFile,
              std::vector<std::string> extraArguments = {});
  // Ends the site with SIGKILL if it still runs.
  ~SiteProcess();
  SiteProcess(const SiteProcess&) = delete;
  SiteProcess& operator=(const SiteProcess&) = delete;

  std::uint16_t port() const { return port_; }
  void signal(int number) const;
  // The exit status (or 128 + signal) once the site has ended, waiting at
  // most `limit`; none when it still runs.
  std::optional<int> waitForExit(std::chrono::milliseconds limit);
  // True once the log holds `text`, waiting at most `limit`.
  bool waitForLog(const std::string& text, std::chrono::milliseconds limit);
  std::string log() const;

  // Starts the program with `arguments` alone and returns its exit status
  // and everything it wrote to stdout and stderr.
  static std::pair<int, std::string> runToEnd(const std::vector<std::string>& arguments);

 private:
  void collectLog(int fd);

  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  std::optional<int> status_;
  mutable std::mutex mutex_;
  std::condition_variable logGrew_;
  std::string log_;
  bool logEnded_ = false;
  std::thread reader_;
};

}  // namespace zelvor::test
