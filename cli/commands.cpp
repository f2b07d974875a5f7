// The table of commands, and the help text made from it.

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "cli/command.h"

namespace quorvant::cli {

namespace {

constexpr Option ForceOption{"--force", "", "go on past a question about the key"};

constexpr Option EncryptOptions[] = {
    {"--format", "", "FORMAT is strong (the default) or classic", "FORMAT"},
    ForceOption,
};

constexpr Option DecryptOptions[] = {
    ForceOption,
};

constexpr Option EraseOptions[] = {
    {"--yes", "-y", "do not ask for a confirmation before each file"},
};

constexpr Option ResumeOptions[] = {
    {"--undo", "", "bring the file back to how it was before the run"},
    {"--list", "", "list FOLDER's journals (default .) and their files", {}, true},
    {"--forget", "", "forget an orphan journal, or a mark without a journal"},
    {"--journal", "", "resume with the journal PATH, found in another folder", "PATH"},
    {"--yes", "-y", "do not ask before forgetting a file's mark"},
};

constexpr Option StatsOptions[] = {
    {"--counts", "", "add the count of each of the 256 byte values"},
    {"--json", "", "one JSON object per FILE, one a line, for scripts"},
};

// clang-format off
constexpr Command CommandTable[] = {
    {"encrypt", EncryptOptions,
     "encrypt in place; NAME gets \" \" + 7 characters + \"]\" (classic: \"[\")", EncryptCommand},
    {"decrypt", DecryptOptions, "decrypt in place; the 9-character suffix leaves the name", DecryptCommand},
    {"erase", EraseOptions, "overwrite once with random bytes, sync, then delete", EraseCommand},
    {"convert", DecryptOptions, "make classic (\"[\") files strong in place, in one run",
     ConvertCommand},
    {"resume", ResumeOptions, "finish a run that a kill or a power loss cut short", ResumeCommand,
     "[--undo] [--journal PATH] FILE...\n--list [FOLDER]\n--forget [--yes] JOURNAL|FILE..."},
    {"stats", StatsOptions, "print the eleven byte statistics, as the window shows them", StatsCommand},
    {"verify", {}, "check every chunk of strong (\"]\") files; reads only, changes nothing", VerifyCommand},
};
// clang-format on

// The options of every command, each once, with the commands that have it.
struct OptionLine {
  std::string names;  // "-y, --yes" or "    --counts"
  std::string help;   // "erase: do not ask ..."
};

std::vector<OptionLine> OptionLines() {
  std::vector<OptionLine> lines;
  std::vector<std::string_view> listed;
  for (const Command& command : CommandTable) {
    for (const Option& option : command.options) {
      if (std::find(listed.begin(), listed.end(), option.name) != listed.end()) continue;
      listed.push_back(option.name);
      std::string owners;
      for (const Command& other : CommandTable) {
        if (std::any_of(other.options.begin(), other.options.end(),
                        [&](const Option& candidate) { return candidate.name == option.name; })) {
          owners += owners.empty() ? "" : ", ";
          owners += other.name;
        }
      }
      const std::string alias = option.alias.empty() ? "    " : std::string(option.alias) + ", ";
      lines.push_back({alias + std::string(option.name), owners + ": " + std::string(option.help)});
    }
  }
  lines.push_back({"-h, --help", "show this help and exit"});
  lines.push_back({"    --version", "show the version and exit"});
  return lines;
}

// Lines padded so that the texts after them start in one column.
std::string Columns(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.first.size());
  std::string text;
  for (const auto& [left, right] : rows) {
    text += "  " + left + std::string(width - left.size() + 2, ' ') + right + "\n";
  }
  return text;
}

}  // namespace

std::span<const Command> Commands() { return CommandTable; }

std::string HelpText() {
  std::string text;
  std::string_view lead = "Usage: ";
  for (const Command& command : CommandTable) {
    const std::string usage = UsageOf(command);
    for (std::size_t from = 0; from < usage.size();) {
      const std::size_t end = std::min(usage.find('\n', from), usage.size());
      text += std::string(lead) + "quorvant-cli " + usage.substr(from, end - from) + "\n";
      lead = "       ";
      from = end + 1;
    }
  }
  text += std::string(lead) + "quorvant-cli --help | --version\n";

  std::vector<std::pair<std::string, std::string>> rows;
  for (const Command& command : CommandTable) rows.emplace_back(command.name, command.summary);
  text += "\nCommands:\n" + Columns(rows);

  rows.clear();
  for (const OptionLine& line : OptionLines()) rows.emplace_back(line.names, line.help);
  text += "\nOptions:\n" + Columns(rows);

  text +=
      "\n"
      "The key: 1 to 77 printable ASCII characters, typed on the terminal without\n"
      "echo (twice for encrypt) or the first line of standard input; never an argument.\n"
      "Ctrl-C undoes the current file; resume finishes a run a kill or a power loss\n"
      "cut short (--undo takes it back). Use strong: classic is not a vetted cipher.\n"
      "\n"
      "Exit status: 0 every FILE done, 1 a FILE failed, 2 wrong usage, 128 + N when\n"
      "signal N stopped work (130 for Ctrl-C). See quorvant-cli(1) for details.\n";
  return text;
}

}  // namespace quorvant::cli
