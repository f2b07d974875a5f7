#include "base/unique_fd.h"

#include <unistd.h>

#include <utility>

namespace quorvant {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() { return std::exchange(descriptor_, -1); }

void UniqueFd::Reset(int descriptor) {
  // close() is not retried on EINTR: on Linux the descriptor is gone either way.
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = descriptor;
}

}  // namespace quorvant
