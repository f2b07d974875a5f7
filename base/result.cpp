#include "base/result.h"

#include <cstring>

namespace quorvant {

std::string Error::Describe() const {
  if (code == 0) return action;
  return action + ": " + std::strerror(code);
}

}  // namespace quorvant
