#include "site/worker_pool.hpp"

namespace zelvor::site {

WorkerPool::WorkerPool(std::size_t workers, Serve serve) : serve_(std::move(serve)) {
  threads_.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::post(std::unique_ptr<Connection> connection) {
  {
    const std::lock_guard lock(mutex_);
    waiting_.push_back(std::move(connection));
  }
  wake_.notify_one();
}

void WorkerPool::work() {
  for (;;) {
    std::unique_ptr<Connection> connection;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return ending_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      connection = std::move(waiting_.front());
      waiting_.pop_front();
    }
    serve_(std::move(connection));
  }
}

}  // namespace zelvor::site
