// Starting, signalling and reaping zelvor-site for the site tests.
#include "site_process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "support/failure.hpp"
#include "support/owned_fd_posix.hpp"

extern char** environ;

namespace zelvor::test {

namespace {

// Runs the site with its stdout and stderr on a pipe; the pid and the
// pipe's read end.
std::pair<pid_t, int> spawnSite(const std::vector<std::string>& arguments) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw kelvo::Failure("pipe failed");
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
  std::vector<std::string> all{ZELVOR_SITE_PROGRAM};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed =
      ::posix_spawn(&pid, ZELVOR_SITE_PROGRAM, &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (failed != 0) {
    ::close(pipeEnds[0]);
    throw kelvo::Failure("cannot start " ZELVOR_SITE_PROGRAM);
  }
  return {pid, pipeEnds[0]};
}

int exitStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

kelvo::OwnedFd connectFrom(std::uint16_t port, const char* from) {
  kelvo::OwnedFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const timeval timeout{20, 0};
  ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &address.sin_addr);
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw kelvo::Failure("cannot bind to " + std::string(from));
  address.sin_port = htons(port);
  ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw kelvo::Failure("cannot connect to the site");
  return socket;
}

Reply exchange(std::uint16_t port, const std::string& request, const char* from) {
  const kelvo::OwnedFd socket = connectFrom(port, from);
  // Bounded: a short send ends the request, whatever the site makes of it.
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t wrote =
        ::send(socket.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (wrote <= 0) break;
    sent += static_cast<std::size_t>(wrote);
  }
  std::string reply;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::recv(socket.get(), buffer, sizeof buffer, 0);
    if (got <= 0) break;
    reply.append(buffer, static_cast<std::size_t>(got));
  }
  Reply parsed;
  if (reply.size() > 12) parsed.status = std::stoi(reply.substr(9, 3));
  const std::size_t bodyStart = reply.find("\r\n\r\n");
  parsed.head = reply.substr(0, bodyStart);
  if (bodyStart != std::string::npos) parsed.body = reply.substr(bodyStart + 4);
  return parsed;
}

std::vector<std::string> storeAgedRuns(site::Store& store, int count, std::int64_t ageMs) {
  const std::int64_t at = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count() -
                          ageMs;
  std::vector<std::string> handles(static_cast<std::size_t>(count));
  std::vector<std::thread> threads;
  constexpr int threadCount = 8;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < count; i += threadCount) {
        const std::string report = "Aged\nh:" + std::to_string(i) + ":\nEND\n";
        handles[static_cast<std::size_t>(i)] =
            store.addRun({"Aged", report, at, double(i), 1, 1, {}, {}, at, {}});
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  return handles;
}

SiteProcess::SiteProcess(const std::string& listFile, const std::string& dataFile,
                         std::vector<std::string> extraArguments) {
  std::vector<std::string> arguments{"--listen", "127.0.0.1:0", "--servers",
                                     listFile,   "--data",      dataFile};
  arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
  const auto [pid, fd] = spawnSite(arguments);
  pid_ = pid;
  reader_ = std::thread([this, fd = fd] { collectLog(fd); });
  std::unique_lock lock(mutex_);
  const std::regex listening("listening on http://127\\.0\\.0\\.1:([0-9]+)/");
  std::smatch match;
  logGrew_.wait_for(lock, std::chrono::seconds(30),
                    [&] { return logEnded_ || std::regex_search(log_, match, listening); });
  if (match.empty()) {
    const std::string failure = "zelvor-site did not start: " + log_;
    lock.unlock();
    signal(SIGKILL);
    reader_.join();
    ::waitpid(pid_, nullptr, 0);
    throw kelvo::Failure(failure);
  }
  port_ = static_cast<std::uint16_t>(std::stoi(match[1].str()));
}

SiteProcess::~SiteProcess() {
  if (!status_) {
    signal(SIGKILL);
    waitForExit(std::chrono::seconds(30));
  }
  if (reader_.joinable()) reader_.join();
}

void SiteProcess::signal(int number) const {
  if (!status_) ::kill(pid_, number);
}

std::optional<int> SiteProcess::waitForExit(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!status_) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = exitStatus(status);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

bool SiteProcess::waitForLog(const std::string& text, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return logGrew_.wait_for(lock, limit, [&] { return log_.find(text) != std::string::npos; });
}

std::string SiteProcess::log() const {
  const std::lock_guard lock(mutex_);
  return log_;
}

void SiteProcess::collectLog(int fd) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    const std::lock_guard lock(mutex_);
    if (got <= 0) {
      logEnded_ = true;
      logGrew_.notify_all();
      break;
    }
    log_.append(buffer, static_cast<std::size_t>(got));
    logGrew_.notify_all();
  }
  ::close(fd);
}

std::pair<int, std::string> SiteProcess::runToEnd(const std::vector<std::string>& arguments) {
  const auto [pid, fd] = spawnSite(arguments);
  std::string output;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {exitStatus(status), output};
}

}  // namespace zelvor::test
