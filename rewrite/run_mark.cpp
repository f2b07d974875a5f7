#include "rewrite/run_mark.h"

#include <cerrno>
#include <string>

namespace quorvant {

namespace {

// The mark from what the attribute read gave: `size` and the bytes in `run`.
Result<RunMark> MarkOfRead(ssize_t size, const RunId& run) {
  if (size == static_cast<ssize_t>(run.size())) return RunMark{true, run};
  if (size >= 0 || errno == ENODATA || errno == ERANGE) return RunMark{true, std::nullopt};
  if (MeansNoUserAttributes(errno)) return RunMark{false, std::nullopt};
  return Error::FromErrno("read the run's mark");
}

}  // namespace

Result<RunMark> ReadRunMark(int descriptor, FileCalls& calls) {
  RunId run{};
  return MarkOfRead(calls.GetAttribute(descriptor, RunMarkAttributeName, run.data(), run.size()), run);
}

Result<RunMark> ReadRunMarkAt(int folder, std::string_view name, FileCalls& calls) {
  RunId run{};
  return MarkOfRead(
      calls.GetAttributeAt(folder, std::string(name).c_str(), RunMarkAttributeName, run.data(), run.size()), run);
}

Result<bool> StoreRunMark(int descriptor, const RunId& run, FileCalls& calls) {
  if (calls.SetAttribute(descriptor, RunMarkAttributeName, run.data(), run.size()) != 0) {
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
