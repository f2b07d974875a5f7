#pragma once

// A FILE argument split into its folder and its name; the file is then
// worked on relative to a descriptor of that folder.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"
#include "cli/messages.h"
#include "files/opened_file.h"
#include "rewrite/admission.h"

namespace quorvant::cli {

struct FileArgument {
  std::string path;    // as given
  std::string folder;  // "." when the path has no folder part
  std::string name;    // the last part; never empty, "." or ".."
  nlink_t names = 1;   // how many names (hard links) the file had when it was looked at
};

// Nothing for a path that cannot name a file ("", "dir/", "..").
std::optional<FileArgument> SplitFileArgument(std::string_view path);

// The FILE arguments that name regular files, looked at without following
// symlinks, other than the program's own files (names that begin with
// "quorvant", in any case: a run's journal, say). Each of the others is
// reported (no such file, a folder, a FIFO, a symlink, a journal, ...) and
// left out. Commands call this before asking for a key, so that a mistyped
// name costs no typing.
std::vector<FileArgument> CheckFileArguments(std::span<const std::string_view> paths, Messages& messages);

// Opens the file for an operation that changes it (see OpenFileInFolder); a
// refusal is reported, followed by `consequence` (such as "; not erased"),
// and gives nothing.
std::optional<OpenedFile> OpenForChange(const FileArgument& file, Messages& messages,
                                        std::string_view consequence = {});

// Why a file is refused, in a command's own words.
using RefusalWords = std::function<std::string(const FileArgument& file, const Failure& refused)>;

// Opens the file and asks whether it may be worked on as `intent` says
// (rewrite/admission.h), before any key or question; then lets it go again.
// A refusal is reported in `words`, or else in the outcome's words followed
// by `consequence`, and gives nothing.
std::optional<Admission> AdmitArgument(const FileArgument& file, FileIntent intent, std::string_view consequence,
                                       Clock& clock, Messages& messages, const RefusalWords& words = {},
                                       CipherFormat format = CipherFormat::Classic);

// A file opened to be read only (statistics, verify), and its length.
struct ReadOnlyFile {
  UniqueFd descriptor;
  std::int64_t length = 0;
};
// Opens it non-blocking and unlocked; never while a run works on it, since
// even such an open breaks the run's lease (the file is then "busy"). A
// refusal is reported and gives nothing.
std::optional<ReadOnlyFile> OpenForReading(const FileArgument& file, Messages& messages);

// Whether the file has an interrupted run: a journal of its run beside it.
bool HasInterruptedRun(const FileArgument& file);

// The path of `name` in the argument's folder, as the user would write it.
std::string PathInFolder(const FileArgument& file, std::string_view name);

}  // namespace quorvant::cli
