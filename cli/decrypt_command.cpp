#include "cli/command.h"
#include "cli/transform_files.h"

namespace quorvant::cli {

// quorvant-cli decrypt FILE...: the name loses its last nine characters.
int DecryptCommand(std::span<const std::string_view> arguments, CommandContext& context) {
  return TransformFiles(Direction::Decrypt, arguments, context);
}

}  // namespace quorvant::cli
