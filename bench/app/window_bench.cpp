// Measures the real window program under the current X display (Xvfb in
// practice): time to the first frame, idle CPU and memory, and the time from
// a key press to the frame that shows its effect.
//   window_bench FILES [every-cycle]
// With "every-cycle" the folder is listed on every input cycle instead of
// on change, for comparison.

#include <SDL.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "surface/platform/sdl_platform.h"
#include "ui/program.h"

// Last: Xlib defines macros (Status, Bool) that clash with ordinary names.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

using Steady = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

// The program's window among the root's children, by its caption.
Window FindWindow(Display* display) {
  Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (XQueryTree(display, root, &root, &parent, &children, &count) == 0) return 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
      if (std::string(name) == "Quorvant") found = children[i];
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

// A key press as the X server would deliver it to the window.
void PressKey(Display* display, Window window, KeySym symbol) {
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

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 20;
  const bool every_cycle = argc > 2 && std::string(argv[2]) == "every-cycle";

  char pattern[] = "/tmp/quorvant-window-bench-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  for (int i = 0; i < files; ++i) {
    std::ofstream(folder + "/file " + std::to_string(i)) << "content " << i << '\n';
  }

  const Steady::time_point start = Steady::now();
  std::atomic<long> frames{0};
  std::atomic<long long> first_frame_us{-1};
  std::atomic<long long> last_frame_us{0};
  auto since_start = [&] {
    return std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - start).count();
  };

  quorvant::RealClock clock;
  quorvant::SdlPlatform platform(clock);
  platform.ObservePresents([&] {
    const long long now = since_start();
    long long unset = -1;
    first_frame_us.compare_exchange_strong(unset, now);
    last_frame_us.store(now);
    frames.fetch_add(1);
  });

  std::thread watcher([&] {
    while (first_frame_us.load() < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::seconds(2));

    const long long complete_frame_us = last_frame_us.load();
    const long frames_before = frames.load();
    const double cpu_before = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double idle_cpu = CpuSeconds() - cpu_before;
    const long idle_frames = frames.load() - frames_before;

    // Key to frame: each key moves the selection, which draws a new name.
    std::vector<double> latencies;
    Display* display = XOpenDisplay(nullptr);
    const Window window = display != nullptr ? FindWindow(display) : 0;
    for (int i = 0; i < 40 && window != 0; ++i) {
      const long long pressed = since_start();
      PressKey(display, window, i % 2 == 0 ? XK_Down : XK_Up);
      while (last_frame_us.load() <= pressed) std::this_thread::sleep_for(std::chrono::microseconds(200));
      latencies.push_back((last_frame_us.load() - pressed) / 1000.0);
      std::this_thread::sleep_for(std::chrono::milliseconds(120));
    }
    if (display != nullptr) XCloseDisplay(display);
    if (latencies.empty()) latencies.push_back(-1);
    std::sort(latencies.begin(), latencies.end());

    std::printf("files in folder:            %d (%s)\n", files,
                every_cycle ? "listed every cycle" : "watched");
    std::printf(
        "first frame after start:    %.1f ms; start-up complete on screen at %.1f ms "
        "(start-up sleeps 150 ms of it)\n",
        first_frame_us.load() / 1000.0, complete_frame_us / 1000.0);
    std::printf("idle CPU over 10 s:         %.3f s = %.2f %% of one core, %ld frames presented\n", idle_cpu,
                idle_cpu * 10.0, idle_frames);
    std::printf("resident memory:            %ld kB (peak %ld kB)\n", StatusKb("VmRSS:"), StatusKb("VmHWM:"));
    std::printf("key to frame:               median %.1f ms, max %.1f ms over %zu keys\n",
                latencies[latencies.size() / 2], latencies.back(), latencies.size());
    platform.Link().Alive.store(0);
  });

  const int code = platform.Run([&](quorvant::Platform& window) {
    quorvant::Program program(window, clock, folder);
    if (every_cycle) program.ListEveryCycle();
    return program.Run();
  });
  watcher.join();
  std::filesystem::remove_all(folder);
  return code;
}
