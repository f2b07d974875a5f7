#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "surface/platform/input_queue.h"
#include "surface/platform/platform.h"

namespace quorvant {

// A platform without a window, for tests. The test writes a script of keys,
// clicks, pauses and actions; the program takes the script's steps one by one
// whenever it waits for input and has none, so every step meets the program
// in a known state. Time passes only through the clock: a scripted Wait lets
// it pass, and an input wait with a limit lets the limit pass once the script
// has no step to give. When the script runs out the window "closes", which
// ends the program. Runs on the program's own thread: no refresh thread, the
// surface is read directly, and every present and every wait is logged, so a
// test can see what was on screen during each wait.
class HeadlessPlatform final : public Platform {
 public:
  HeadlessPlatform(WorkArea area, Clock& clock) : area_(area), clock_(clock) {}

  // --- The script ---------------------------------------------------------
  // A key as the keyboard delivers it ("a", "\r", Nav('P') ...).
  HeadlessPlatform& Key(std::string key);
  // A key pressed right after the key before it (twice, or held down): it
  // is already waiting when the program reads that one.
  HeadlessPlatform& KeyAhead(std::string key);
  // A key held down: its press, then `repeats` presses of the keyboard's
  // auto-repeat, all already waiting when the program reads the press (a
  // burst, as when the program was busy while the key was held).
  HeadlessPlatform& KeyHeld(std::string key, int repeats);
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
  // A key or click that arrives during the program's next timed wait (a
  // notice, a press flash); with no such wait first, at an idle one.
  HeadlessPlatform& KeyDuringPause(std::string key, bool repeat = false);
  HeadlessPlatform& ClickDuringPause(Point at, int kind = 1);
  HeadlessPlatform& Close();

  // The two-character text of a navigation key: code 0, then the letter.
  static std::string Nav(char scan_letter) { return std::string(1, '\0') + scan_letter; }

  // --- Platform -----------------------------------------------------------
  WorkArea DesktopWorkArea() override { return area_; }
  bool CreateWindow(const char* caption, int x, int y, Surface& surface) override;
  KeyStroke ReadKeyStroke(KeySite site) override;
  DroppedInput DropInput(InputKind what) override;
  void Beep() override { ++beeps_; }
  // Shown at once, and logged like the present before a wait.
  void ShowSoon() override { ShowDrawing(); }

  // --- What the waits did, in order ---------------------------------------
  enum class WaitKind {
    Presented,       // what was drawn was shown: frame number `frame`
    Paused,          // a pause of `milliseconds`
    WaitedForInput,  // an input wait, limited to `milliseconds` (-1: none)
  };
  struct WaitRecord {
    WaitKind kind;
    int milliseconds = 0;
    int frame = -1;
  };
  const std::vector<WaitRecord>& WaitLog() const { return wait_log_; }
  // Called with each frame as it is presented, numbered from 0. The image is
  // the surface's own, under its lock: read it, do not draw or read the
  // surface through the painter from here.
  void ObservePresents(std::function<void(int frame, const Image& image)> observer) {
    present_observer_ = std::move(observer);
  }

  // --- What a test reads afterwards ---------------------------------------
  int Beeps() const { return beeps_; }
  // How often the program dropped input (DropInput), and the keys and
  // clicks it dropped so.
  int Drops() const { return drops_; }
  int DroppedKeys() const { return dropped_keys_; }
  int DroppedClicks() const { return dropped_clicks_; }
  std::string Caption() const { return caption_; }
  int WindowX() const { return window_x_; }
  int WindowY() const { return window_y_; }
  bool ScriptDone() const { return steps_.empty(); }
  // Key reads and waits since the window closed: how long the program lingered.
  int ReadsAfterClose() const { return reads_after_close_; }
  // Program time when the window closed.
  std::int64_t ClosedAtMs() const { return closed_at_ms_; }

 private:
  enum class StepKind {
    Key,
    KeyAhead,
    Click,
    Wait,
    Do,
    ProgressKey,
    ProgressClose,
    Close,
    PauseKey,
    PauseClick
  };
  struct Step {
    StepKind kind;
    std::string key;
    quorvant::Click click;
    int milliseconds = 0;
    std::function<void()> action;
    std::function<quorvant::Click()> where;
    bool repeat = false;
  };

  void ShowDrawing() override;
  WaitEnd Block(Clock& clock, const WaitRequest& request) override;

  // Takes one step of the script inside an input wait that may last `left_ms`
  // more; an empty script closes the window.
  void TakeStep(Clock& clock, std::int64_t left_ms);
  // The steps meant for a long operation, which only peeks for keys.
  void TakeProgressStep();
  // The steps meant for a timed wait.
  void TakePauseSteps();
  void UpdateElapsed();
  void CloseWindow();

  WorkArea area_;
  Clock& clock_;
  std::deque<Step> steps_;
  InputQueue<KeyStroke> keys_;
  InputQueue<quorvant::Click> clicks_;
  int drops_ = 0;
  int dropped_keys_ = 0;
  int dropped_clicks_ = 0;
  std::int64_t wait_until_ms_ = -1;
  int progress_polls_ = 0;
  int beeps_ = 0;
  bool window_made_ = false;
  bool closed_ = false;
  int reads_after_close_ = 0;
  Surface* surface_ = nullptr;
  std::vector<WaitRecord> wait_log_;
  int frames_ = 0;
  std::function<void(int, const Image&)> present_observer_;
  std::int64_t closed_at_ms_ = -1;
  std::int64_t clock_elapsed_ms_ = 0;
  std::int64_t last_clock_ms_ = -1;
  std::string caption_;
  int window_x_ = 0;
  int window_y_ = 0;
};

}  // namespace quorvant
