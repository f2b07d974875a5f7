#include "base/clock.h"

#include <time.h>

#include <cerrno>

#include "base/retry.h"

namespace quorvant {

namespace {
constexpr std::int64_t DayMs = 86'400'000;
}

std::int64_t RealClock::MillisecondsSinceMidnight() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return (static_cast<std::int64_t>(local.tm_hour) * 3600 + local.tm_min * 60 + local.tm_sec) * 1000 +
         now.tv_nsec / 1'000'000;
}

void RealClock::Sleep(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec wait{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1'000'000};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

int RealClock::WaitReadable(std::span<pollfd> fds, int timeout_ms) {
  if (timeout_ms < 0) {
    return RetryOnInterrupt([&] { return poll(fds.data(), fds.size(), -1); });
  }
  // A signal must not stretch the wait: what is left is measured on the
  // monotonic clock, which no change of the time of day moves.
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t waited_ms =
        (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1'000'000;
    const int left_ms = waited_ms >= timeout_ms ? 0 : static_cast<int>(timeout_ms - waited_ms);
    const int ready = poll(fds.data(), fds.size(), left_ms);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

std::int64_t TestClock::MillisecondsSinceMidnight() { return ((now_ms_ % DayMs) + DayMs) % DayMs; }

void TestClock::Sleep(int milliseconds) {
  if (milliseconds <= 0) return;
  now_ms_ += milliseconds;
  slept_ms_ += milliseconds;
}

int TestClock::WaitReadable(std::span<pollfd> fds, int timeout_ms) {
  const int ready = RetryOnInterrupt([&] { return poll(fds.data(), fds.size(), timeout_ms < 0 ? -1 : 0); });
  if (ready == 0) Sleep(timeout_ms);
  return ready;
}

}  // namespace quorvant
