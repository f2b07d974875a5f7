#pragma once

#include <string_view>

namespace quorvant {

// True when the first 8 bytes, upper-cased (ASCII), are "QUORVANT": such
// names are the program's own files (its runs' journals among them). The
// window never lists them and no command takes them as operands, so that a
// glob such as `*` reaches the user's files only.
bool BeginsWithProgramName(std::string_view name);

}  // namespace quorvant
