#include "cli/file_list.h"

#include <algorithm>

namespace quorvant::cli {

FileList ParseFileList(std::span<const std::string_view> arguments,
                       std::initializer_list<std::string_view> accepted) {
  FileList list;
  bool options_ended = false;
  for (std::string_view argument : arguments) {
    if (!options_ended && argument == "--") {
      options_ended = true;
    } else if (!options_ended && argument.size() > 1 && argument[0] == '-') {
      if (std::find(accepted.begin(), accepted.end(), argument) == accepted.end()) {
        list.error = "unknown option " + std::string(argument);
        return list;
      }
      list.options.push_back(argument);
    } else {
      list.files.push_back(argument);
    }
  }
  if (list.files.empty()) list.error = "no FILE given";
  return list;
}

}  // namespace quorvant::cli
