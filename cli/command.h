#pragma once

// The subcommands of quorvant-cli: one table (commands.cpp) names each
// command with its options, and main, the option parser and --help all read
// it. A new command is one entry and one function; a new option is one entry
// in its command's option list, which the command then asks for with
// CommandLine::Has.

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "cli/cancel_signals.h"
#include "cli/messages.h"

namespace quorvant {
class KeyChecker;
}  // namespace quorvant

namespace quorvant::cli {

// Exit statuses.
inline constexpr int ExitSuccess = 0;  // every file done
inline constexpr int ExitFailure = 1;  // at least one file failed (each named on standard error)
inline constexpr int ExitUsage = 2;    // wrong usage
// After a cancel signal that stopped work (CancelSignals::Stopped) the
// status is 128 + the signal's number, as a shell reports a program the
// signal ended: 130 for Ctrl-C, 143 for SIGTERM.
inline constexpr int ExitSignalBase = 128;

struct Option {
  std::string_view name;   // "--yes"
  std::string_view alias;  // "-y", or empty
  std::string_view help;   // what it does, one line for --help
  std::string_view value = {};  // "PATH" when it takes the next argument as its value
  bool files_optional = false;  // with it, the command may be given no FILE
};

// A command's arguments, parsed.
struct CommandLine {
  std::string_view command;               // "erase"
  std::vector<std::string_view> files;    // in the order given
  std::vector<std::string_view> options;  // by their names ("--yes" also for "-y")
  std::vector<std::pair<std::string_view, std::string_view>> values;  // of the options that take one

  bool Has(std::string_view option_name) const;
  // The value given to an option that takes one; empty when it was not given.
  std::string_view Value(std::string_view option_name) const;
};

// What every command may use; owned by main.
struct CommandContext {
  Clock& clock;
  CancelSignals& signals;
  Messages& messages;
  // While RunWithKey works through its files: the one key checker of the
  // whole command, which derives the slow key check once.
  KeyChecker* key_checker = nullptr;
};

using CommandFunction = int (*)(const CommandLine& line, CommandContext& context);

struct Command {
  std::string_view name;
  std::span<const Option> options;
  std::string_view summary;  // one line for --help
  CommandFunction run;
  // Usage lines after the command's name, when the options do not combine
  // freely; empty: made from the options.
  std::string_view usage = {};
};

// The table, in the order --help lists it.
std::span<const Command> Commands();
// Nothing for a name that is not in the table.
const Command* FindCommand(std::string_view name);

// "erase [--yes] FILE..."; one line per form of the command.
std::string UsageOf(const Command& command);

// What --help prints: at most 40 lines of at most 80 columns; the long
// explanations are in the manual page.
std::string HelpText();

// Options come before or among the files; "--" ends them, so that a file
// whose name begins with "-" can be named. An option the command does not
// have and a missing FILE are wrong usage: `error` then says what was wrong.
struct ParsedCommandLine {
  CommandLine line;
  std::string error;
};
ParsedCommandLine ParseCommandLine(const Command& command, std::span<const std::string_view> arguments);

int EncryptCommand(const CommandLine& line, CommandContext& context);
int DecryptCommand(const CommandLine& line, CommandContext& context);
int ConvertCommand(const CommandLine& line, CommandContext& context);
int EraseCommand(const CommandLine& line, CommandContext& context);
int ResumeCommand(const CommandLine& line, CommandContext& context);
int StatsCommand(const CommandLine& line, CommandContext& context);
int VerifyCommand(const CommandLine& line, CommandContext& context);

}  // namespace quorvant::cli
