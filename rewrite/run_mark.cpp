#include "rewrite/run_mark.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

namespace quorvant {

namespace {

// The run's id, then (since the journal is named for the run) the folder the
// journal was made in, so that a file moved half-done can say where its
// journal is. Marks of the first version hold the id alone.
constexpr std::size_t LongestMark = sizeof(RunId) + 4096;
using MarkBytes = std::array<std::uint8_t, LongestMark>;

// The mark from what the attribute read gave: `size` and the bytes.
Result<RunMark> MarkOfRead(ssize_t size, const MarkBytes& bytes) {
  if (size >= static_cast<ssize_t>(sizeof(RunId))) {
    RunMark mark{true, RunId{}, {}};
    std::memcpy(mark.run->data(), bytes.data(), sizeof(RunId));
    mark.journal_folder.assign(bytes.begin() + sizeof(RunId), bytes.begin() + size);
    return mark;
  }
  if (size >= 0 || errno == ENODATA || errno == ERANGE) return RunMark{true, std::nullopt, {}};
  if (MeansNoUserAttributes(errno)) return RunMark{false, std::nullopt, {}};
  return Error::FromErrno("read the run's mark");
}

// The folder of the file open as `descriptor`, as the system names it now;
// empty when it cannot tell. Only for a person to read.
std::string FolderOf(int descriptor) {
  std::array<char, 4096> path{};
  const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
  const ssize_t size = readlink(link.c_str(), path.data(), path.size());
  if (size <= 0 || static_cast<std::size_t>(size) >= path.size() || path[0] != '/') return {};
  std::string folder(path.data(), static_cast<std::size_t>(size));
  folder.resize(folder.rfind('/'));
  return folder.empty() ? "/" : folder;
}

}  // namespace

Result<RunMark> ReadRunMark(int descriptor, FileCalls& calls) {
  MarkBytes bytes{};
  return MarkOfRead(calls.GetAttribute(descriptor, RunMarkAttributeName, bytes.data(), bytes.size()), bytes);
}

Result<RunMark> ReadRunMarkAt(int folder, std::string_view name, FileCalls& calls) {
  MarkBytes bytes{};
  return MarkOfRead(
      calls.GetAttributeAt(folder, std::string(name).c_str(), RunMarkAttributeName, bytes.data(), bytes.size()),
      bytes);
}

Result<bool> StoreRunMark(int descriptor, const RunId& run, FileCalls& calls) {
  std::string value(run.begin(), run.end());
  value += FolderOf(descriptor);
  if (calls.SetAttribute(descriptor, RunMarkAttributeName, value.data(), value.size()) != 0) {
    if (MeansNoUserAttributes(errno)) return false;
    return Error::FromErrno("mark the file for its run");
  }
  if (calls.Sync(descriptor) != 0) return Error::FromErrno("sync the run's mark");
  return true;
}

Status WriteRunMark(int descriptor, const RunId& run, FileCalls& calls) {
  const Result<bool> stored = StoreRunMark(descriptor, run, calls);
  if (!stored) return stored.error();
  return {};
}

Status ClearRunMark(int descriptor, FileCalls& calls) {
  if (calls.RemoveAttribute(descriptor, RunMarkAttributeName) != 0) {
    if (errno == ENODATA || MeansNoUserAttributes(errno)) return {};
    return Error::FromErrno("clear the run's mark");
  }
  if (calls.Sync(descriptor) != 0) return Error::FromErrno("sync the run's mark");
  return {};
}

}  // namespace quorvant
