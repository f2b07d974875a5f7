#include "surface/platform/headless_platform.h"

#include <poll.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>

#include "base/keys.h"
#include "surface/platform/refresh_cycle.h"

namespace quorvant {

HeadlessPlatform& HeadlessPlatform::Key(std::string key) {
  steps_.push_back(Step{StepKind::Key, std::move(key), {}, 0, {}, {}});
  return *this;
}

HeadlessPlatform& HeadlessPlatform::KeyAhead(std::string key) {
  steps_.push_back(Step{StepKind::KeyAhead, std::move(key), {}, 0, {}, {}});
  return *this;
}

HeadlessPlatform& HeadlessPlatform::KeyHeld(std::string key, int repeats) {
  Key(key);
  for (int i = 0; i < repeats; ++i) {
    Step step{StepKind::KeyAhead, key, {}, 0, {}, {}};
    step.repeat = true;
    steps_.push_back(std::move(step));
  }
  return *this;
}

HeadlessPlatform& HeadlessPlatform::KeyDuringPause(std::string key, bool repeat) {
  Step step{StepKind::PauseKey, std::move(key), {}, 0, {}, {}};
  step.repeat = repeat;
  steps_.push_back(std::move(step));
  return *this;
}

HeadlessPlatform& HeadlessPlatform::ClickDuringPause(Point at, int kind) {
  steps_.push_back(Step{StepKind::PauseClick, {}, {kind, at.x, at.y}, 0, {}, {}});
  return *this;
}

HeadlessPlatform& HeadlessPlatform::Type(std::string_view text) {
  for (char c : text) Key(std::string(1, c));
  return *this;
}

HeadlessPlatform& HeadlessPlatform::Click(int x, int y, int kind) {
  steps_.push_back(Step{StepKind::Click, {}, {kind, x, y}, 0, {}, {}});
  return *this;
}

HeadlessPlatform& HeadlessPlatform::ClickWhere(std::function<quorvant::Click()> where) {
  Step step{StepKind::Click, {}, {}, 0, {}, {}};
  step.where = std::move(where);
  steps_.push_back(std::move(step));
  return *this;
}

HeadlessPlatform& HeadlessPlatform::Wait(int milliseconds) {
  steps_.push_back(Step{StepKind::Wait, {}, {}, milliseconds, {}, {}});
  return *this;
}

HeadlessPlatform& HeadlessPlatform::Do(std::function<void()> action) {
  steps_.push_back(Step{StepKind::Do, {}, {}, 0, std::move(action), {}});
  return *this;
}

HeadlessPlatform& HeadlessPlatform::KeyDuringProgress(std::string key, int polls_first) {
  steps_.push_back(Step{StepKind::ProgressKey, std::move(key), {}, polls_first, {}, {}});
  return *this;
}

HeadlessPlatform& HeadlessPlatform::CloseDuringProgress(int polls_first) {
  steps_.push_back(Step{StepKind::ProgressClose, {}, {}, polls_first, {}, {}});
  return *this;
}

HeadlessPlatform& HeadlessPlatform::Close() {
  steps_.push_back(Step{StepKind::Close, {}, {}, 0, {}, {}});
  return *this;
}

bool HeadlessPlatform::CreateWindow(const char* caption, int x, int y, Surface& surface) {
  caption_ = caption;
  window_x_ = x;
  window_y_ = y;
  surface_ = &surface;
  window_made_ = true;
  Link().Alive.store(1);
  return true;
}

// Program time as a running total, immune to the clock wrapping at midnight.
void HeadlessPlatform::UpdateElapsed() {
  std::int64_t now = clock_.MillisecondsSinceMidnight();
  if (last_clock_ms_ >= 0) {
    std::int64_t delta = now - last_clock_ms_;
    if (delta < 0) delta += 86'400'000;
    clock_elapsed_ms_ += delta;
  }
  last_clock_ms_ = now;
}

void HeadlessPlatform::ShowDrawing() {
  if (surface_ == nullptr) return;
  surface_->PresentIfDirty([&](const Image& image, const Rect&) {
    wait_log_.push_back(WaitRecord{WaitKind::Presented, 0, frames_});
    if (present_observer_) present_observer_(frames_, image);
    ++frames_;
  });
}

WaitEnd HeadlessPlatform::Block(Clock& clock, const WaitRequest& request) {
  if (closed_) ++reads_after_close_;
  if (!request.until_input) {
    wait_log_.push_back(WaitRecord{WaitKind::Paused, request.timeout_ms, -1});
    TakePauseSteps();
    clock.Sleep(request.timeout_ms);
    return closed_ ? WaitEnd::Closed : WaitEnd::Timeout;
  }
  wait_log_.push_back(WaitRecord{WaitKind::WaitedForInput, request.timeout_ms, -1});
  UpdateElapsed();
  const std::int64_t start_ms = clock_elapsed_ms_;
  for (;;) {
    UpdateElapsed();
    if (closed_) return WaitEnd::Closed;
    HandOverClick(Link(), clicks_);
    if (!keys_.Empty() || Link().ClickKind.load() != 0) return WaitEnd::Input;
    if (request.wake_fd >= 0) {
      pollfd wake{request.wake_fd, POLLIN, 0};
      if (clock.WaitReadable(std::span(&wake, 1), 0) > 0) return WaitEnd::Woken;
    }
    const std::int64_t waited_ms = clock_elapsed_ms_ - start_ms;
    if (request.timeout_ms >= 0 && waited_ms >= request.timeout_ms) return WaitEnd::Timeout;
    TakeStep(clock, request.timeout_ms >= 0 ? request.timeout_ms - waited_ms : INT64_MAX);
  }
}

void HeadlessPlatform::TakeStep(Clock& clock, std::int64_t left_ms) {
  if (steps_.empty()) {
    CloseWindow();
    return;
  }
  Step& step = steps_.front();
  switch (step.kind) {
    case StepKind::Key:
    case StepKind::KeyAhead:
    case StepKind::ProgressKey:  // not in a long operation: the key comes to an idle wait instead
    case StepKind::PauseKey:     // not in a timed wait: the same
      keys_.Push(KeyStroke{std::move(step.key), step.repeat});
      steps_.pop_front();
      while (!steps_.empty() && steps_.front().kind == StepKind::KeyAhead) {
        keys_.Push(KeyStroke{std::move(steps_.front().key), steps_.front().repeat});
        steps_.pop_front();
      }
      return;
    case StepKind::PauseClick:
    case StepKind::Click:
      clicks_.Push(step.where ? step.where() : step.click);
      steps_.pop_front();
      return;
    case StepKind::Wait:
      if (wait_until_ms_ < 0) wait_until_ms_ = clock_elapsed_ms_ + step.milliseconds;
      if (clock_elapsed_ms_ >= wait_until_ms_) {
        wait_until_ms_ = -1;
        steps_.pop_front();
        return;
      }
      // The program sleeps until the step is due, or until its own limit.
      clock.Sleep(static_cast<int>(std::min(wait_until_ms_ - clock_elapsed_ms_, left_ms)));
      return;
    case StepKind::Do: {
      auto action = std::move(step.action);
      steps_.pop_front();
      action();
      return;
    }
    case StepKind::ProgressClose:
    case StepKind::Close:
      steps_.pop_front();
      CloseWindow();
      return;
  }
}

void HeadlessPlatform::TakeProgressStep() {
  if (steps_.empty()) return;
  Step& step = steps_.front();
  // A long operation only sees the steps meant for it.
  if (step.kind != StepKind::ProgressKey && step.kind != StepKind::ProgressClose) return;
  if (progress_polls_++ < step.milliseconds) return;
  progress_polls_ = 0;
  if (step.kind == StepKind::ProgressKey) keys_.Push(KeyStroke{std::move(step.key), step.repeat});
  if (step.kind == StepKind::ProgressClose) CloseWindow();
  steps_.pop_front();
}

void HeadlessPlatform::TakePauseSteps() {
  while (!steps_.empty() &&
         (steps_.front().kind == StepKind::PauseKey || steps_.front().kind == StepKind::PauseClick)) {
    Step& step = steps_.front();
    if (step.kind == StepKind::PauseKey) {
      keys_.Push(KeyStroke{std::move(step.key), step.repeat});
    } else {
      clicks_.Push(step.click);
    }
    steps_.pop_front();
  }
}

void HeadlessPlatform::CloseWindow() {
  closed_ = true;
  closed_at_ms_ = clock_elapsed_ms_;
  Link().Alive.store(0);
}

KeyStroke HeadlessPlatform::ReadKeyStroke(KeySite site) {
  if (!window_made_) return {};
  if (closed_) ++reads_after_close_;
  HandOverClick(Link(), clicks_);
  if (site == KeySite::Progress && keys_.Empty()) TakeProgressStep();
  std::optional<KeyStroke> key = keys_.Pop();
  return key ? std::move(*key) : KeyStroke{};
}

DroppedInput HeadlessPlatform::DropInput(InputKind what) {
  ++drops_;
  DroppedInput dropped;
  if (what == InputKind::KeysAndClicks) {
    for (std::optional<KeyStroke> key = keys_.Pop(); key; key = keys_.Pop()) {
      ++dropped_keys_;
      if (key::Is(key->text, key::Escape)) dropped.escape = true;
    }
  }
  if (Link().ClickKind.load() != 0) ++dropped_clicks_;
  Link().ClearClick();
  for (std::optional<quorvant::Click> click = clicks_.Pop(); click; click = clicks_.Pop()) ++dropped_clicks_;
  return dropped;
}

}  // namespace quorvant
