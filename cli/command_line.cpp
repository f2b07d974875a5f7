// The command line: its options and files, read against a command's table entry.

#include "cli/command.h"

#include <algorithm>

#include "cli/name_quoting.h"

namespace quorvant::cli {

bool CommandLine::Has(std::string_view option_name) const {
  return std::find(options.begin(), options.end(), option_name) != options.end();
}

std::string_view CommandLine::Value(std::string_view option_name) const {
  for (const auto& [name, value] : values) {
    if (name == option_name) return value;
  }
  return {};
}

const Command* FindCommand(std::string_view name) {
  for (const Command& command : Commands()) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

std::string UsageOf(const Command& command) {
  if (!command.usage.empty()) {
    std::string usage;
    std::string_view lines = command.usage;
    while (!lines.empty()) {
      const std::size_t end = std::min(lines.find('\n'), lines.size());
      usage += (usage.empty() ? "" : "\n") + std::string(command.name) + " " + std::string(lines.substr(0, end));
      lines.remove_prefix(std::min(end + 1, lines.size()));
    }
    return usage;
  }
  std::string usage(command.name);
  for (const Option& option : command.options) {
    usage += " [";
    usage += option.name;
    if (!option.value.empty()) usage += " " + std::string(option.value);
    usage += "]";
  }
  return usage + " FILE...";
}

ParsedCommandLine ParseCommandLine(const Command& command, std::span<const std::string_view> arguments) {
  ParsedCommandLine parsed;
  parsed.line.command = command.name;
  bool options_ended = false;
  bool files_optional = false;
  for (std::size_t at = 0; at < arguments.size(); ++at) {
    const std::string_view argument = arguments[at];
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
      files_optional = files_optional || option->files_optional;
      if (!option->value.empty()) {
        if (at + 1 == arguments.size()) {
          parsed.error = std::string(option->name) + " needs a " + std::string(option->value);
          return parsed;
        }
        parsed.line.values.emplace_back(option->name, arguments[++at]);
      }
    } else {
      parsed.line.files.push_back(argument);
    }
  }
  if (parsed.line.files.empty() && !files_optional) parsed.error = "no FILE given";
  return parsed;
}

}  // namespace quorvant::cli
