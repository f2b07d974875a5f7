// The real-window test's eyes and hands on the X server:
//   x11_probe close WINDOW
//       asks the window to close the way a window manager's close button does
//   x11_probe lit WINDOW X Y WIDTH HEIGHT RRGGBB [COMMAND...]
//       runs COMMAND (say, an xdotool click), then samples the area every 5 ms
//       and prints for how many ms the colour was on screen, and the largest
//       gap between two looks (a busy machine makes looks late); status 1
//       when it never showed within 30 s
//   x11_probe caret WINDOW X Y WIDTH HEIGHT [COMMAND...]
//       waits for the key caret in the area; given a COMMAND, runs it and
//       waits for the caret to show further right: the key field took a
//       character. Status 1 when a wait ran out (30 s each)
//   x11_probe presses WINDOW KEYSYM COUNT [COMMAND...]
//       runs COMMAND (say, an xdotool keydown), then watches the key
//       presses the X server sends the window until COUNT presses of KEYSYM
//       came: a key held down, with COUNT - 1 of the server's auto-repeats.
//       Prints how many came and after how many ms; status 1 when fewer
//       came within 30 s
//   x11_probe bells COMMAND...
//       runs COMMAND and prints how often the X server's bell rang meanwhile
//       (a notice's beep); status 1 when the bell cannot be watched

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/x11_screen.h"

namespace {

// The caret is a line in DarkGrey, as tall as the text line (18 pixels).
constexpr std::uint32_t CaretColour = 0xA9A9A9;
constexpr int CaretHeight = 16;
constexpr int BoundMs = 30000;

int RunCommand(int argc, char** argv, int first) {
  std::string then;
  for (int i = first; i < argc; ++i) then += std::string(i > first ? " " : "") + argv[i];
  if (then.empty() || std::system(then.c_str()) == 0) return 0;
  std::fprintf(stderr, "x11_probe: %s failed\n", then.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (!((command == "close" && argc == 3) || (command == "lit" && argc >= 9) ||
        (command == "caret" && argc >= 7) || (command == "presses" && argc >= 5) ||
        (command == "bells" && argc >= 3))) {
    std::fprintf(stderr,
                 "usage: x11_probe close WINDOW | lit WINDOW X Y WIDTH HEIGHT RRGGBB [COMMAND...]"
                 " | caret WINDOW X Y WIDTH HEIGHT [COMMAND...] | presses WINDOW KEYSYM COUNT [COMMAND...]"
                 " | bells COMMAND...\n");
    return 2;
  }
  Display* display = quorvant::x11::OpenDisplay();
  if (display == nullptr) {
    std::fprintf(stderr, "x11_probe: cannot open the display\n");
    return 1;
  }
  int status = 0;
  if (command == "bells") {
    const std::optional<int> bells =
        quorvant::x11::CountBells(display, [&] { return RunCommand(argc, argv, 2); });
    if (bells) {
      std::printf("%d\n", *bells);
    } else {
      std::fprintf(stderr, "x11_probe: the bell cannot be watched (no XKB)\n");
      status = 1;
    }
    XCloseDisplay(display);
    return status;
  }
  const Window window = std::strtoul(argv[2], nullptr, 0);
  if (command == "close") {
    quorvant::x11::RequestClose(display, window);
  } else if (command == "presses") {
    const KeySym symbol = XStringToKeysym(argv[3]);
    const int wanted = std::atoi(argv[4]);
    const auto presses = symbol == NoSymbol
                             ? std::nullopt
                             : quorvant::x11::CountPresses(display, window, symbol, wanted, BoundMs,
                                                           [&] { return RunCommand(argc, argv, 5); });
    if (presses) std::printf("%d %.0f\n", presses->count, presses->ms);
    if (!presses || presses->count < wanted) {
      std::fprintf(stderr, "x11_probe: %d of %d presses of %s came\n", presses ? presses->count : 0, wanted,
                   argv[3]);
      status = 1;
    }
  } else {
    const quorvant::x11::Area area{std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                                   std::atoi(argv[6])};
    if (command == "lit") {
      const auto rgb = static_cast<std::uint32_t>(std::strtoul(argv[7], nullptr, 16));
      RunCommand(argc, argv, 8);
      const auto lit = quorvant::x11::MeasureLit(display, window, area, rgb, BoundMs, 10000);
      if (lit) {
        std::printf("%.0f %.0f\n", lit->lit_ms, lit->largest_gap_ms);
      } else {
        std::printf("never\n");
        status = 1;
      }
    } else {
      const int before =
          quorvant::x11::WaitForCaret(display, window, area, CaretColour, CaretHeight, -1, BoundMs);
      if (before < 0) {
        std::fprintf(stderr, "x11_probe: no caret shows\n");
        status = 1;
      } else if (argc > 7 && (RunCommand(argc, argv, 7) != 0 ||
                              quorvant::x11::WaitForCaret(display, window, area, CaretColour, CaretHeight,
                                                          before, BoundMs) < 0)) {
        std::fprintf(stderr, "x11_probe: the caret stayed at %d\n", before);
        status = 1;
      }
    }
  }
  XCloseDisplay(display);
  return status;
}
