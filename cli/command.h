#pragma once

// The subcommands of quorvant-cli. Each is one entry of the table in
// main.cpp and one function; a new subcommand adds both.

#include <span>
#include <string_view>

#include "base/clock.h"
#include "cli/cancel_signals.h"

namespace quorvant::cli {

// Exit statuses.
inline constexpr int ExitSuccess = 0;  // every file done
inline constexpr int ExitFailure = 1;  // at least one file failed (each named on standard error)
inline constexpr int ExitUsage = 2;    // wrong usage

// What every subcommand may use; owned by main.
struct CommandContext {
  Clock& clock;
  CancelSignals& signals;
};

// `arguments` are those after the subcommand's name. Returns the exit status.
using CommandFunction = int (*)(std::span<const std::string_view> arguments, CommandContext& context);

struct Command {
  std::string_view name;
  std::string_view usage;    // "encrypt FILE..."
  std::string_view summary;  // one line for --help
  CommandFunction run;
};

int EncryptCommand(std::span<const std::string_view> arguments, CommandContext& context);
int DecryptCommand(std::span<const std::string_view> arguments, CommandContext& context);
int EraseCommand(std::span<const std::string_view> arguments, CommandContext& context);
int ResumeCommand(std::span<const std::string_view> arguments, CommandContext& context);
int StatsCommand(std::span<const std::string_view> arguments, CommandContext& context);

// "quorvant-cli: " + message, on standard error.
void Complain(std::string_view message);
// A usage complaint plus a pointer to --help; returns ExitUsage.
int UsageError(std::string_view message);

}  // namespace quorvant::cli
