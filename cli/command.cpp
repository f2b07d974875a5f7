#include "cli/command.h"

#include <cstdio>
#include <string>

namespace quorvant::cli {

void Complain(std::string_view message) {
  std::fprintf(stderr, "quorvant-cli: %.*s\n", static_cast<int>(message.size()), message.data());
}

int UsageError(std::string_view message) {
  Complain(message);
  std::fputs("Try 'quorvant-cli --help'.\n", stderr);
  return ExitUsage;
}

}  // namespace quorvant::cli
