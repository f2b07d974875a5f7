#pragma once

// A FILE argument split into its folder and its name; the file is then
// worked on relative to a descriptor of that folder.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/messages.h"
#include "files/opened_file.h"

namespace quorvant::cli {

struct FileArgument {
  std::string path;    // as given
  std::string folder;  // "." when the path has no folder part
  std::string name;    // the last part; never empty, "." or ".."
};

// Nothing for a path that cannot name a file ("", "dir/", "..").
std::optional<FileArgument> SplitFileArgument(std::string_view path);

// The FILE arguments that name regular files, looked at without following
// symlinks. Each of the others is reported (no such file, a folder, a FIFO,
// a symlink, ...) and left out. Commands call this before asking for a key,
// so that a mistyped name costs no typing.
std::vector<FileArgument> CheckFileArguments(std::span<const std::string_view> paths, Messages& messages);

// Opens the file for an operation that changes it (see OpenFileInFolder); a
// refusal is reported, followed by `consequence` (such as "; not erased"),
// and gives nothing.
std::optional<OpenedFile> OpenForChange(const FileArgument& file, Messages& messages,
                                        std::string_view consequence = {});

// The path of `name` in the argument's folder, as the user would write it.
std::string PathInFolder(const FileArgument& file, std::string_view name);

}  // namespace quorvant::cli
