// How much of a request the idle watcher gathers before a worker takes the
// connection. A worker that found only part of a request would wait for
// the rest; gathering it first means a client that stalls mid-request
// costs a buffer, not a worker.
#pragma once

#include <cstddef>
#include <string_view>

namespace zelvor::site {

struct Gathering {
  // A head longer than this goes to a worker as it is, to be refused there.
  std::size_t headBytes = 16 * 1024;
  // A declared body up to this long is gathered too; a longer one is read by
  // the worker, within the request's deadline.
  std::size_t bodyBytes = 64 * 1024;
};

// True once `received` (the bytes from a request's start) is enough to
// serve without waiting: the head is complete ("\r\n\r\n") and so is any
// body the head declares up to `limits.bodyBytes`; or it cannot be waited
// for (a head over its limit, a body of unknown or larger length, a length
// that does not read).
bool readyToServe(std::string_view received, const Gathering& limits);

}  // namespace zelvor::site
