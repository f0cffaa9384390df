#include "site/chart_axis.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace zelvor::site {

namespace {

// A tick between whole milliseconds would mark a value no sample can have.
double roundStep(double rough) {
  double magnitude = 1;
  while (magnitude * 10 <= rough) magnitude *= 10;
  for (const double factor : {1.0, 2.0, 5.0})
    if (factor * magnitude >= rough) return factor * magnitude;
  return 10 * magnitude;
}

}  // namespace

std::int64_t Axis::tickCount() const { return std::llround((high - low) / step) + 1; }

Axis roundAxis(double smallest, double largest, int intervals) {
  smallest = std::min(smallest, 0.0);
  largest = std::max(largest, 0.0);
  const double step = roundStep((largest - smallest) / intervals);
  Axis axis{std::floor(smallest / step) * step, std::ceil(largest / step) * step, step};
  if (axis.high <= axis.low) axis.high = axis.low + step;
  return axis;
}

}  // namespace zelvor::site
