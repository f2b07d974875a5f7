#include "files/own_files.h"

#include <cstddef>

namespace quorvant {

namespace {

constexpr std::string_view ProgramName = "QUORVANT";

}  // namespace

bool BeginsWithProgramName(std::string_view name) {
  if (name.size() < ProgramName.size()) return false;
  for (std::size_t i = 0; i < ProgramName.size(); ++i) {
    char character = name[i];
    if (character >= 'a' && character <= 'z') character = static_cast<char>(character - 'a' + 'A');
    if (character != ProgramName[i]) return false;
  }
  return true;
}

}  // namespace quorvant
