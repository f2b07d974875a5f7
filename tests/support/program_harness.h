#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/keys.h"
#include "surface/platform/headless_platform.h"
#include "tests/support/temp_folder.h"
#include "ui/fixed_tables.h"
#include "ui/panels.h"
#include "ui/program.h"

namespace quorvant::testing {

// The key texts the keyboard delivers.
inline const std::string Enter = "\r";
inline const std::string Escape = "\x1b";
inline const std::string Backspace = "\b";
inline const std::string Home = HeadlessPlatform::Nav(scan::Home);
inline const std::string Up = HeadlessPlatform::Nav(scan::Up);
inline const std::string PgUp = HeadlessPlatform::Nav(scan::PgUp);
inline const std::string Left = HeadlessPlatform::Nav(scan::Left);
inline const std::string Right = HeadlessPlatform::Nav(scan::Right);
inline const std::string End = HeadlessPlatform::Nav(scan::End);
inline const std::string Down = HeadlessPlatform::Nav(scan::Down);
inline const std::string PgDn = HeadlessPlatform::Nav(scan::PgDn);
inline const std::string Del = HeadlessPlatform::Nav(scan::Del);

// Icons are clicked by name: Click(IconRowCentre(icon::Help)).

// The whole program on the headless platform, in a real temporary folder,
// with the test clock. Script the input on `platform`, then Run().
struct ProgramHarness {
  static constexpr WorkArea Area{1280, 800};

  TestClock clock{12 * 3600 * 1000};
  HeadlessPlatform platform{Area, clock};
  TempFolder folder;
  std::unique_ptr<Program> program;
  // Set to pretend the folder is on another kind of file system.
  std::optional<FolderWatchSeam> watch_seam;

  int Run() { return RunIn(folder.Path()); }
  int RunIn(const std::string& path) {
    program = std::make_unique<Program>(platform, clock, path);
    program->LogTexts();
    if (watch_seam) program->UseFolderWatchSeam(*watch_seam);
    return program->Run();
  }

  // The frame that was on screen during the last pause of `milliseconds`:
  // the one presented right before it. -1 when there was no such pause, or
  // what was drawn before it was not shown first.
  int FrameDuringLastPause(int milliseconds) const {
    const auto& log = platform.WaitLog();
    for (std::size_t i = log.size(); i-- > 0;) {
      if (log[i].kind != HeadlessPlatform::WaitKind::Paused || log[i].milliseconds != milliseconds) continue;
      if (i == 0 || log[i - 1].kind != HeadlessPlatform::WaitKind::Presented) return -1;
      return log[i - 1].frame;
    }
    return -1;
  }

  AppState& State() { return program->State(); }
  Painter& Paint() { return *program->GetPainter(); }
  Colour Pixel(int x, int y) { return Paint().ReadPixel(x, y); }

  // Every printed text with its trailing padding removed, in order.
  std::vector<TextLogEntry> Printed() const {
    std::vector<TextLogEntry> texts = program->GetPainter()->TextLog();
    for (TextLogEntry& entry : texts) {
      entry.text.erase(entry.text.find_last_not_of(' ') + 1);
    }
    return texts;
  }
  // The last print of exactly `text` (padding ignored).
  std::optional<TextLogEntry> LastPrint(const std::string& text) const {
    std::vector<TextLogEntry> texts = Printed();
    auto it =
        std::find_if(texts.rbegin(), texts.rend(), [&](const TextLogEntry& e) { return e.text == text; });
    if (it == texts.rend()) return std::nullopt;
    return *it;
  }
  // The text most recently printed at (x, y).
  std::string LastTextAt(int x, int y) const {
    std::vector<TextLogEntry> texts = Printed();
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
      if (it->x == x && it->y == y) return it->text;
    }
    return "";
  }
  // Prints from now on, for checks on what one step printed.
  void ForgetPrints() { program->GetPainter()->ClearTextLog(); }
};

}  // namespace quorvant::testing
