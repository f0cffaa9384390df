#include "site/idle_connections.hpp"

#include <sys/epoll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "support/failure.hpp"

namespace zelvor::site {

namespace {

// Deadlines are kept to this granularity at worst: the loop wakes at least
// this often even when nothing happens.
constexpr int longestWaitMs = 1000;

kelvo::Failure systemFailure(const char* what) {
  return kelvo::Failure(std::string(what) + ": " + std::generic_category().message(errno));
}

}  // namespace

IdleConnections::IdleConnections(Ready ready, Gathering gathering, Clock::duration requestTimeout)
    : ready_(std::move(ready)),
      gathering_(gathering),
      requestTimeout_(requestTimeout),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!epoll_.valid()) throw systemFailure("epoll_create1");
  if (!wake_.valid()) throw systemFailure("eventfd");
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = wake_.get();
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &event) != 0)
    throw systemFailure("epoll_ctl");
  thread_ = std::thread([this] { watch(); });
}

IdleConnections::~IdleConnections() { stop(); }

void IdleConnections::add(std::unique_ptr<Connection> connection, Clock::time_point deadline) {
  const std::lock_guard lock(mutex_);
  if (stopped_) return;
  const int fd = connection->fd();
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP;
  event.data.fd = fd;
  // A descriptor epoll refuses is closed with its connection: nothing
  // could ever wake it.
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) return;
  waiting_.emplace(fd, Waiting{std::move(connection), deadline});
  deadlines_.emplace(deadline, fd);
}

void IdleConnections::stop() {
  std::map<int, Waiting> ending;
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    ending.swap(waiting_);
    deadlines_.clear();
  }
  const std::uint64_t one = 1;
  static_cast<void>(::write(wake_.get(), &one, sizeof one));
  if (thread_.joinable()) thread_.join();
  // A request that has begun to arrive is in flight for its client: a
  // worker finishes it. The others are closed here.
  for (auto& [fd, waiting] : ending)
    if (waiting.connection->hasReadAhead()) ready_(std::move(waiting.connection));
}

std::size_t IdleConnections::size() const {
  const std::lock_guard lock(mutex_);
  return waiting_.size();
}

std::unique_ptr<Connection> IdleConnections::take(int fd) {
  const auto found = waiting_.find(fd);
  if (found == waiting_.end()) return nullptr;
  std::unique_ptr<Connection> connection = std::move(found->second.connection);
  deadlines_.erase({found->second.deadline, fd});
  waiting_.erase(found);
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
  return connection;
}

std::unique_ptr<Connection> IdleConnections::gather(int fd, Clock::time_point now) {
  const auto found = waiting_.find(fd);
  if (found == waiting_.end()) return nullptr;
  Connection& connection = *found->second.connection;
  const bool firstBytes = !connection.hasReadAhead();
  const std::size_t room =
      gathering_.headBytes + gathering_.bodyBytes - connection.readAhead().size();
  const long got = connection.receiveAvailable(room);
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
    // Gone, or failed: closed by its owner's destructor.
    take(fd);
    return nullptr;
  }
  if (got < 0) return nullptr;
  if (readyToServe(connection.readAhead(), gathering_)) {
    if (firstBytes) connection.readySince = now;
    return take(fd);
  }
  if (firstBytes) {
    // A request has begun: from now on it has the request's time, however
    // long the connection waited for it.
    connection.readySince = now;
    deadlines_.erase({found->second.deadline, fd});
    found->second.deadline = now + requestTimeout_;
    deadlines_.emplace(found->second.deadline, fd);
  }
  return nullptr;
}

int IdleConnections::closeExpired(Clock::time_point now) {
  while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
    // Closed by its owner's destructor, which also takes it out of epoll.
    take(deadlines_.begin()->second);
  }
  if (deadlines_.empty()) return longestWaitMs;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadlines_.begin()->first - now).count();
  return static_cast<int>(std::clamp<long long>(left, 1, longestWaitMs));
}

void IdleConnections::watch() {
  std::vector<epoll_event> events(64);
  int waitMs = longestWaitMs;
  for (;;) {
    const int count =
        ::epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()), waitMs);
    std::vector<std::unique_ptr<Connection>> woken;
    {
      const std::lock_guard lock(mutex_);
      if (stopped_) return;
      const Clock::time_point now = Clock::now();
      for (int i = 0; i < count; ++i) {
        if (events[i].data.fd == wake_.get()) continue;
        if (auto connection = gather(events[i].data.fd, now))
          woken.push_back(std::move(connection));
      }
      waitMs = closeExpired(now);
    }
    // Outside the lock: the workers' queue has a lock of its own.
    for (auto& connection : woken) ready_(std::move(connection));
  }
}

}  // namespace zelvor::site
