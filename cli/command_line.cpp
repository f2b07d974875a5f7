// The command line: its options and files, read against a command's table entry.

#include "cli/command.h"

#include <algorithm>

#include "cli/name_quoting.h"

namespace quorvant::cli {

bool CommandLine::Has(std::string_view option_name) const {
  return std::find(options.begin(), options.end(), option_name) != options.end();
}

const Command* FindCommand(std::string_view name) {
  for (const Command& command : Commands()) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

std::string UsageOf(const Command& command) {
  std::string usage(command.name);
  for (const Option& option : command.options) {
    usage += " [";
    usage += option.name;
    usage += "]";
  }
  return usage + " FILE...";
}

ParsedCommandLine ParseCommandLine(const Command& command, std::span<const std::string_view> arguments) {
  ParsedCommandLine parsed;
  parsed.line.command = command.name;
  bool options_ended = false;
  for (std::string_view argument : arguments) {
    if (!options_ended && argument == "--") {
      options_ended = true;
    } else if (!options_ended && argument.size() > 1 && argument[0] == '-') {
      const auto option =
          std::find_if(command.options.begin(), command.options.end(), [&](const Option& known) {
            return known.name == argument || (!known.alias.empty() && known.alias == argument);
          });
      if (option == command.options.end()) {
        parsed.error = "unknown option " + QuoteName(argument);
        return parsed;
      }
      if (!parsed.line.Has(option->name)) parsed.line.options.push_back(option->name);
    } else {
      parsed.line.files.push_back(argument);
    }
  }
  if (parsed.line.files.empty()) parsed.error = "no FILE given";
  return parsed;
}

}  // namespace quorvant::cli
