// The window program's file work against the command-line tool and shred, in
// one run on the same 1 GiB file, and the time from a Statistics click to
// the figures for a 10 MB file. Runs the real program on the headless
// platform with the real clock, so the progress drawing is included.
//   file_work_bench FOLDER CLI [MIB]

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "surface/platform/headless_platform.h"
#include "ui/erase_screen.h"
#include "ui/fixed_tables.h"
#include "ui/panels.h"
#include "ui/program.h"

namespace {

using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Steady::time_point from, Steady::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

void MakeFile(const std::string& path, std::size_t mib) {
  std::vector<char> block(1 << 20);
  unsigned state = 7;
  for (char& c : block) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  std::ofstream out(path, std::ios::binary);
  for (std::size_t i = 0; i < mib; ++i) {
    block[i % block.size()] ^= 1;  // no two mebibytes alike
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

double TimeCommand(const std::string& command) {
  const Steady::time_point start = Steady::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return Seconds(start, Steady::now());
}

std::string OnlyName(const std::string& folder) {
  for (const auto& item : fs::directory_iterator(folder)) return item.path().filename().string();
  return "";
}

// Runs the program in `folder`: `script` adds steps between the two time
// marks; returns the seconds between them.
template <typename Script>
double TimeInWindow(const std::string& folder, Script script) {
  quorvant::RealClock clock;
  quorvant::HeadlessPlatform platform({1280, 800}, clock);
  Steady::time_point start, end;
  script(
      platform, [&] { start = Steady::now(); }, [&] { end = Steady::now(); });
  quorvant::Program program(platform, clock, folder);
  program.Run();
  return Seconds(start, end);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: file_work_bench FOLDER CLI [MIB]\n");
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/work";
  const std::string cli = argv[2];
  const std::size_t mib = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1024;
  fs::create_directories(folder);
  const std::string plain = folder + "/big.bin";
  MakeFile(plain, mib);
  std::printf("file: %zu MiB in %s\n", mib, folder.c_str());

  // Encrypt in the window, decrypt with the tool; then the other way round.
  const double window_encrypt = TimeInWindow(folder, [](auto& p, auto start, auto end) {
    p.Key("\r").Type("bench key").Do(start).Key("\r").Do(end);
  });
  const double cli_decrypt = TimeCommand("printf 'bench key\\n' | " + cli + " decrypt '" + folder + "/" +
                                         OnlyName(folder) + "' >/dev/null");
  const double cli_encrypt =
      TimeCommand("printf 'bench key\\n' | " + cli + " encrypt '" + plain + "' >/dev/null");
  const double window_decrypt = TimeInWindow(folder, [](auto& p, auto start, auto end) {
    p.Key("\r").Type("bench key").Do(start).Key("\r").Do(end);
  });
  std::printf("window encrypt %.3f s, tool decrypt %.3f s; tool encrypt %.3f s, window decrypt %.3f s\n",
              window_encrypt, cli_decrypt, cli_encrypt, window_decrypt);
  std::printf("window / tool throughput: %.2f (target >= 0.9)\n",
              (cli_decrypt + cli_encrypt) / (window_encrypt + window_decrypt));

  // Erase in the window against shred -n 1 -u on an equal file.
  const std::string twin = std::string(argv[1]) + "/twin.bin";
  fs::copy_file(plain, twin, fs::copy_options::overwrite_existing);
  // Into the page cache, as the window's file is.
  if (std::system(("cat '" + twin + "' > /dev/null").c_str()) != 0)
    std::fprintf(stderr, "could not read %s\n", twin.c_str());
  const double shred = TimeCommand("shred -n 1 -u '" + twin + "'");
  // A second, small file keeps the folder from being empty afterwards.
  std::ofstream(folder + "/keep.txt") << "keep\n";
  const double window_erase = TimeInWindow(folder, [](auto& p, auto start, auto end) {
    p.Key(std::string(1, '\0') + 'S').Do(start).Key(std::string(1, '\0') + 'S').Do(end);
  });
  // The work, without the time "Erased" stays on screen afterwards.
  const double erase_work = window_erase - quorvant::ErasedNoticeMs / 1000.0;
  std::printf(
      "window erase %.3f s (%.3f s of it the \"Erased\" notice), shred -n 1 -u %.3f s: ratio %.2f (target <= "
      "1.1)\n",
      window_erase, quorvant::ErasedNoticeMs / 1000.0, shred, erase_work / shred);

  // A Statistics click on a 10 MB file, less the 100 ms press flash.
  const std::string ten = folder + "/ten.bin";
  MakeFile(ten, 10);
  const double statistics = TimeInWindow(folder, [](auto& p, auto start, auto end) {
    p.Wait(50).Do(start).Click(quorvant::IconRowCentre(quorvant::icon::Statistics)).Do(end);
  });
  std::printf(
      "Statistics click to figures, 10 MiB: %.1f ms including the 100 ms press flash, %.1f ms without\n",
      statistics * 1000, statistics * 1000 - 100);
  fs::remove_all(folder);
  return 0;
}
