// The value axis every chart of the site draws against: round numbers of
// milliseconds from zero or below.
#pragma once

#include <cstdint>

namespace zelvor::site {

// A value axis from `low` to `high` with a tick every `step`, all round
// numbers of milliseconds.
struct Axis {
  double low = 0;
  double high = 1;
  double step = 1;

  double fraction(double value) const { return (value - low) / (high - low); }
  std::int64_t tickCount() const;
  double tick(std::int64_t index) const { return low + static_cast<double>(index) * step; }
};

// Spans [smallest, largest] and 0 in about `intervals` steps of 1, 2 or 5
// times a power of ten, never below 1; latency reads against zero, so the
// axis always starts there or below.
Axis roundAxis(double smallest, double largest, int intervals);

}  // namespace zelvor::site
