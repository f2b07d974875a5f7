#include "cli/file_argument.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "cli/failure_text.h"
#include "rewrite/journal_file.h"
#include "rewrite/journal_format.h"
#include "files/own_files.h"

namespace quorvant::cli {

namespace {

std::string_view KindOfFile(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a file";
}

// The program's own files (its runs' journals and drafts, and whatever else
// bears its name) are never operands, by the rule that keeps them out of the
// window's listing: a glob such as `*` then reaches the user's files only.
std::optional<std::string_view> OwnFileRefusal(std::string_view name) {
  if (name.starts_with(JournalNamePrefix)) return "a run's journal; not touched";
  if (BeginsWithProgramName(name)) {
    return "Quorvant's own file (its name begins with \"quorvant\"); not touched";
  }
  return std::nullopt;
}

}  // namespace

std::optional<FileArgument> SplitFileArgument(std::string_view path) {
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
  if (file.name.empty() || file.name == "." || file.name == "..") return std::nullopt;
  return file;
}

std::vector<FileArgument> CheckFileArguments(std::span<const std::string_view> paths, Messages& messages) {
  std::vector<FileArgument> files;
  for (std::string_view path : paths) {
    std::optional<FileArgument> file = SplitFileArgument(path);
    if (!file) {
      messages.FileFailure(path, "does not name a file");
      continue;
    }
    struct stat facts {};
    if (lstat(file->path.c_str(), &facts) != 0) {
      messages.FileFailure(path, std::strerror(errno));
    } else if (!S_ISREG(facts.st_mode)) {
      messages.FileFailure(path, "not a regular file (" + std::string(KindOfFile(facts.st_mode)) + ")");
    } else if (const std::optional<std::string_view> refusal = OwnFileRefusal(file->name)) {
      messages.FileFailure(path, *refusal);
    } else {
      file->names = facts.st_nlink;
      files.push_back(std::move(*file));
    }
  }
  return files;
}

std::string PathInFolder(const FileArgument& file, std::string_view name) {
  const std::size_t slash = file.path.rfind('/');
  if (slash == std::string::npos) return std::string(name);
  return file.path.substr(0, slash + 1) + std::string(name);
}

std::optional<OpenedFile> OpenForChange(const FileArgument& file, Messages& messages,
                                        std::string_view consequence) {
  UniqueFd folder(open(file.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.IsOpen()) {
    messages.FileFailure(
        file.path, "cannot open its folder: " + std::string(std::strerror(errno)) + std::string(consequence));
    return std::nullopt;
  }
  FileResult<OpenedFile> opened = OpenFileInFolder(folder.Get(), file.name);
  if (!opened) {
    messages.FileFailure(
        file.path, DescribeFailure(opened.error().outcome, opened.error().error) + std::string(consequence));
    return std::nullopt;
  }
  return std::move(*opened);
}

std::optional<ReadOnlyFile> OpenForReading(const FileArgument& file, Messages& messages) {
  // Even a non-blocking open breaks the lease of a run working on the file,
  // which then stops and undoes itself: a file with a journal is not opened.
  if (HasInterruptedRun(file)) {
    messages.FileFailure(file.path,
                         "busy: a run is encrypting or decrypting it, or one was cut short (" +
                             ResumeCommandFor(file.path, false) + " finishes it)");
    return std::nullopt;
  }
  UniqueFd opened(open(file.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!opened.IsOpen()) {
    messages.FileFailure(file.path, "cannot open: " + std::string(std::strerror(errno)));
    return std::nullopt;
  }
  // The name may have been replaced since it was checked.
  struct stat facts {};
  if (fstat(opened.Get(), &facts) != 0 || !S_ISREG(facts.st_mode)) {
    messages.FileFailure(file.path, "not a regular file");
    return std::nullopt;
  }
  return ReadOnlyFile{std::move(opened), static_cast<std::int64_t>(facts.st_size)};
}

bool HasInterruptedRun(const FileArgument& file) {
  UniqueFd folder(open(file.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  FileCalls calls;
  return folder.IsOpen() && HasJournal(folder.Get(), file.name, calls);
}


std::optional<Admission> AdmitArgument(const FileArgument& file, FileIntent intent, std::string_view consequence,
                                       Clock& clock, Messages& messages, const RefusalWords& words,
                                       CipherFormat format) {
  std::optional<OpenedFile> opened = OpenForChange(file, messages, consequence);
  if (!opened) return std::nullopt;
  FileCalls calls;
  FileResult<Admission> admitted = AdmitFile(*opened, intent, clock, calls, format);
  if (!admitted) {
    const Failure& refused = admitted.error();
    messages.FileFailure(file.path, words ? words(file, refused)
                                                  : DescribeFailure(refused.outcome, refused.error) +
                                                        std::string(consequence));
    return std::nullopt;
  }
  return std::move(*admitted);
}

}  // namespace quorvant::cli
