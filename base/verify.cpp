#include "base/verify.h"

#include <cstdio>
#include <cstdlib>

namespace quorvant {

void VerifyFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: Verify(%s) failed\n", file, line, condition);
  std::abort();
}

}  // namespace quorvant
