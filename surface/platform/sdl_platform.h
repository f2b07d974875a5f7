#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "base/clock.h"
#include "surface/platform/input_queue.h"
#include "surface/platform/platform.h"
#include "surface/platform/window_sync.h"

struct SDL_Window;
union SDL_Event;

namespace quorvant {

// The real window, through SDL2, on X11 or Wayland only. SDL wants its window
// and events on the process's main thread, so that thread runs the window and
// the program's logic runs on a thread of its own:
//
//   main thread:  Run() -> waits for CreateWindow -> sleeps on the window
//                 system's connection and the logic's wake-up descriptor;
//                 queues keys and clicks (a few; the rest wait in SDL's own
//                 queue), presents frames the logic asks for, drops the
//                 input it asks to drop, rings the bell
//   logic thread: the program, calling CreateWindow (which blocks until the
//                 window exists), ReadKey, Beep and Wait
//
// Neither thread wakes unless something happened (window_sync.h).
// The process's exit status when the connection to the display was lost
// (the X server died, the session ended), once a file run in progress was
// let finish: neither a closed window (0) nor a window that never opened (1).
inline constexpr int ExitDisplayLost = 3;

class SdlPlatform final : public Platform {
 public:
  SdlPlatform();
  ~SdlPlatform() override;

  // False when no window system could be reached; Problem() says why.
  bool Ready() const { return problem_.empty(); }
  const std::string& Problem() const { return problem_; }

  // Runs `logic` on its own thread and the window on this one; returns the
  // logic's exit code once it has finished.
  int Run(const std::function<int(Platform&)>& logic);

  WorkArea DesktopWorkArea() override;
  bool CreateWindow(const char* caption, int x, int y, Surface& surface) override;
  int SurfaceDpi() override;
  KeyStroke ReadKeyStroke(KeySite site) override;
  DroppedInput DropInput(InputKind what) override;
  // The window system's bell; nothing where there is none.
  void Beep() override;
  void ShowSoon() override;

  // For Xlib's I/O error handler, on the window thread: the connection is
  // lost and the process ends on return; this returns once the logic has
  // finished any file run and ended.
  void WaitForLogicAfterLoss();

 protected:
  void ShowDrawing() override;
  WaitEnd Block(Clock& clock, const WaitRequest& request) override;

 private:
  std::string OpenVideo();
  void RunWindow();
  bool MakeWindow();
  void PumpEvents();
  void HandleEvent(const SDL_Event& event);
  bool EventsToTake();
  DroppedInput DropQueuedInput(bool keys);
  void TakeClick();
  void WaitForEvents(int timeout_ms);
  void RingBell();

  std::string problem_;
  InputQueue<KeyStroke> keys_;
  InputQueue<quorvant::Click> clicks_;
  // Whether the last key press was a repeat: its text input, which comes
  // next and carries no such mark, is one too. Window thread only.
  bool last_press_repeated_ = false;
  WindowSync sync_;

  // The window request, handed from the logic thread to the main thread.
  std::mutex request_mutex_;
  std::condition_variable request_changed_;
  bool window_requested_ = false;
  bool window_answered_ = false;
  bool window_ok_ = false;
  bool logic_finished_ = false;
  std::string caption_;
  int window_x_ = 0;
  int window_y_ = 0;
  Surface* surface_ = nullptr;

  SDL_Window* window_ = nullptr;
  bool window_open_ = false;
  void* x_display_ = nullptr;  // the X11 connection, when SDL runs on X11
  std::atomic<bool> on_x11_{false};
  std::atomic<std::thread::id> logic_thread_id_{};
};

}  // namespace quorvant
