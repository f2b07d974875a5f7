#include "ui/program.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "browser/folder_watch.h"
#include "ui/browse_loop.h"
#include "ui/panels.h"

namespace quorvant {

Program::Program(Platform& platform, Clock& clock, std::string folder)
    : platform_(platform), clock_(clock), folder_(std::move(folder)) {}

// The start-up steps, in their order. The fixed tables are constant data.
void Program::StartUp() {
  AppState& s = state_;
  s.Platform = &platform_;
  s.Clock = &clock_;
  s.Link = &platform_.Link();

  // The one folder the program works on. An unreadable one lists as empty.
  folder_fd_.Reset(open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  s.FolderFd = folder_fd_.Get();
  char resolved[PATH_MAX];
  s.CurrentFolder = realpath(folder_.c_str(), resolved) != nullptr ? std::string(resolved) : folder_;

  // The window over the work area, its client area at the far left.
  const WorkArea area = platform_.DesktopWorkArea();
  s.Layout.WorkAreaWidth = std::max(area.width, 1);
  s.Layout.WorkAreaHeight = std::max(area.height, 1);
  surface_ = std::make_unique<Surface>(s.Layout.WorkAreaWidth, s.Layout.WorkAreaHeight);
  painter_ = std::make_unique<Painter>(*surface_, font_);
  s.Painter = painter_.get();
  painter_->EnableTextLog(log_texts_);
  window_made_ = platform_.CreateWindow("Quorvant", -3, 0, *surface_);
  painter_->ClearSurface(Black);
  s.Layout.DpiFactor = 96.0 / std::max(platform_.SurfaceDpi(), 1);

  s.Random.seed(static_cast<std::uint32_t>(clock_.MillisecondsSinceMidnight()));
  DrawLogo(s);

  PlaceIconRow(s);
  DrawIconRow(s);

  // The screen font is 16 px whatever the display's dots per inch; the
  // layout is measured on it.
  const TextSize file_label = painter_->MeasureText("File ");
  s.Layout.LineHeight = file_label.height;
  s.Layout.FileValueX = (file_label.width + 20) % 256;
  s.Layout.SizeValueX = (painter_->MeasureText("Size ").width + 20) % 256;
  DrawHeaderLabels(s);

  s.Mode = ScreenMode::Scroll;
  s.Watch = std::make_unique<FolderWatch>(s.FolderFd, watch_seam_ ? &*watch_seam_ : nullptr);
}

int Program::Run() {
  StartUp();
  // Without a window the first input wait ends the program at once.
  RunMainLoop(state_, Next::WaitThenBrowse);
  return window_made_ ? 0 : 1;
}

}  // namespace quorvant
