#include "ping/run_state.hpp"

namespace zelvor {

MsClock::MsClock() {
  const std::uint64_t frequency = detail::counterFrequency();
  // Only the low 32 bits of the frequency are kept, which holds every
  // counter this program meets (a nanosecond counter is 1e9 per second).
  usesCounter_ = frequency != 0;
  frequency_ = static_cast<std::uint32_t>(frequency);
  origin_ = usesCounter_ ? detail::counterNow() : detail::tickCountMs();
}

std::uint32_t MsClock::now() {
  if (!usesCounter_) return detail::tickCountMs() - static_cast<std::uint32_t>(origin_);
  return ticksToMs(detail::counterNow() - origin_, frequency_);
}

std::uint32_t MsClock::before(std::uint64_t agoNs) {
  if (!usesCounter_) return Clock::before(agoNs);
  return ticksToMs(detail::counterNow() - origin_ - nsToTicks(agoNs, frequency_), frequency_);
}

std::int64_t MsClock::nsToTicks(std::uint64_t ns, std::uint32_t frequency) {
  constexpr std::uint64_t nsPerSecond = 1000000000;
  const std::uint64_t whole = ns / nsPerSecond * frequency;
  const std::uint64_t part = ns % nsPerSecond * frequency / nsPerSecond;
  return static_cast<std::int64_t>(whole + part);
}

std::uint32_t MsClock::ticksToMs(std::int64_t ticks, std::uint32_t frequency) {
  const std::int64_t ms = (ticks * 1000 + frequency - 1) / frequency;
  return static_cast<std::uint32_t>(ms);
}

void ProgressCounter::reset(std::uint32_t total) {
  kelvo::MutexLock lock(lock_);
  total_ = total;
  done_ = 0;
}

std::uint32_t ProgressCounter::advance() {
  kelvo::MutexLock lock(lock_);
  return ++done_;
}

ProgressCounter::Counts ProgressCounter::counts() {
  kelvo::MutexLock lock(lock_);
  return {done_, total_};
}

double ProgressCounter::fraction() {
  const auto [done, total] = counts();
  return static_cast<double>(done) / static_cast<double>(total);
}

}  // namespace zelvor
