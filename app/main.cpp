// quorvant: the window program. Works on the folder it was started in.

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/clock.h"
#include "surface/platform/sdl_platform.h"
#include "ui/program.h"

namespace {

// Short enough for any terminal: at most 80 columns.
constexpr std::string_view Usage =
    "Usage: quorvant [--help | --version]\n"
    "\n"
    "Shows the files of the current folder, the folder it is started in, one\n"
    "at a time; encrypts or decrypts the selected file in place with a key you\n"
    "type, shows its byte statistics and its bytes, and securely erases it.\n"
    "\n"
    "Keys:\n"
    "  Up, Down, PgUp, PgDn, Home, End   choose a file\n"
    "  a letter or a digit               the next file whose name begins with it\n"
    "  Enter, the key, Enter             encrypt the file (or decrypt it, if its\n"
    "                                    name marks it encrypted)\n"
    "  Esc                               leave the key, or stop a run (undone)\n"
    "  Del, then Del again               erase the selected file for good: it is\n"
    "                                    overwritten, then deleted\n"
    "The icons at the top do the same and more; the last one (Help) explains them.\n"
    "\n"
    "Quit by closing the window.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const std::string_view argument = argv[1];
    if (argc == 2 && (argument == "--help" || argument == "-h")) {
      std::fwrite(Usage.data(), 1, Usage.size(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 2 && argument == "--version") {
      std::printf("quorvant %s\n", QUORVANT_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // The folder is chosen by starting the program in it, never by an
    // argument: a mistyped name must not put another folder's files at risk.
    if (argc > 2) {
      std::fprintf(stderr, "quorvant: too many arguments\nTry 'quorvant --help'.\n");
    } else {
      std::fprintf(stderr, "quorvant: unknown argument '%s'\nTry 'quorvant --help'.\n", argv[1]);
    }
    return 2;
  }

  char folder[PATH_MAX];
  if (getcwd(folder, sizeof folder) == nullptr) {
    std::fprintf(stderr, "quorvant: cannot read the current folder: %s\n", std::strerror(errno));
    return 1;
  }
  quorvant::SdlPlatform platform;
  if (!platform.Ready()) {
    std::fprintf(stderr, "quorvant: %s\n", platform.Problem().c_str());
    return 1;
  }
  quorvant::RealClock clock;
  return platform.Run([&](quorvant::Platform& window) {
    quorvant::Program program(window, clock, folder);
    return program.Run();
  });
}
