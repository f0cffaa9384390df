#include "cli/progress_line.hpp"

#include <algorithm>

namespace zelvor::cli {

std::string progressLine(std::uint32_t done, std::uint32_t due, std::uint32_t elapsedMs) {
  const std::uint64_t shown = std::min(done, due);
  const std::size_t filled =
      due == 0 ? 0 : static_cast<std::size_t>(shown * progressBarWidth / due);
  std::string line = "[";
  line.append(filled, '#');
  line.append(progressBarWidth - filled, ' ');
  line += "]  " + std::to_string(done) + " of " + std::to_string(due) + " echoes  ";
  line += std::to_string(elapsedMs / 1000) + '.' + std::to_string(elapsedMs / 100 % 10) + " s";
  return line;
}

}  // namespace zelvor::cli
