#pragma once

// What encrypt and decrypt share: check the files and their names, read the
// key once, then transform each file in place exactly as the window program
// does.

#include "cli/command.h"
#include "crypto/cipher.h"

namespace quorvant::cli {

int TransformFiles(Direction direction, const CommandLine& line, CommandContext& context);

}  // namespace quorvant::cli
