// The real-window test's eyes and hands on the X server:
//   x11_probe close WINDOW
//       asks the window to close the way a window manager's close button does
//   x11_probe lit WINDOW X Y WIDTH HEIGHT RRGGBB [COMMAND...]
//       runs COMMAND (say, an xdotool click), then samples the area every 5 ms
//       and prints for how many ms the colour was on screen; status 1 when it
//       never showed within 3 s

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/x11_screen.h"

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (!((command == "close" && argc == 3) || (command == "lit" && argc >= 9))) {
    std::fprintf(stderr, "usage: x11_probe close WINDOW | lit WINDOW X Y WIDTH HEIGHT RRGGBB [COMMAND...]\n");
    return 2;
  }
  Display* display = quorvant::x11::OpenDisplay();
  if (display == nullptr) {
    std::fprintf(stderr, "x11_probe: cannot open the display\n");
    return 1;
  }
  const Window window = std::strtoul(argv[2], nullptr, 0);
  int status = 0;
  if (command == "close") {
    quorvant::x11::RequestClose(display, window);
  } else {
    const quorvant::x11::Area area{std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                                   std::atoi(argv[6])};
    const auto rgb = static_cast<std::uint32_t>(std::strtoul(argv[7], nullptr, 16));
    std::string then;
    for (int i = 8; i < argc; ++i) then += std::string(i > 8 ? " " : "") + argv[i];
    if (!then.empty() && std::system(then.c_str()) != 0)
      std::fprintf(stderr, "x11_probe: %s failed\n", then.c_str());
    const std::optional<double> lit = quorvant::x11::MeasureLit(display, window, area, rgb, 3000, 10000);
    if (lit) {
      std::printf("%.0f\n", *lit);
    } else {
      std::printf("never\n");
      status = 1;
    }
  }
  XCloseDisplay(display);
  return status;
}
