#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "base/clock.h"
#include "base/unique_fd.h"
#include "surface/platform/input_queue.h"
#include "surface/platform/platform.h"

struct SDL_Window;
union SDL_Event;

namespace quorvant {

// The real window, through SDL2. SDL wants its window and events on the
// process's main thread, so that thread runs the window and the refresh
// cycle, and the program's logic runs on a thread of its own:
//
//   main thread:  Run() -> waits for CreateWindow -> pumps events into the
//                 key and click queues, presents the surface when it was
//                 drawn, sleeps RefreshInterval, hands over the next click
//   logic thread: the program, calling CreateWindow (which blocks until the
//                 window exists), ReadKey, Beep
class SdlPlatform final : public Platform {
 public:
  explicit SdlPlatform(Clock& clock);
  ~SdlPlatform() override;

  // Runs `logic` on its own thread and the window on this one; returns the
  // logic's exit code once it has finished.
  int Run(const std::function<int(Platform&)>& logic);

  // Called on the main thread after every frame shown; for benchmarks.
  void ObservePresents(std::function<void()> observer) { present_observer_ = std::move(observer); }

  WorkArea DesktopWorkArea() override;
  bool CreateWindow(const char* caption, int x, int y, Surface& surface) override;
  int SurfaceDpi() override;
  std::string ReadKey(KeySite site) override;
  void Beep() override;
  void IdleSleep(Clock& clock, int milliseconds) override;

 private:
  void RunWindow();
  bool MakeWindow();
  void PumpEvents();
  void HandleEvent(const SDL_Event& event);
  void NotifyInput();
  void WakeWindow();
  void WaitForEvents(int milliseconds);
  void Present(const struct Image& image, const struct Rect& dirty);

  Clock& clock_;
  InputQueue<std::string> keys_;
  InputQueue<quorvant::Click> clicks_;

  // Wakes the logic's idle sleep when input arrives.
  std::mutex input_mutex_;
  std::condition_variable input_arrived_;

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
  unsigned audio_device_ = 0;
  std::function<void()> present_observer_;
  void* x_display_ = nullptr;  // the X11 connection, when SDL runs on X11
  UniqueFd wake_fd_;           // eventfd the logic writes to after drawing
  std::once_flag audio_once_;
};

}  // namespace quorvant
