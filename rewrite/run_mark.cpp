#include "rewrite/run_mark.h"

#include <cerrno>

namespace quorvant {

Result<RunMark> ReadRunMark(int descriptor, FileCalls& calls) {
  RunId run{};
  const ssize_t size = calls.GetAttribute(descriptor, RunMarkAttributeName, run.data(), run.size());
  if (size == static_cast<ssize_t>(run.size())) return RunMark{true, run};
  if (size >= 0 || errno == ENODATA || errno == ERANGE) return RunMark{true, std::nullopt};
  if (MeansNoUserAttributes(errno)) return RunMark{false, std::nullopt};
  return Error::FromErrno("read the run's mark");
}

Status WriteRunMark(int descriptor, const RunId& run, FileCalls& calls) {
  if (calls.SetAttribute(descriptor, RunMarkAttributeName, run.data(), run.size()) != 0) {
    if (MeansNoUserAttributes(errno)) return {};
    return Error::FromErrno("mark the file for its run");
  }
  if (calls.Sync(descriptor) != 0) return Error::FromErrno("sync the run's mark");
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
