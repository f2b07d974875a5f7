#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/unique_fd.h"
#include "browser/folder_watch.h"
#include "surface/painter.h"
#include "surface/platform/platform.h"
#include "surface/screen_font.h"
#include "ui/app_state.h"

namespace quorvant {

// The whole program on one platform: start-up, then the main loop until the
// window is closed or the folder has nothing left to show. The real window
// and the headless test platform both run it.
class Program {
 public:
  Program(Platform& platform, Clock& clock, std::string folder);
  ~Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Runs start-up and the main loop; returns the process exit code: 0, or 1
  // when no window could be opened.
  int Run();
  // Keeps a log of every printed text, for tests.
  void LogTexts() { log_texts_ = true; }
  // Lets a test pretend the folder is on another kind of file system.
  void UseFolderWatchSeam(FolderWatchSeam seam) { watch_seam_ = std::move(seam); }

  AppState& State() { return state_; }
  // Valid once Run has created the window.
  Surface* GetSurface() { return surface_.get(); }
  Painter* GetPainter() { return painter_.get(); }

 private:
  void StartUp();

  Platform& platform_;
  Clock& clock_;
  std::string folder_;
  UniqueFd folder_fd_;  // AppState::FolderFd, open for the whole run
  ScreenFont font_;
  std::unique_ptr<Surface> surface_;
  std::unique_ptr<Painter> painter_;
  AppState state_;
  bool log_texts_ = false;
  std::optional<FolderWatchSeam> watch_seam_;
  bool window_made_ = false;
};

}  // namespace quorvant
