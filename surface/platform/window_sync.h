#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "base/clock.h"
#include "base/unique_fd.h"
#include "surface/platform/platform.h"

namespace quorvant {

// How the window thread and the logic thread wake each other. Neither ever
// polls: each sleeps on descriptors until the other has something for it.
//
//   logic -> window   ShowAndWait (a frame to show, then wait until shown),
//                     AskFrame (the same without waiting), RingBell,
//                     DropAndWait (drop the input that came, then wait until
//                     dropped), InputTaken (room again in a full queue),
//                     LogicFinished: all through WindowWakeFd
//   window -> logic   InputArrived (a key or click queued), WindowGone: the
//                     logic's waits sleep on these in WaitForLogic
//
// A frame asked for is acknowledged once the window thread has presented
// everything drawn before the request, and a drop once the window thread has
// dropped everything that came before it, or either at once when the window
// is gone, so neither wait ever hangs on a window that no longer exists.
class WindowSync {
 public:
  // `extra_wake`, if given, is called after every write to WindowWakeFd, for
  // a window thread that sleeps somewhere else (SDL's own event wait).
  explicit WindowSync(std::function<void()> extra_wake = {});

  // --- The logic's side ------------------------------------------------
  void ShowAndWait();
  void AskFrame();
  void RingBell();
  DroppedInput DropAndWait(InputKind what);
  void InputTaken();
  void LogicFinished();
  // Sleeps as `request` says. `input_pending` tells whether a key or click
  // is already there (it may hand over a queued click); it is asked before
  // sleeping, so input that came earlier ends the wait at once.
  WaitEnd WaitForLogic(Clock& clock, const WaitRequest& request, const std::function<bool()>& input_pending);

  // --- The window thread's side ------------------------------------------
  // Readable while the logic wants something.
  int WindowWakeFd() const { return window_wake_.Get(); }
  struct Requests {
    std::uint64_t frame = 0;  // the newest frame asked for; give it to Presented
    bool bell = false;
    bool logic_finished = false;
    std::uint64_t drop = 0;  // a drop asked for and not yet done (0: none); give it to Dropped
    bool drop_keys = false;  // the keys too, not only the clicks
  };
  // Takes what the logic asked for since the last call.
  Requests TakeRequests();
  // Everything drawn before the request for `frame` has been presented.
  void Presented(std::uint64_t frame);
  // The input of drop request `drop` is gone; `dropped` says what it held.
  void Dropped(std::uint64_t drop, DroppedInput dropped);
  void InputArrived();
  // The window is closed; every wait of the logic ends, now and later.
  void WindowGone();
  bool Gone() const;

 private:
  void WakeWindow();

  std::function<void()> extra_wake_;
  UniqueFd window_wake_;  // eventfd: logic -> window
  UniqueFd input_ready_;  // eventfd: window -> logic, a key or click queued
  UniqueFd window_gone_;  // eventfd: window -> logic, written once, never drained

  mutable std::mutex mutex_;
  std::condition_variable frame_shown_;
  std::uint64_t frames_asked_ = 0;
  std::uint64_t frames_shown_ = 0;
  std::condition_variable input_dropped_;
  std::uint64_t drops_asked_ = 0;
  std::uint64_t drops_done_ = 0;
  bool drop_keys_ = false;
  DroppedInput dropped_;
  bool bell_ = false;
  bool logic_finished_ = false;
  bool gone_ = false;
};

}  // namespace quorvant
