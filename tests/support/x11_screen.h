#pragma once

// Looking at the real window from outside, through the X server: finding it,
// sampling its pixels as the server has them (what a person sees), and
// sending it clicks, keys and the window manager's close request. For the
// real-window test and the window benchmark; header only, Xlib only.

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quorvant::x11 {

using Steady = std::chrono::steady_clock;

inline double MsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

// Opens the display with Xlib's fatal default for protocol errors replaced:
// reading a window that is not mapped yet (or already gone) only fails the
// read, which the callers retry or report.
inline Display* OpenDisplay() {
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  return XOpenDisplay(nullptr);
}

// The top-level window captioned `caption`, or 0.
inline Window FindWindow(Display* display, const std::string& caption) {
  Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (XQueryTree(display, root, &root, &parent, &children, &count) == 0) return 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
      if (caption == name) found = children[i];
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

struct Area {
  int x = 0, y = 0, width = 1, height = 1;
};

// Calls visit(0xRRGGBB) for each pixel of `area` (window coordinates) as the
// server has it now; false when the area cannot be read.
template <typename Visit>
bool VisitPixels(Display* display, Window window, const Area& area, Visit&& visit) {
  XImage* image = XGetImage(display, window, area.x, area.y, static_cast<unsigned>(area.width),
                            static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
  if (image == nullptr) return false;
  auto channel = [](unsigned long pixel, unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
      mask >>= 1;
      ++shift;
    }
    return static_cast<std::uint32_t>((pixel >> shift) & mask);
  };
  for (int y = 0; y < area.height; ++y) {
    for (int x = 0; x < area.width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      visit(channel(pixel, image->red_mask) << 16 | channel(pixel, image->green_mask) << 8 |
            channel(pixel, image->blue_mask));
    }
  }
  XDestroyImage(image);
  return true;
}

// How many pixels of `area` show `rgb`; -1 when the area cannot be read.
inline int CountColour(Display* display, Window window, const Area& area, std::uint32_t rgb) {
  int count = 0;
  if (!VisitPixels(display, window, area, [&](std::uint32_t seen) { count += seen == rgb ? 1 : 0; }))
    return -1;
  return count;
}

// A hash of what `area` shows, to notice any change.
inline std::uint64_t Fingerprint(Display* display, Window window, const Area& area) {
  std::uint64_t hash = 14695981039346656037ull;
  VisitPixels(display, window, area, [&](std::uint32_t seen) { hash = (hash ^ seen) * 1099511628211ull; });
  return hash;
}

// How long a colour was seen, and how far apart the looks were at most: on a
// busy machine a look can come late, and a measure whose looks were far
// apart says little.
struct LitTime {
  double lit_ms = 0;
  double largest_gap_ms = 0;
};

// Samples `area` every `step_ms` until `rgb` shows (for at most `appear_ms`),
// then until it is gone (for at most `stay_ms`). Returns how long it was
// seen, or nothing if it never showed.
inline std::optional<LitTime> MeasureLit(Display* display, Window window, const Area& area, std::uint32_t rgb,
                                         int appear_ms, int stay_ms, int step_ms = 5) {
  const Steady::time_point start = Steady::now();
  Steady::time_point last_look = start;
  LitTime measured;
  auto looks_lit = [&] {
    const Steady::time_point now = Steady::now();
    measured.largest_gap_ms =
        std::max(measured.largest_gap_ms, std::chrono::duration<double, std::milli>(now - last_look).count());
    last_look = now;
    return CountColour(display, window, area, rgb) > 0;
  };
  while (!looks_lit()) {
    if (MsSince(start) > appear_ms) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(step_ms));
  }
  const Steady::time_point lit = Steady::now();
  while (looks_lit() && MsSince(lit) < stay_ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(step_ms));
  }
  measured.lit_ms = MsSince(lit);
  return measured;
}

