#pragma once

// What encrypt and decrypt share: check the names, read the key once, then
// transform each file in place exactly as the window program does.

#include <span>
#include <string_view>

#include "cli/command.h"
#include "crypto/cipher.h"

namespace quorvant::cli {

int TransformFiles(Direction direction, std::span<const std::string_view> arguments, CommandContext& context);

}  // namespace quorvant::cli
