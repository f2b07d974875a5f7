// Measures the window program from outside, as a person meets it, under the
// current X display (Xvfb in practice): it starts the program in a folder of
// FILES files and samples the window's pixels on the X server.
//   window_bench QUORVANT FILES [IDLE_SECONDS] [busy|busy-new]
// With "busy", another writer appends a line to the first file (the one the
// window shows) every 10 ms from before the idle windows to the end, as a
// log being written would; with "busy-new" it makes a new file every 10 ms
// instead. The idle figures are then the cost of a busy folder.
// Prints: time to the first frame; idle CPU (from /proc/PID/stat utime +
// stime, and to the nanosecond from each thread's schedstat) and wake-ups,
// in four windows for the spread; key to frame; how long the 1000 ms "No
// encrypted files" notice and the 100 ms press flash are on screen; and the
// time from the window's close to the process's exit.

#include <X11/keysym.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/x11_screen.h"

namespace {

using quorvant::x11::Area;
using quorvant::x11::MsSince;
using quorvant::x11::Steady;

constexpr std::uint32_t Lavender = 0xEFD8FF;
constexpr std::uint32_t Grey = 0x808080;
constexpr std::uint32_t Black = 0x000000;

// Icon centres and corners, as the program lays them out.
constexpr int IconX(int button) { return 20 + 27 * button; }
constexpr int IconY = 95;

struct CpuUse {
  double stat_seconds = 0;    // utime + stime, in clock ticks
  double exact_seconds = 0;   // sum of the threads' schedstat run time
  long context_switches = 0;  // voluntary + involuntary, all threads
};

CpuUse ReadCpu(pid_t pid) {
  CpuUse use;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name, which ends with the last ')'.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) utime = std::atol(field.c_str());
    if (index == 15) stime = std::atol(field.c_str());
  }
  use.stat_seconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));

  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    long long run_ns = 0;
    std::ifstream(task.path() / "schedstat") >> run_ns;
    use.exact_seconds += static_cast<double>(run_ns) / 1e9;
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        use.context_switches += std::atol(line.c_str() + line.find(':') + 1);
      }
    }
  }
  return use;
}

struct Spread {
  std::vector<double> values;
  void Add(double value) { values.push_back(value); }
  std::string Describe(const char* unit, int decimals = 1) const {
    if (values.empty()) return "none";
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    char text[160];
    std::snprintf(text, sizeof text, "median %.*f %s (min %.*f, max %.*f, n = %zu)", decimals,
                  sorted[sorted.size() / 2], unit, decimals, sorted.front(), decimals, sorted.back(),
                  sorted.size());
    return text;
  }
};

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Another program busy in the folder every 10 ms until stopped: appending a
// line to one file through one open descriptor (each write one report of a
// changed file), or making a new file of one line (reports of a new name).
enum class Busy { Quiet, Append, NewFiles };

