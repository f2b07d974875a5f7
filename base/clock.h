#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <span>

namespace quorvant {

// Every wait and every reading of the time of day goes through a Clock, so
// that tests can run any screen without waiting and at any time of day.
class Clock {
 public:
  virtual ~Clock() = default;

  // Local time of day in milliseconds since midnight, 0..86'399'999.
  virtual std::int64_t MillisecondsSinceMidnight() = 0;
  virtual void Sleep(int milliseconds) = 0;
  // Sleeps until one of `fds` is ready for what its events ask, or for
  // `timeout_ms` (-1: no limit). Returns how many are ready (their revents
  // set), 0 when the time ran out.
  virtual int WaitReadable(std::span<pollfd> fds, int timeout_ms) = 0;

  double SecondsSinceMidnight() { return static_cast<double>(MillisecondsSinceMidnight()) / 1000.0; }
};

// The wall clock: local time through localtime_r, real sleeps.
class RealClock final : public Clock {
 public:
  std::int64_t MillisecondsSinceMidnight() override;
  void Sleep(int milliseconds) override;
  int WaitReadable(std::span<pollfd> fds, int timeout_ms) override;
};

// Time stands still until somebody sleeps; a sleep advances it at once.
// WaitReadable looks at the descriptors without waiting and, when none is
// ready, lets the whole timeout pass at once; only a wait without a limit
// really blocks, for tests where another thread will make a descriptor ready.
// Safe to read from several threads.
class TestClock final : public Clock {
 public:
  explicit TestClock(std::int64_t start_ms = 12 * 3600 * 1000) : now_ms_(start_ms) {}

  std::int64_t MillisecondsSinceMidnight() override;
  void Sleep(int milliseconds) override;
  int WaitReadable(std::span<pollfd> fds, int timeout_ms) override;

  void Set(std::int64_t ms_since_midnight) { now_ms_ = ms_since_midnight; }
  void Advance(std::int64_t milliseconds) { now_ms_ += milliseconds; }
  // Total time advanced by Sleep since construction.
  std::int64_t SleptMilliseconds() const { return slept_ms_; }

 private:
  std::atomic<std::int64_t> now_ms_;
  std::atomic<std::int64_t> slept_ms_{0};
};

}  // namespace quorvant