// The x of the key caret in `area`: a column drawn in `rgb` for nearly the
// line's height (no glyph of the text has one), or -1 while none shows.
inline int CaretColumn(Display* display, Window window, const Area& area, std::uint32_t rgb, int tallest) {
  std::vector<std::uint32_t> pixels;
  pixels.reserve(static_cast<std::size_t>(area.width * area.height));
  if (!VisitPixels(display, window, area, [&](std::uint32_t seen) { pixels.push_back(seen); })) return -1;
  for (int x = area.width - 1; x >= 0; --x) {
    int run = 0;
    for (int y = 0; y < area.height; ++y) {
      run = pixels[static_cast<std::size_t>(y * area.width + x)] == rgb ? run + 1 : 0;
      if (run >= tallest) return area.x + x;
    }
  }
  return -1;
}

// Waits (for at most `bound_ms`) until the caret shows right of `after`;
// returns its column, or -1.
inline int WaitForCaret(Display* display, Window window, const Area& area, std::uint32_t rgb, int tallest,
                        int after, int bound_ms) {
  const Steady::time_point start = Steady::now();
  while (MsSince(start) < bound_ms) {
    const int column = CaretColumn(display, window, area, rgb, tallest);
    if (column > after) return column;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

// A key press and release.
inline void SendKey(Display* display, Window window, KeySym symbol) {
  XEvent event{};
  event.xkey.type = KeyPress;
  event.xkey.display = display;
  event.xkey.window = window;
  event.xkey.root = DefaultRootWindow(display);
  event.xkey.same_screen = True;
  event.xkey.keycode = XKeysymToKeycode(display, symbol);
  XSendEvent(display, window, True, KeyPressMask, &event);
  event.xkey.type = KeyRelease;
  XSendEvent(display, window, True, KeyReleaseMask, &event);
  XFlush(display);
}

// Key presses of `symbol` the server sends `window` once `start` has run
// (it returns 0 on success), counted until `wanted` came or `bound_ms`
// passed. A key held down arrives as its press and the server's
// auto-repeats (each a release and a press, or a press alone). Selecting key
// events on another client's window is allowed: they go to both.
struct Presses {
  int count = 0;
  double ms = 0;  // from the start to the last press counted
};
template <typename Start>
std::optional<Presses> CountPresses(Display* display, Window window, KeySym symbol, int wanted, int bound_ms,
                                    Start&& start) {
  const KeyCode code = XKeysymToKeycode(display, symbol);
  XSelectInput(display, window, KeyPressMask);
  XSync(display, False);
  const auto begin = Steady::now();
  if (start() != 0) return std::nullopt;
  Presses presses;
  while (presses.count < wanted && MsSince(begin) < bound_ms) {
    while (XPending(display) > 0 && presses.count < wanted) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == KeyPress && event.xkey.keycode == code) {
        ++presses.count;
        presses.ms = MsSince(begin);
      }
    }
    if (presses.count < wanted) {
      pollfd connection{ConnectionNumber(display), POLLIN, 0};
      (void)poll(&connection, 1, 50);
    }
  }
  XSelectInput(display, window, NoEventMask);
  XSync(display, False);
  return presses;
}

// How often the X server's bell rang (any client's XBell) while `run` ran
// (it returns 0 on success); nullopt when the server has no XKB to report
// bells or `run` failed.
template <typename Run>
std::optional<int> CountBells(Display* display, Run&& run) {
  int opcode = 0, event_base = 0, error_base = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
  if (!XkbQueryExtension(display, &opcode, &event_base, &error_base, &major, &minor)) return std::nullopt;
  XkbSelectEvents(display, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
  XSync(display, False);
  if (run() != 0) return std::nullopt;
  // Every bell rung before this round trip has been reported by its end.
  XSync(display, False);
  int bells = 0;
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == event_base && reinterpret_cast<XkbAnyEvent&>(event).xkb_type == XkbBellNotify) ++bells;
  }
  return bells;
}

// What a window manager's close button sends (Xvfb runs no window manager).
inline void RequestClose(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
}

}  // namespace quorvant::x11
