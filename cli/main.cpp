// quorvant-cli: the companion command-line tool. It encrypts, decrypts,
// securely erases and analyses files exactly as the window program does,
// through the same core.
//
// main() only picks the subcommand from the table below. A new subcommand
// is one more entry and one more function (see command.h).

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "cli/cancel_signals.h"
#include "cli/command.h"

namespace quorvant::cli {
namespace {

constexpr Command Commands[] = {
    {"encrypt", "encrypt FILE...",
     "encrypt each FILE in place; NAME becomes NAME + \" \" + 7 salt characters + \"[\"", EncryptCommand},
    {"decrypt", "decrypt FILE...", "decrypt each FILE in place; the 9-character suffix leaves its name",
     DecryptCommand},
    {"erase", "erase [--yes] FILE...", "overwrite each FILE once with random bytes, sync it, then delete it",
     EraseCommand},
    {"resume", "resume [--undo] FILE...",
     "finish (--undo: take back) a run on each FILE that a kill or a power loss cut short", ResumeCommand},
    {"stats", "stats [--counts] FILE...",
     "print the eleven byte statistics of each FILE, as the window shows them", StatsCommand},
};

constexpr std::string_view HelpText = R"(
Files are worked on in place, exactly as the Quorvant window program does: a
file encrypted here decrypts there, and the other way round. FILE may include
folders (docs/report.txt).

The key
  The key is read from the terminal without echo (asked twice for encrypt;
  the two must match) or, when standard input is not a terminal, from its
  first line. It is never taken from the command line. A key has 1 to 77
  characters with codes 32 to 126 (printable ASCII, spaces included); anything
  else is refused. One key serves all the FILEs of one command.

Encrypt and decrypt
  The content is transformed in place and keeps its length. encrypt renames
  NAME to NAME followed by a space, seven salt characters and "[", and refuses
  a file whose name already ends that way; decrypt takes the salt from the
  last nine characters of the name and removes them, and refuses a name that
  does not end that way. Nothing is changed when the new name is taken or
  would be longer than 255 bytes. The data is synced to the disk before a file
  counts as done. A wrong key cannot be detected: decrypting with it completes
  and leaves unreadable data.

Erase
  erase overwrites each FILE once, every block of 16384 bytes with one random
  byte value, syncs it to the disk and then deletes it. It asks
  "erase FILE? [y/N]" for each file unless --yes (-y) is given; when standard
  input is not a terminal, --yes is required. An overwrite in place does not
  reach copies kept elsewhere: journals, snapshots, copy-on-write file
  systems, flash wear levelling, backups.

Stats
  stats reads each FILE (it changes nothing, takes no key and no lock) and
  prints the eleven figures of the statistics screen, one per line, label and
  value as the window shows them. --counts adds the 256 byte-value counts,
  one line per value: the value, then its count.

Refused files
  Only regular files are processed: symlinks, FIFOs, devices and folders are
  refused. A file another program has open is refused ("Already open"), and
  so is one that can be read but not written ("Read only").

Ctrl-C
  Ctrl-C (or SIGTERM) during encrypt or decrypt undoes what was done to the
  current file and restores its name; during erase it stops and keeps the
  file (blocks already overwritten stay overwritten). The remaining files are
  left alone.

Output and exit status
  Each file done is reported on standard output ("OLD -> NEW", "erased FILE");
  each failure is named on standard error. Progress is shown on standard error
  when it is a terminal. Exit status: 0 when every FILE succeeded, 1 when any
  failed, 2 for wrong usage.

Security
  The cipher is a compatibility format, kept so that files move between copies
  of Quorvant. Nobody has analysed its strength: it is not a vetted cipher. It
  has no authentication, so changes made to an encrypted file go unnoticed,
  and its only per-file variation is the seven salt characters in the name.
  Where real protection matters, use a vetted encryption tool.
)";

void PrintHelp() {
  std::puts("Usage: quorvant-cli COMMAND [OPTION]... FILE...\n       quorvant-cli --help\n\nCommands:");
  for (const Command& command : Commands) {
    std::printf("  %-22.*s %.*s\n", static_cast<int>(command.usage.size()), command.usage.data(),
                static_cast<int>(command.summary.size()), command.summary.data());
  }
  std::fwrite(HelpText.data(), 1, HelpText.size(), stdout);
}

bool IsHelp(std::string_view argument) {
  return argument == "--help" || argument == "-h" || argument == "help";
}

int Main(const std::vector<std::string_view>& arguments) {
  if (arguments.empty()) return UsageError("no command given");
  if (IsHelp(arguments[0])) {
    PrintHelp();
    return ExitSuccess;
  }
  const Command* command =
      std::find_if(std::begin(Commands), std::end(Commands),
                   [&](const Command& candidate) { return candidate.name == arguments[0]; });
  if (command == std::end(Commands)) return UsageError("unknown command " + std::string(arguments[0]));
  const std::span<const std::string_view> rest = std::span(arguments).subspan(1);
  const auto options_end = std::find(rest.begin(), rest.end(), "--");
  if (std::any_of(rest.begin(), options_end,
                  [](std::string_view argument) { return argument == "--help" || argument == "-h"; })) {
    PrintHelp();
    return ExitSuccess;
  }
  RealClock clock;
  CancelSignals signals;
  CommandContext context{clock, signals};
  return command->run(rest, context);
}

}  // namespace
}  // namespace quorvant::cli

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  return quorvant::cli::Main(arguments);
}
