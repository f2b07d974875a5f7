#pragma once

#include <cerrno>

namespace quorvant {

// Calls `call` again for as long as it fails with EINTR (a signal arrived
// before it could do anything), and returns its last result. For system calls
// that report failure as a negative value with errno set.
template <typename Call>
auto RetryOnInterrupt(Call call) {
  for (;;) {
    auto result = call();
    if (!(result < 0 && errno == EINTR)) return result;
  }
}

}  // namespace quorvant
