#pragma once

// The FILE... arguments of a subcommand, with its few options.

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvant::cli {

struct FileList {
  std::vector<std::string_view> files;
  std::vector<std::string_view> options;  // the options given, from `accepted`
  std::string error;                      // set for wrong usage
};

// Options come before or among the files; "--" ends them, so that a file
// whose name begins with "-" can be named. An option not in `accepted` and a
// missing FILE are wrong usage.
FileList ParseFileList(std::span<const std::string_view> arguments,
                       std::initializer_list<std::string_view> accepted);

}  // namespace quorvant::cli
