#include "surface/platform/window_sync.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <utility>

#include "base/retry.h"

namespace quorvant {

namespace {

void Signal(const UniqueFd& fd) {
  const std::uint64_t one = 1;
  (void)!RetryOnInterrupt([&] { return write(fd.Get(), &one, sizeof one); });
}

void Drain(const UniqueFd& fd) {
  std::uint64_t count = 0;
  (void)!RetryOnInterrupt([&] { return read(fd.Get(), &count, sizeof count); });
}

}  // namespace

WindowSync::WindowSync(std::function<void()> extra_wake)
    : extra_wake_(std::move(extra_wake)),
      window_wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      input_ready_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      window_gone_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WindowSync::WakeWindow() {
  Signal(window_wake_);
  if (extra_wake_) extra_wake_();
}

void WindowSync::ShowAndWait() {
  std::unique_lock lock(mutex_);
  if (gone_) return;
  const std::uint64_t frame = ++frames_asked_;
  lock.unlock();
  WakeWindow();
  lock.lock();
  frame_shown_.wait(lock, [&] { return frames_shown_ >= frame || gone_; });
}

void WindowSync::AskFrame() {
  {
    std::lock_guard lock(mutex_);
    if (gone_) return;
    ++frames_asked_;
  }
  WakeWindow();
}

void WindowSync::RingBell() {
  {
    std::lock_guard lock(mutex_);
    bell_ = true;
  }
  WakeWindow();
}

DroppedInput WindowSync::DropAndWait(InputKind what) {
  std::unique_lock lock(mutex_);
  if (gone_) return {};
  const std::uint64_t drop = ++drops_asked_;
  if (what == InputKind::KeysAndClicks) drop_keys_ = true;
  lock.unlock();
  WakeWindow();
  lock.lock();
  input_dropped_.wait(lock, [&] { return drops_done_ >= drop || gone_; });
  const DroppedInput dropped = dropped_;
  dropped_ = {};
  return dropped;
}

void WindowSync::InputTaken() { WakeWindow(); }

void WindowSync::LogicFinished() {
  {
    std::lock_guard lock(mutex_);
    logic_finished_ = true;
  }
  WakeWindow();
}

WaitEnd WindowSync::WaitForLogic(Clock& clock, const WaitRequest& request,
                                 const std::function<bool()>& input_pending) {
  if (Gone()) return WaitEnd::Closed;
  if (request.until_input && input_pending()) return WaitEnd::Input;

  // The window's going ends every wait; input only an input wait.
  std::array<pollfd, 3> fds{};
  std::size_t count = 0;
  fds[count++] = pollfd{window_gone_.Get(), POLLIN, 0};
  const std::size_t input_at = count;
  if (request.until_input) fds[count++] = pollfd{input_ready_.Get(), POLLIN, 0};
  const std::size_t wake_at = count;
  if (request.wake_fd >= 0) fds[count++] = pollfd{request.wake_fd, POLLIN, 0};

  const int ready = clock.WaitReadable(std::span(fds.data(), count), request.timeout_ms);
  if (ready <= 0) return WaitEnd::Timeout;
  if (fds[0].revents != 0) return WaitEnd::Closed;
  if (request.until_input && fds[input_at].revents != 0) {
    // The signal may be older than input the logic has already taken; the
    // caller then finds nothing, looks again and sleeps: one extra turn.
    Drain(input_ready_);
    return WaitEnd::Input;
  }
  if (request.wake_fd >= 0 && fds[wake_at].revents != 0) return WaitEnd::Woken;
  return WaitEnd::Timeout;
}

WindowSync::Requests WindowSync::TakeRequests() {
  Drain(window_wake_);
  std::lock_guard lock(mutex_);
  Requests requests{frames_asked_, bell_, logic_finished_, 0, false};
  bell_ = false;
  if (drops_asked_ > drops_done_) {
    requests.drop = drops_asked_;
    requests.drop_keys = drop_keys_;
    drop_keys_ = false;
  }
  return requests;
}

void WindowSync::Dropped(std::uint64_t drop, DroppedInput dropped) {
  std::lock_guard lock(mutex_);
  if (drop > drops_done_) drops_done_ = drop;
  dropped_.escape = dropped_.escape || dropped.escape;
  input_dropped_.notify_all();
}

void WindowSync::Presented(std::uint64_t frame) {
  std::lock_guard lock(mutex_);
  if (frame > frames_shown_) frames_shown_ = frame;
  frame_shown_.notify_all();
}

void WindowSync::InputArrived() { Signal(input_ready_); }

void WindowSync::WindowGone() {
  {
    std::lock_guard lock(mutex_);
    if (gone_) return;
    gone_ = true;
    frame_shown_.notify_all();
    input_dropped_.notify_all();
  }
  Signal(window_gone_);
}

bool WindowSync::Gone() const {
  std::lock_guard lock(mutex_);
  return gone_;
}

}  // namespace quorvant
