#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "surface/platform/input_queue.h"
#include "surface/platform/platform.h"

namespace quorvant {

// A platform without a window, for tests. The test writes a script of keys,
// clicks, pauses and actions; the program takes the script's steps one by one
// whenever it looks for input and finds none pending, so every step meets the
// program in a known state. When the script runs out the window "closes",
// which ends the program. Runs on the program's own thread: no refresh
// thread, the surface is read directly.
class HeadlessPlatform final : public Platform {
 public:
  HeadlessPlatform(WorkArea area, Clock& clock) : area_(area), clock_(clock) {}

  // --- The script ---------------------------------------------------------
  // A key as the keyboard delivers it ("a", "\r", Nav('P') ...).
  HeadlessPlatform& Key(std::string key);
  // Each character of `text` as its own key.
  HeadlessPlatform& Type(std::string_view text);
  HeadlessPlatform& Click(int x, int y, int kind = 1);
  HeadlessPlatform& Click(Point at, int kind = 1) { return Click(at.x, at.y, kind); }
  // A click whose place is worked out when the step is taken (say, on a key
  // of the on-screen keyboard, whose order is only known once it is shown).
  HeadlessPlatform& ClickWhere(std::function<quorvant::Click()> where);
  // Lets `milliseconds` of program time pass before the next step.
  HeadlessPlatform& Wait(int milliseconds);
  // Runs `action` on the program's thread (create files, read the screen).
  HeadlessPlatform& Do(std::function<void()> action);
  // A key that arrives while a long operation runs, after it has looked for
  // keys `polls_first` times.
  HeadlessPlatform& KeyDuringProgress(std::string key, int polls_first = 0);
  // The window closes while a long operation runs, after `polls_first` polls.
  HeadlessPlatform& CloseDuringProgress(int polls_first = 0);
  HeadlessPlatform& Close();

  // The two-character text of a navigation key: code 0, then the letter.
  static std::string Nav(char scan_letter) { return std::string(1, '\0') + scan_letter; }

  // --- Platform -----------------------------------------------------------
  WorkArea DesktopWorkArea() override { return area_; }
  bool CreateWindow(const char* caption, int x, int y, Surface& surface) override;
  std::string ReadKey(KeySite site) override;
  void Beep() override { ++beeps_; }

  // --- What a test reads afterwards ---------------------------------------
  int Beeps() const { return beeps_; }
  std::string Caption() const { return caption_; }
  int WindowX() const { return window_x_; }
  int WindowY() const { return window_y_; }
  bool ScriptDone() const { return steps_.empty(); }
  // Idle key reads since the window closed: how long the program lingered.
  int ReadsAfterClose() const { return reads_after_close_; }
  // Program time when the window closed.
  std::int64_t ClosedAtMs() const { return closed_at_ms_; }

 private:
  enum class StepKind { Key, Click, Wait, Do, ProgressKey, ProgressClose, Close };
  struct Step {
    StepKind kind;
    std::string key;
    quorvant::Click click;
    int milliseconds = 0;
    std::function<void()> action;
    std::function<quorvant::Click()> where;
  };

  // Runs steps until one produces input or has to wait.
  void RunSteps(KeySite site);
  void CloseWindow();

  WorkArea area_;
  Clock& clock_;
  std::deque<Step> steps_;
  InputQueue<std::string> keys_;
  InputQueue<quorvant::Click> clicks_;
  std::int64_t wait_until_ms_ = -1;
  int progress_polls_ = 0;
  int beeps_ = 0;
  bool window_made_ = false;
  bool closed_ = false;
  int reads_after_close_ = 0;
  std::int64_t closed_at_ms_ = -1;
  std::int64_t clock_elapsed_ms_ = 0;
  std::int64_t last_clock_ms_ = -1;
  std::string caption_;
  int window_x_ = 0;
  int window_y_ = 0;
};

}  // namespace quorvant
