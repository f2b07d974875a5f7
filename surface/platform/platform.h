#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/clock.h"
#include "surface/surface.h"

namespace quorvant {

struct WorkArea {
  int width = 0;
  int height = 0;
};

// The words the window side shares with the program's logic. Each has one
// writer, named beside it. Clicks queue up in the platform as they come; the
// logic takes the next one into the click words (HandOverClick) only once it
// has consumed the last one and cleared the kind, so no click is overwritten.
struct WindowLink {
  std::atomic<std::int32_t> Alive{0};      // window side; logic writes 0 before ending itself
  std::atomic<std::int32_t> ClickKind{0};  // logic: set at the hand-over, cleared when consumed
  std::atomic<std::int32_t> ClickX{0};     // logic, at the hand-over
  std::atomic<std::int32_t> ClickY{0};     // logic, at the hand-over

  void ClearClick() { ClickKind.store(0, std::memory_order_release); }
};

struct Click {
  int kind = 1;  // 1 single, 2 double
  int x = 0;
  int y = 0;
};

// A key as it arrives: its text (see ReadKey), and whether it is the
// keyboard's auto-repeat of a key held down rather than a press of its own.
struct KeyStroke {
  std::string text;
  bool repeat = false;
};

// What DropInput drops.
enum class InputKind {
  KeysAndClicks,
  Clicks,
};

// What DropInput dropped, as far as a caller may still need it: an Esc
// among the keys (it cancels, even when typed ahead).
struct DroppedInput {
  bool escape = false;
};

// What a wait of the program's logic waits for. A pause lets time pass
// (a notice's display, a press flash) and ends early only when the window
// goes; an input wait ends on a key or click, on `wake_fd` becoming readable
// (the folder's watch) or when `timeout_ms` has passed (-1: no limit).
struct WaitRequest {
  int timeout_ms = -1;
  bool until_input = false;
  int wake_fd = -1;

  static WaitRequest Pause(int milliseconds) { return WaitRequest{milliseconds, false, -1}; }
  static WaitRequest Input(int timeout_ms, int wake_fd) { return WaitRequest{timeout_ms, true, wake_fd}; }
};

enum class WaitEnd {
  Input,    // a key or click is there to be read
  Woken,    // wake_fd is readable
  Timeout,  // the time ran out
  Closed,   // the window is gone
};

// Where a key is read from: the idle waits hand control to the user, a
// long operation only peeks for Esc. The headless platform uses this to
// deliver scripted input at the right moment.
enum class KeySite { Wait, Progress };

// What the program needs from a window system: the work area, one window
// that shows the off-screen surface, keys, clicks and a beep.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual WorkArea DesktopWorkArea() = 0;
  // Creates the window with its client area at (x, y) sized to the surface
  // and starts presenting the surface. Returns false when no window could be
  // made; Alive then stays 0.
  virtual bool CreateWindow(const char* caption, int x, int y, Surface& surface) = 0;
  // Vertical dots per inch of the display.
  virtual int SurfaceDpi() { return 96; }
  // The next key without waiting: "" when none; one character, or code 0
  // plus the scan-code letter for navigation keys.
  virtual KeyStroke ReadKeyStroke(KeySite site) = 0;
  // The same, without telling a repeat from a press.
  std::string ReadKey(KeySite site) { return ReadKeyStroke(site).text; }
  // Drops every key (or only every click) that arrived until now: those
  // queued for the logic, those still waiting in the window system's own
  // queue, and a click handed over but not yet consumed. Returns once they
  // are gone. For input that must not act on what follows it: keys typed
  // during a notice, a second click while the first one's action runs.
  virtual DroppedInput DropInput(InputKind what) = 0;
  virtual void Beep() = 0;

  // Every wait of the program's logic goes through here. What was drawn is
  // made visible first, so that it is on screen for the whole wait: a notice
  // for its seconds, a press flash for its 100 ms.
  WaitEnd Wait(Clock& clock, const WaitRequest& request) {
    ShowDrawing();
    return Block(clock, request);
  }

  // Asks for what was drawn to be shown soon, without waiting for it: for a
  // long operation's progress, which never waits.
  virtual void ShowSoon() = 0;

  WindowLink& Link() { return link_; }

 protected:
  // Shows what was drawn since the last time, and returns once it is shown.
  virtual void ShowDrawing() = 0;
  // Sleeps as the request says; the time passes through `clock`.
  virtual WaitEnd Block(Clock& clock, const WaitRequest& request) = 0;

 private:
  WindowLink link_;
};

}  // namespace quorvant
