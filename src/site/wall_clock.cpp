#include "site/wall_clock.hpp"

#include <chrono>

namespace zelvor::site {

std::int64_t unixNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace zelvor::site
