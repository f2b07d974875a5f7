#include "base/clock.h"

#include <time.h>

#include <cerrno>

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

std::int64_t TestClock::MillisecondsSinceMidnight() { return ((now_ms_ % DayMs) + DayMs) % DayMs; }

void TestClock::Sleep(int milliseconds) {
  if (milliseconds <= 0) return;
  now_ms_ += milliseconds;
  slept_ms_ += milliseconds;
}

}  // namespace quorvant
