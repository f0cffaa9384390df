// A fixed number of threads that serve connections in the order they were
// handed over. Each worker serves one request at a time, so their number
// bounds the requests in progress, never the connections open.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "site/connection.hpp"

namespace zelvor::site {

class WorkerPool {
 public:
  // `serve` must not throw.
  using Serve = std::function<void(std::unique_ptr<Connection>)>;

  WorkerPool(std::size_t workers, Serve serve);
  // Serves the connections handed over so far, then ends the threads.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void post(std::unique_ptr<Connection> connection);

 private:
  void work();

  Serve serve_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::unique_ptr<Connection>> waiting_;
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace zelvor::site
