#pragma once

// A FILE argument split into its folder and its name; the file is then
// worked on relative to a descriptor of that folder.

#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "files/file_calls.h"
#include "files/opened_file.h"

namespace quorvant::cli {

struct FileArgument {
  std::string path;    // as given
  std::string folder;  // "." when the path has no folder part
  std::string name;    // the last part; never empty, "." or ".."
};

// Fails for a path that cannot name a file ("", "dir/", "..").
Result<FileArgument> SplitFileArgument(std::string_view path);

// The folder opened for reading (O_DIRECTORY).
Result<UniqueFd> OpenFolderOf(const FileArgument& file);

// Opens the file for an operation that changes it (see OpenFileInFolder);
// a refusal is named on standard error, followed by `consequence` (such as
// "; not erased"), and gives nothing.
std::optional<OpenedFile> OpenForChange(const FileArgument& file, std::string_view consequence = {});

// The path of `name` in the argument's folder, as the user would write it.
std::string PathInFolder(const FileArgument& file, std::string_view name);

}  // namespace quorvant::cli
