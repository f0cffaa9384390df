// Starting, signalling and reaping zelvor-site for the site tests.
#include "site_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

extern char** environ;

namespace zelvor::test {

namespace {

// Runs the site with its stderr on a pipe; the pid and the pipe's read end.
std::pair<pid_t, int> spawnSite(const std::vector<std::string>& arguments) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::string("pipe failed");
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
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
    throw std::string("cannot start " ZELVOR_SITE_PROGRAM);
  }
  return {pid, pipeEnds[0]};
}

int exitStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TemporaryFolder::TemporaryFolder() {
  const char* const base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/zelvor-site-test.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::string("mkdtemp failed");
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TemporaryFolder::write(const std::string& name, const std::string& text) const {
  const std::string file = path_ + "/" + name;
  // Replaced whole, as an editor saving the file would.
  const std::string partial = file + ".new";
  std::ofstream(partial, std::ios::binary) << text;
  std::filesystem::rename(partial, file);
  return file;
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
    throw failure;
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
