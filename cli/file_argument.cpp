#include "cli/file_argument.h"

#include <fcntl.h>

#include <cerrno>

#include "cli/command.h"
#include "cli/report_text.h"

namespace quorvant::cli {

Result<FileArgument> SplitFileArgument(std::string_view path) {
  FileArgument file;
  file.path = std::string(path);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    file.folder = std::string(".");
    file.name = std::string(path);
  } else {
    file.folder = std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
    file.name = std::string(path.substr(slash + 1));
  }
  if (file.name.empty() || file.name == "." || file.name == "..") {
    return Error{EISDIR, std::string(path) + " does not name a file"};
  }
  return file;
}

Result<UniqueFd> OpenFolderOf(const FileArgument& file) {
  UniqueFd folder(open(file.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.IsOpen()) return Error::FromErrno("open folder " + file.folder);
  return folder;
}

std::string PathInFolder(const FileArgument& file, std::string_view name) {
  const std::size_t slash = file.path.rfind('/');
  if (slash == std::string::npos) return std::string(name);
  return file.path.substr(0, slash + 1) + std::string(name);
}

std::optional<OpenedFile> OpenForChange(const FileArgument& file, std::string_view consequence) {
  Result<UniqueFd> folder = OpenFolderOf(file);
  if (!folder) {
    Complain(Printable(file.path) + ": " + folder.error().Describe());
    return std::nullopt;
  }
  OpenAttempt opened = OpenFileInFolder(folder->Get(), file.name);
  if (opened.outcome != FileOutcome::Done) {
    Complain(Printable(file.path) + ": " + DescribeRefusal(opened.outcome, opened.error) +
             std::string(consequence));
    return std::nullopt;
  }
  return std::move(opened.file);
}

}  // namespace quorvant::cli
