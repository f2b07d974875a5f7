#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/clock.h"
#include "surface/image.h"

namespace quorvant {

struct WorkArea {
  int width = 0;
  int height = 0;
};

// The words the refresh cycle shares with the program's logic. Each has one
// writer, named beside it; the click words form a hand-over: the refresh
// cycle fills x and y, then kind; the logic reads kind, then x and y, and
// clears kind when it has consumed the click. A new click is handed over only
// while kind is 0, so no click is ever overwritten.
struct WindowLink {
  std::atomic<std::int32_t> Alive{0};             // refresh cycle; logic writes 0 before ending itself
  std::atomic<std::int32_t> ClickKind{0};         // refresh cycle sets, logic clears
  std::atomic<std::int32_t> ClickX{0};            // refresh cycle
  std::atomic<std::int32_t> ClickY{0};            // refresh cycle
  std::atomic<std::int32_t> RefreshInterval{24};  // logic

  void ClearClick() { ClickKind.store(0, std::memory_order_release); }
};

struct Click {
  int kind = 1;  // 1 single, 2 double
  int x = 0;
  int y = 0;
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
  virtual std::string ReadKey(KeySite site) = 0;
  virtual void Beep() = 0;
  // The input wait's pause between polls. A real window may end it early
  // when input arrives, so a key shows on screen without a cycle's delay.
  virtual void IdleSleep(Clock& clock, int milliseconds) { clock.Sleep(milliseconds); }

  WindowLink& Link() { return link_; }

 private:
  WindowLink link_;
};

}  // namespace quorvant
