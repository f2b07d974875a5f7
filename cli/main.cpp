// quorvant-cli: the companion command-line tool. It encrypts, decrypts,
// securely erases and analyses files exactly as the window program does,
// through the same core.
//
// main() only prepares the process and picks the command from the table in
// commands.cpp (see command.h).

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "cli/cancel_signals.h"
#include "cli/command.h"
#include "cli/messages.h"
#include "cli/name_quoting.h"

namespace quorvant::cli {
namespace {

// A descriptor 0, 1 or 2 the tool was started without would be taken by the
// next file it opens (the signalfd, say), and a read of "standard input"
// would then wait on that forever. /dev/null stands in for each one closed.
void OpenMissingStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free descriptor: this one.
    const int opened = open("/dev/null", O_RDWR);
    if (opened != descriptor && opened >= 0) close(opened);
  }
}

void Print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

bool IsHelp(std::string_view argument) {
  return argument == "--help" || argument == "-h" || argument == "help";
}

int Run(const std::vector<std::string_view>& arguments, CancelSignals& signals, Messages& messages) {
  if (arguments.empty()) return messages.UsageError({}, "no command given");
  if (IsHelp(arguments[0])) {
    Print(HelpText());
    return ExitSuccess;
  }
  if (arguments[0] == "--version") {
    Print("quorvant-cli " QUORVANT_VERSION "\n");
    return ExitSuccess;
  }
  const Command* command = FindCommand(arguments[0]);
  if (command == nullptr) return messages.UsageError({}, "unknown command " + QuoteName(arguments[0]));
  const std::span<const std::string_view> rest = std::span(arguments).subspan(1);
  const auto options_end = std::find(rest.begin(), rest.end(), "--");
  if (std::any_of(rest.begin(), options_end,
                  [](std::string_view argument) { return argument == "--help" || argument == "-h"; })) {
    Print(HelpText());
    return ExitSuccess;
  }
  const ParsedCommandLine parsed = ParseCommandLine(*command, rest);
  if (!parsed.error.empty()) return messages.UsageError(command->name, parsed.error);
  RealClock clock;
  CommandContext context{clock, signals, messages};
  return command->run(parsed.line, context);
}

}  // namespace
}  // namespace quorvant::cli

int main(int argc, char** argv) {
  using namespace quorvant::cli;
  OpenMissingStandardDescriptors();
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  CancelSignals signals;
  Messages messages(signals);
  const int status = Run(arguments, signals, messages);
  messages.EndCancelledLine();
  // A signal that stopped work (the current file undone, the rest not
  // started) gives the status a shell expects of a process it ended. One
  // that came once the last file was done stopped nothing: the status then
  // tells what happened to the files.
  if (signals.Stopped()) return ExitSignalBase + signals.Signal();
  return status;
}
