// A bounded pool of read-only connections, each lent to one thread at a time,
// so that many threads read at once without waiting for the writer.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "site/sqlite_reader.hpp"

namespace zelvor::site {

class SqliteReaderPool {
 public:
  // Opens connections as they are first needed, never more than
  // `maxReaders`; a thread finding them all lent waits for one.
  SqliteReaderPool(std::string path, std::size_t maxReaders);

  // A reader for as long as the lease lives.
  class Lease {
   public:
    Lease(SqliteReaderPool& pool, std::unique_ptr<SqliteReader> reader)
        : pool_(pool), reader_(std::move(reader)) {}
    ~Lease() { pool_.giveBack(std::move(reader_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    SqliteReader* operator->() const { return reader_.get(); }

   private:
    SqliteReaderPool& pool_;
    std::unique_ptr<SqliteReader> reader_;
  };

  Lease lease() { return Lease(*this, take()); }

 private:
  std::unique_ptr<SqliteReader> take();
  void giveBack(std::unique_ptr<SqliteReader> reader);

  const std::string path_;
  const std::size_t maxReaders_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<SqliteReader>> idle_;
  // Lent, idle and being opened.
  std::size_t opened_ = 0;
};

}  // namespace zelvor::site
