#pragma once

// Broken invariants are programming mistakes: report where and stop at once.
// Never used for conditions a user or the file system can cause.
#define Verify(condition)                                                       \
  do {                                                                          \
    if (!(condition)) ::quorvant::VerifyFailed(#condition, __FILE__, __LINE__); \
  } while (false)

namespace quorvant {

[[noreturn]] void VerifyFailed(const char* condition, const char* file, int line);

}  // namespace quorvant
