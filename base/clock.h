#pragma once

#include <atomic>
#include <cstdint>

namespace quorvant {

// Every wait and every reading of the time of day goes through a Clock, so
// that tests can run any screen without waiting and at any time of day.
class Clock {
 public:
  virtual ~Clock() = default;

  // Local time of day in milliseconds since midnight, 0..86'399'999.
  virtual std::int64_t MillisecondsSinceMidnight() = 0;
  virtual void Sleep(int milliseconds) = 0;

  double SecondsSinceMidnight() { return static_cast<double>(MillisecondsSinceMidnight()) / 1000.0; }
};

// The wall clock: local time through localtime_r, real sleeps.
class RealClock final : public Clock {
 public:
  std::int64_t MillisecondsSinceMidnight() override;
  void Sleep(int milliseconds) override;
};

// Time stands still until somebody sleeps; a sleep advances it at once.
// Safe to read from several threads.
class TestClock final : public Clock {
 public:
  explicit TestClock(std::int64_t start_ms = 12 * 3600 * 1000) : now_ms_(start_ms) {}

  std::int64_t MillisecondsSinceMidnight() override;
  void Sleep(int milliseconds) override;

  void Set(std::int64_t ms_since_midnight) { now_ms_ = ms_since_midnight; }
  void Advance(std::int64_t milliseconds) { now_ms_ += milliseconds; }
  // Total time advanced by Sleep since construction.
  std::int64_t SleptMilliseconds() const { return slept_ms_; }

 private:
  std::atomic<std::int64_t> now_ms_;
  std::atomic<std::int64_t> slept_ms_{0};
};

}  // namespace quorvant