class BusyWriter {
 public:
  BusyWriter(Busy kind, const std::string& folder) : kind_(kind), folder_(folder) {
    if (kind_ == Busy::Append) fd_ = open((folder_ + "/file 0000").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    thread_ = std::thread([this] {
      while (!stop_.load()) {
        if (WriteOnce()) ++writes_;
        SleepMs(10);
      }
    });
  }
  ~BusyWriter() {
    stop_.store(true);
    thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  long Writes() const { return writes_.load(); }

 private:
  bool WriteOnce() {
    static constexpr char Line[] = "another line of a busy log\n";
    if (kind_ == Busy::Append) return fd_ >= 0 && write(fd_, Line, sizeof Line - 1) > 0;
    char name[32];
    std::snprintf(name, sizeof name, "/new %06ld", writes_.load());
    const int fd = open((folder_ + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = write(fd, Line, sizeof Line - 1) > 0;
    close(fd);
    return written;
  }

  Busy kind_;
  std::string folder_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<long> writes_{0};
  std::thread thread_;
};

// A real click through the X server's test extension (SDL ignores clicks
// sent as plain events), made by a child process while this one already
// samples the screen: starting xdotool takes about as long as a press flash.
pid_t StartClick(Window window, int x, int y) {
  const std::string id = std::to_string(window), at_x = std::to_string(x), at_y = std::to_string(y);
  const pid_t child = fork();
  if (child == 0) {
    execlp("xdotool", "xdotool", "mousemove", "--window", id.c_str(), at_x.c_str(), at_y.c_str(), "click",
           "1", static_cast<char*>(nullptr));
    _exit(127);
  }
  return child;
}

// Samples `area` while a click is made, for how long `rgb` shows.
std::optional<double> ClickAndMeasure(Display* display, Window window, int x, int y, const Area& area,
                                      std::uint32_t rgb, int stay_ms, int step_ms) {
  const pid_t click = StartClick(window, x, y);
  const auto lit = quorvant::x11::MeasureLit(display, window, area, rgb, 2000, stay_ms, step_ms);
  waitpid(click, nullptr, 0);
  if (!lit) return std::nullopt;
  return lit->lit_ms;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_bench QUORVANT FILES [IDLE_SECONDS] [busy|busy-new]\n");
    return 2;
  }
  const std::string program = std::filesystem::absolute(argv[1]);
  const int files = std::atoi(argv[2]);
  const int idle_seconds = argc > 3 ? std::atoi(argv[3]) : 20;
  const std::string busy_word = argc > 4 ? argv[4] : "";
  const Busy busy = busy_word == "busy"       ? Busy::Append
                    : busy_word == "busy-new" ? Busy::NewFiles
                                              : Busy::Quiet;

  char pattern[] = "/tmp/quorvant-window-bench-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  for (int i = 0; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "file %04d", i);
    std::ofstream(folder + "/" + name) << "content " << i << '\n';
  }

  Display* display = quorvant::x11::OpenDisplay();
  if (display == nullptr) {
    std::fprintf(stderr, "window_bench: no display\n");
    return 1;
  }

  const Steady::time_point start = Steady::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }

  // First frame: the icon row's Lavender frame is on the server.
  Window window = 0;
  double first_frame_ms = -1;
  while (MsSince(start) < 10'000) {
    if (window == 0) window = quorvant::x11::FindWindow(display, "Quorvant");
    if (window != 0 &&
        quorvant::x11::CountColour(display, window, Area{IconX(0), IconY, 1, 1}, Lavender) > 0) {
      first_frame_ms = MsSince(start);
      break;
    }
    SleepMs(1);
  }
  if (first_frame_ms < 0) {
    std::fprintf(stderr, "window_bench: no window within 10 s\n");
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return 1;
  }
  std::optional<BusyWriter> busy_writer;
  if (busy != Busy::Quiet) busy_writer.emplace(busy, folder);
  SleepMs(2000);

  // Idle: four windows, for the spread.
  Spread idle_percent, idle_stat_percent, wakeups_per_second;
  const int window_seconds = std::max(1, idle_seconds / 4);
  for (int part = 0; part < 4; ++part) {
    const CpuUse before = ReadCpu(pid);
    SleepMs(window_seconds * 1000);
    const CpuUse after = ReadCpu(pid);
    idle_percent.Add((after.exact_seconds - before.exact_seconds) * 100.0 / window_seconds);
    idle_stat_percent.Add((after.stat_seconds - before.stat_seconds) * 100.0 / window_seconds);
    wakeups_per_second.Add(static_cast<double>(after.context_switches - before.context_switches) /
                           window_seconds);
  }

  // Key to frame: each key moves the selection, which draws another name.
  const Area name_row{60, 146, 300, 18};
  Spread key_ms;
  for (int i = 0; i < 20; ++i) {
    const std::uint64_t before = quorvant::x11::Fingerprint(display, window, name_row);
    const Steady::time_point pressed = Steady::now();
    quorvant::x11::SendKey(display, window, i % 2 == 0 ? XK_Down : XK_Up);
    while (quorvant::x11::Fingerprint(display, window, name_row) == before && MsSince(pressed) < 2000) {
    }
    key_ms.Add(MsSince(pressed));
    SleepMs(150);
  }

  // The "No encrypted files" notice (1000 ms) in the status band.
  Spread notice_ms;
  for (int i = 0; i < 5; ++i) {
    if (auto lit = ClickAndMeasure(display, window, IconX(1) + 10, IconY + 10, Area{20, 200, 200, 18}, Grey,
                                   5000, 5)) {
      notice_ms.Add(*lit);
    }
    SleepMs(300);
  }

  // The press flash (100 ms): the Show|Hide button's frame turns black.
  Spread flash_ms;
  int flashes_missed = 0;
  for (int i = 0; i < 10; ++i) {
    if (auto lit = ClickAndMeasure(display, window, IconX(2) + 10, IconY + 10, Area{IconX(2), IconY, 1, 1},
                                   Black, 3000, 1)) {
      flash_ms.Add(*lit);
    } else {
      ++flashes_missed;
    }
    SleepMs(300);
  }

  const long busy_writes = busy_writer ? busy_writer->Writes() : 0;
  busy_writer.reset();

  // Close to exit.
  const Steady::time_point closed = Steady::now();
  quorvant::x11::RequestClose(display, window);
  int status = 0;
  waitpid(pid, &status, 0);
  const double exit_ms = MsSince(closed);

  std::printf("program:                  %s\n", program.c_str());
  std::printf("files in folder:          %d\n", files);
  if (busy == Busy::Append)
    std::printf("busy folder:              \"file 0000\" appended every 10 ms (%ld writes)\n", busy_writes);
  if (busy == Busy::NewFiles)
    std::printf("busy folder:              a new file every 10 ms (%ld files)\n", busy_writes);
  std::printf("first frame after start:  %.1f ms\n", first_frame_ms);
  std::printf("idle CPU (schedstat):     %s of one core, %d x %d s\n", idle_percent.Describe("%", 4).c_str(),
              4, window_seconds);
  std::printf("idle CPU (utime+stime):   %s of one core\n", idle_stat_percent.Describe("%", 3).c_str());
  std::printf("wake-ups while idle:      %s\n", wakeups_per_second.Describe("/s").c_str());
  std::printf("key to frame:             %s\n", key_ms.Describe("ms").c_str());
  std::printf("1000 ms notice on screen: %s\n", notice_ms.Describe("ms").c_str());
  std::printf("100 ms flash on screen:   %s, missed %d of 10\n", flash_ms.Describe("ms").c_str(),
              flashes_missed);
  std::printf("close to exit:            %.1f ms (exit status %d)\n", exit_ms,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);

  XCloseDisplay(display);
  std::filesystem::remove_all(folder);
  return 0;
}
