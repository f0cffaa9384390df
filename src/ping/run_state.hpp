// The state one measuring run shares between the driver, the engines and the
// window: the run settings, the success flag, the millisecond clock and the
// progress counter.
#pragma once

#include <atomic>
#include <cstdint>

#include "ping/address_choice.hpp"
#include "support/sync.hpp"

namespace zelvor {

// The settings of a measurement, written into the run state by runPing
// before any engine starts and only read afterwards.
struct PingSettings {
  std::uint32_t loops = 0;            // echoes per server
  std::uint32_t timeoutMs = 0;        // how long an echo may take
  std::uint32_t airborne = 0;         // raw-socket requests in flight; 0: no raw-socket engine
  std::uint32_t threads = 0;          // echo-service workers; 0: no echo-service engine
  IpChoice ip = IpChoice::automatic;  // which of a host's addresses is measured
};

// Milliseconds on a monotonic clock. The engines take one, so that tests
// can move time by hand.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since some fixed moment; differences are taken in unsigned
  // 32-bit arithmetic, so the count may wrap.
  virtual std::uint32_t now() = 0;
  // What now() read `agoNs` nanoseconds ago: the reading at a datagram's
  // arrival, when the system stamped it and tells how long it waited to be
  // read. A clock in whole milliseconds drops the part of a millisecond.
  virtual std::uint32_t before(std::uint64_t agoNs) {
    return now() - static_cast<std::uint32_t>(agoNs / 1000000);
  }
};

// Whether the system's ICMP channels ask for the kernel's arrival stamps,
// where it gives them. Without them a reply is timed when it is read, late by
// however long the measuring thread was kept from reading it.
enum class ArrivalStamps { kernel, none };

// The program's clock: milliseconds since it was made, each reading rounded
// up to the next whole millisecond, on the system's high-resolution counter
// (or its millisecond tick count where there is none).
class MsClock : public Clock {
 public:
  MsClock();
  std::uint32_t now() override;
  std::uint32_t before(std::uint64_t agoNs) override;

  // (ticks * 1000 + frequency - 1) / frequency in signed 64-bit arithmetic:
  // the milliseconds in `ticks` of a counter running at `frequency` per
  // second, rounded up; the low 32 bits.
  static std::uint32_t ticksToMs(std::int64_t ticks, std::uint32_t frequency);
  // The ticks in `ns` nanoseconds, rounded down, without overflow for any
  // time this program meets.
  static std::int64_t nsToTicks(std::uint64_t ns, std::uint32_t frequency);

 private:
  bool usesCounter_;
  std::uint32_t frequency_;  // the low 32 bits of the counter's ticks per second
  std::int64_t origin_;      // the counter, or the tick count, when made
};

namespace detail {
// Below the platform seam. The counter's ticks per second, 0 when the system
// has no high-resolution counter.
std::uint64_t counterFrequency() noexcept;
std::int64_t counterNow() noexcept;
// A millisecond tick count that wraps after about 49.7 days.
std::uint32_t tickCountMs() noexcept;
}  // namespace detail

// Done and total echo outcomes of the running engine, read by the window as
// a fraction for the progress bar, and by the terminal client as counts.
class ProgressCounter {
 public:
  struct Counts {
    std::uint32_t done = 0;
    std::uint32_t total = 0;
  };

  // total becomes `total`, done becomes 0.
  void reset(std::uint32_t total);
  // One more outcome; returns the new done count.
  std::uint32_t advance();
  // done / total; not a number when total is 0.
  double fraction();
  // Both counts, read together.
  Counts counts();

 private:
  kelvo::Mutex lock_;
  std::uint32_t done_ = 0;
  std::uint32_t total_ = 0;
};

// Whether any echo of the run succeeded. Set by engines, several worker
// threads at a time; cleared only when a run or an engine starts.
class SuccessFlag {
 public:
  void clear() noexcept { value_.store(false); }
  void set() noexcept { value_.store(true); }
  bool isSet() const noexcept { return value_.load(); }

 private:
  std::atomic<bool> value_{false};
};

// Everything a run shares. The program has one (processRunState); tests make
// their own with a hand-driven clock.
struct RunState {
  PingSettings settings;
  SuccessFlag success;
  ProgressCounter& progress;
  Clock& clock;
  // Signalled once when the program shuts down; every long step polls it.
  kelvo::Event& stop;
};

}  // namespace zelvor
