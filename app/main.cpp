// quorvant: the window program. Works on the folder it was started in.

#include <unistd.h>

#include <climits>
#include <string>

#include "base/clock.h"
#include "surface/platform/sdl_platform.h"
#include "ui/program.h"

int main() {
  char folder[PATH_MAX];
  if (getcwd(folder, sizeof folder) == nullptr) return 1;
  quorvant::RealClock clock;
  quorvant::SdlPlatform platform;
  return platform.Run([&](quorvant::Platform& window) {
    quorvant::Program program(window, clock, folder);
    return program.Run();
  });
}
